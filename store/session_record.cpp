#include "store/session_record.h"

void StartSession(SessionRecord& record, uint32_t capacity, uint64_t nowMs, int64_t wallMs) {
    record.capacity = capacity < kSessionSlots ? capacity : kSessionSlots;
    record.firstSerial = record.endSerial;  // serials go on, so a download can tell its rows are gone
    record.startMs = nowMs;
    record.startWallMs = wallMs;
    record.lastMs = nowMs;
}

// The monotonic time of held entry `serial`. Entries keep 32 bits of their
// time after the start; all of them lie within 24 h of the newest, so the
// newest's full time and the 32-bit difference give theirs exactly, also
// after a session longer than the 49 days 32 bits can count.
static uint64_t EntryMs(const SessionRecord& record, uint64_t serial) {
    uint32_t newest = static_cast<uint32_t>(record.lastMs - record.startMs);
    uint32_t before = newest - record.sinceStart[serial % record.capacity];
    return record.lastMs - before;
}

void DropOldSessionRates(SessionRecord& record, uint64_t nowMs) {
    while (record.firstSerial < record.endSerial && nowMs - EntryMs(record, record.firstSerial) > kSessionSpanMs)
        ++record.firstSerial;
}

void AppendSessionRate(SessionRecord& record, uint8_t bpm, uint64_t nowMs) {
    if (record.capacity == 0) return;
    DropOldSessionRates(record, nowMs);
    if (record.endSerial - record.firstSerial == record.capacity) ++record.firstSerial;
    uint32_t slot = static_cast<uint32_t>(record.endSerial % record.capacity);
    record.sinceStart[slot] = static_cast<uint32_t>(nowMs - record.startMs);
    record.bpm[slot] = bpm;
    record.lastMs = nowMs;
    ++record.endSerial;
}

int64_t SessionRateWallMs(const SessionRecord& record, uint64_t serial) {
    // The wall clock at the start plus the monotonic time since: rows never
    // go backwards when the clock is set during a stream.
    return record.startWallMs + static_cast<int64_t>(EntryMs(record, serial) - record.startMs);
}

uint8_t SessionRate(const SessionRecord& record, uint64_t serial) { return record.bpm[serial % record.capacity]; }

SessionSummary SummarizeSession(const SessionRecord& record) {
    SessionSummary summary = {};
    summary.startWallMs = record.startWallMs;
    uint64_t count = record.endSerial - record.firstSerial;
    if (count == 0) return summary;
    summary.count = static_cast<uint32_t>(count);
    summary.min = 255;
    summary.sinceWallMs = SessionRateWallMs(record, record.firstSerial);
    summary.chartCount = count < kChartPoints ? static_cast<uint32_t>(count) : kChartPoints;
    uint64_t sum = 0;
    uint32_t point = 0;
    uint64_t pointSum = 0;
    uint64_t pointCount = 0;
    for (uint64_t i = 0; i < count; ++i) {
        uint8_t bpm = SessionRate(record, record.firstSerial + i);
        sum += bpm;
        if (bpm < summary.min) summary.min = bpm;
        if (bpm > summary.max) summary.max = bpm;
        pointSum += bpm;
        ++pointCount;
        // Point p covers the held rates [p * count / points, (p + 1) * count / points).
        if ((i + 1) * summary.chartCount >= (point + 1) * count) {
            summary.chart[point++] = static_cast<uint8_t>((pointSum + pointCount / 2) / pointCount);
            pointSum = pointCount = 0;
        }
    }
    summary.avgTenths = static_cast<uint32_t>((sum * 10 + count / 2) / count);
    return summary;
}
