#include "serial/link_watch.h"

// Decides when the next reopen may run, from the open the link made last,
// which ended at `endedMs`. A quick failure keeps the once-a-second retry.
static void PlanReopen(LinkWatch& watch, const SerialLink& link, uint64_t endedMs) {
    watch.opensSeen = link.opens;
    if (link.device != kNoDevice || link.openMs <= kSlowOpenMs) {
        watch.slowRetryMs = 0;
        watch.nextOpenMs = 0;
        return;
    }
    uint32_t doubled = watch.slowRetryMs > kLongestSlowRetryMs / 2 ? kLongestSlowRetryMs : 2 * watch.slowRetryMs;
    watch.slowRetryMs = watch.slowRetryMs == 0 ? kFirstSlowRetryMs : doubled;
    uint64_t share = static_cast<uint64_t>(kSlowRetryPerOpenTime) * link.openMs;
    watch.nextOpenMs = endedMs + (share > watch.slowRetryMs ? share : watch.slowRetryMs);
}

void WatchLink(LinkWatch& watch, SerialLink& link, uint32_t wantedPort, uint32_t baud, uint64_t nowMs) {
    if (link.opens != watch.opensSeen) {
        watch.slowRetryMs = 0;
        PlanReopen(watch, link, nowMs);
    }
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
    if (wantedPort == 0 || nowMs < watch.nextOpenMs) return;
    uint32_t lostPort = link.lostPort;
    OpenPort(link, wantedPort, baud);
    if (link.device != kNoDevice) {
        if (SerialDeviceHealthy(link.device)) {
            link.proven = true;
        } else {
            // A stale name that opens is as good as no device: still absent, or still gone.
            ClosePort(link);
            link.failure = link.openMs > kSlowOpenMs ? OpenFailure::Slow : OpenFailure::Absent;
            link.lostPort = lostPort;
        }
    }
    PlanReopen(watch, link, nowMs + link.openMs);
}
