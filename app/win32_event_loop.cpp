#include "app/win32_event_loop.h"

#include "app/app_state.h"

EventLoopState gEventLoop;

void DrainAfterEvent() {
    DrainAppSerial();
    gEventLoop.drainedSinceTick = true;
}

void DrainOnTick() {
    if (!gEventLoop.drainedSinceTick) DrainAppSerial();
    gEventLoop.drainedSinceTick = false;
}
