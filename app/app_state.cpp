#include "app/app_state.h"

#include "serial/drain_serial.h"

AppState gApp = {{}, kClosedLink, {}, {0}, {}};

void DrainAppSerial(uint64_t nowMs) { DrainSerial(gApp.link, gApp.store, gApp.feed, nowMs); }

void ClearAppMeasurements() {
    ClearMeasurements(gApp.store);
    NoteClear(gApp.feed);
}

void WatchAppLink(uint64_t nowMs) {
    WatchLink(gApp.linkWatch, gApp.link, gApp.settings.port, gApp.settings.baudRate, nowMs);
}
