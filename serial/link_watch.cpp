#include "serial/link_watch.h"

void WatchLink(LinkWatch& watch, SerialLink& link, uint32_t wantedPort, uint32_t baud, uint64_t nowMs) {
    if (nowMs < watch.nextCheckMs) return;
    watch.nextCheckMs = nowMs + kLinkWatchPeriodMs;

    if (link.device != kNoDevice) {
        if (SerialDeviceHealthy(link.device)) {
            link.proven = true;
        } else {
            LoseDevice(link);
        }
        return;
    }
    if (wantedPort == 0) return;
    uint32_t lostPort = link.lostPort;
    OpenPort(link, wantedPort, baud);
    if (link.device == kNoDevice) return;
    if (SerialDeviceHealthy(link.device)) {
        link.proven = true;
        return;
    }
    // A stale name that opens is as good as no device: still absent, or still gone.
    ClosePort(link);
    link.failure = OpenFailure::Absent;
    link.lostPort = lostPort;
}
