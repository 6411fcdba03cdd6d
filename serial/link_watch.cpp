#include "serial/link_watch.h"

void WatchLink(LinkWatch& watch, SerialLink& link, uint32_t wantedPort, uint32_t baud, uint64_t nowMs) {
    if (nowMs < watch.nextCheckMs) return;
    watch.nextCheckMs = nowMs + kLinkWatchPeriodMs;

    if (link.device != kNoDevice) {
        if (!SerialDeviceHealthy(link.device)) ClosePort(link);
        return;
    }
    if (wantedPort == 0) return;
    OpenPort(link, wantedPort, baud);
    if (link.device != kNoDevice && !SerialDeviceHealthy(link.device)) ClosePort(link);
}
