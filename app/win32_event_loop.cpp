#include "app/win32_event_loop.h"

#include <windows.h>

#include "app/app_state.h"

EventLoopState gEventLoop;

void DrainAfterEvent() {
    DrainAppSerial(GetTickCount64());
    gEventLoop.drainedSinceTick = true;
}

void DrainOnTick() {
    if (!gEventLoop.drainedSinceTick) DrainAppSerial(GetTickCount64());
    gEventLoop.drainedSinceTick = false;
}
