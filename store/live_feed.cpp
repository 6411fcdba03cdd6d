#include "store/live_feed.h"

#include "store/measurement_store.h"

static bool Within(bool seen, uint64_t atMs, uint64_t nowMs, uint64_t spanMs) {
    return seen && nowMs - atMs < spanMs;
}

void NoteBytes(LiveFeed& feed, uint64_t nowMs) {
    feed.bytesSeen = true;
    feed.bytesMs = nowMs;
}

// Counts one complete line in its clock second.
static void CountLine(LiveFeed& feed, uint64_t nowMs) {
    uint64_t second = nowMs / 1000;
    if (second != feed.lineSecond) {
        feed.linesPrevSecond = second == feed.lineSecond + 1 ? feed.linesInSecond : 0;
        feed.linesInSecond = 0;
        feed.lineSecond = second;
    }
    ++feed.linesInSecond;
}

void NoteLine(LiveFeed& feed, const Record& record, uint32_t connection, uint64_t nowMs) {
    CountLine(feed, nowMs);
    switch (record.kind) {
        case RecordKind::Ignored:
            ++feed.rejectedLines;
            return;
        case RecordKind::Sample:
            if (feed.samplesHeld < kSampleSlots) ++feed.samplesHeld;
            feed.newSamples[feed.newSampleCount++ % kTickSampleLimit] = static_cast<uint16_t>(record.value);
            break;
        case RecordKind::BeatRate:
            if (feed.ratesHeld < kBeatSlots) ++feed.ratesHeld;
            feed.newRates[feed.newRateCount++ % kTickRateLimit] = static_cast<uint8_t>(record.value);
            feed.hasRate = true;
            feed.rate = static_cast<uint8_t>(record.value);
            feed.rateMs = nowMs;
            feed.rateConnection = connection;
            ++feed.rateSerial;
            if (feed.session != nullptr) AppendSessionRate(*feed.session, feed.rate, nowMs);
            break;
    }
    feed.recordSeen = true;
    feed.recordMs = nowMs;
}

void NoteOverlongLine(LiveFeed& feed, uint64_t nowMs) {
    CountLine(feed, nowMs);
    ++feed.rejectedLines;
}

void NoteClear(LiveFeed& feed) {
    feed.samplesHeld = 0;
    feed.ratesHeld = 0;
    feed.newSampleCount = 0;
    feed.newRateCount = 0;
    feed.cleared = true;
}

void StartNextTick(LiveFeed& feed) {
    feed.newSampleCount = 0;
    feed.newRateCount = 0;
    feed.cleared = false;
}

void RatesSent(LiveFeed& feed) {
    feed.newRateCount = 0;
    feed.cleared = false;
}

uint32_t LinesPerSecond(const LiveFeed& feed, uint64_t nowMs) {
    uint64_t second = nowMs / 1000;
    if (second == feed.lineSecond) return feed.linesPrevSecond;
    if (second == feed.lineSecond + 1) return feed.linesInSecond;
    return 0;
}

LinkState CurrentLinkState(const LiveFeed& feed, const SerialLink& link, uint32_t chosenPort, uint64_t nowMs) {
    if (chosenPort == 0) return LinkState::NoPort;
    if (link.device != kNoDevice) {
        // A rate from before a replug says nothing about the device now.
        bool fresh = feed.rateConnection == link.connection && Within(feed.hasRate, feed.rateMs, nowMs, kLiveRateMs);
        return fresh ? LinkState::Live : LinkState::Stale;
    }
    if (link.lostPort != 0 && link.lostPort == chosenPort) return LinkState::Gone;
    return link.failure == OpenFailure::Busy ? LinkState::Busy : LinkState::Absent;
}

const char* LinkStateWord(LinkState state) {
    switch (state) {
        case LinkState::NoPort: return "no-port";
        case LinkState::Absent: return "absent";
        case LinkState::Busy: return "busy";
        case LinkState::Live: return "live";
        case LinkState::Stale: return "stale";
        case LinkState::Gone: return "gone";
    }
    return "absent";
}

bool BytesWithoutValidLines(const LiveFeed& feed, uint64_t nowMs) {
    return Within(feed.bytesSeen, feed.bytesMs, nowMs, kLiveRateMs) &&
           !Within(feed.recordSeen, feed.recordMs, nowMs, kLiveRateMs);
}

static NewsWindow KeptNews(uint32_t stored, uint32_t limit) {
    uint32_t count = stored < limit ? stored : limit;
    return {RingWindowStart(stored % limit, limit, count), count};
}

NewsWindow NewSamples(const LiveFeed& feed) { return KeptNews(feed.newSampleCount, kTickSampleLimit); }

NewsWindow NewRates(const LiveFeed& feed) { return KeptNews(feed.newRateCount, kTickRateLimit); }
