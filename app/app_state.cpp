#include "app/app_state.h"

#include "serial/drain_serial.h"

AppState gApp = {{}, kClosedLink, {0, 0}, {0}};

void DrainAppSerial() { DrainSerial(gApp.link, gApp.store); }

void WatchAppLink(uint64_t nowMs) {
    WatchLink(gApp.linkWatch, gApp.link, gApp.settings.port, gApp.settings.baudRate, nowMs);
}
