#include "app/win32_event_loop.h"

#include "app/app_state.h"
#include "app/win32_app_state.h"

void DrainAfterEvent() {
    DrainAppSerial();
    gWin32.eventLoop.drainedSinceTick = true;
}

void DrainOnTick() {
    if (!gWin32.eventLoop.drainedSinceTick) DrainAppSerial();
    gWin32.eventLoop.drainedSinceTick = false;
}
