#include "app/win32_event_loop.h"

#include <windows.h>

#include "app/app_state.h"
#include "app/win32_app_state.h"
#include "serial/drain_serial.h"

void DrainAfterEvent() {
    DrainSerial(gApp.link, gApp.store, gApp.feed, GetTickCount64());
    gWin32.eventLoop.drainedSinceTick = true;
}

void DrainOnTick() {
    if (!gWin32.eventLoop.drainedSinceTick) DrainSerial(gApp.link, gApp.store, gApp.feed, GetTickCount64());
    gWin32.eventLoop.drainedSinceTick = false;
}
