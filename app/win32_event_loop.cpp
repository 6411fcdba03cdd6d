#include "app/win32_event_loop.h"

#include <windows.h>

#include "app/app_state.h"
#include "app/win32_app_state.h"
#include "serial/drain_serial.h"
#include "web/win32_osc_sender.h"
#include "web/win32_web_server.h"

// Drains the device; a beat rate it stored goes to the overlays and over
// OSC at once. Every tick comes through here too, which OSC's repeat and its
// leaving live ride on.
static void Drain() {
    DrainSerial(gApp.link, gApp.store, gApp.feed, GetTickCount64());
    ServeOsc(GetTickCount64());
    DropOldSessionRates(gSession, GetTickCount64());
    ServeWebRates(GetTickCount64());
}

void DrainAfterEvent() {
    Drain();
    gWin32.eventLoop.drainedSinceTick = true;
}

void DrainOnTick() {
    if (!gWin32.eventLoop.drainedSinceTick) Drain();
    gWin32.eventLoop.drainedSinceTick = false;
}
