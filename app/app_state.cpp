#include "app/app_state.h"

#include "serial/drain_serial.h"

AppState gApp = {{}, {0, kNoDevice}, kEmptyLineBuffer, {0, 0}, {0}, false};

void DrainAppSerial() { DrainSerial(gApp.link, gApp.lineBuffer, gApp.store); }

void WatchAppLink(uint64_t nowMs) {
    WatchLink(gApp.linkWatch, gApp.link, gApp.settings.port, gApp.settings.baudRate, nowMs);
}
