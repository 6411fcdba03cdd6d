#pragma once
// Every beat rate of this run with the time it came, for the record after a
// stream: the last 24 hours at most, oldest dropped first, in memory only.
// Delete starts a new session.
#include <cstdint>

// How far back the record reaches.
constexpr uint64_t kSessionSpanMs = 24ull * 60 * 60 * 1000;
// A device sends one B line per beat, and a line carries at most 254 bpm:
// 4.23 rates a second. 24 h of 4.25 a second is 367,200 entries of 5 bytes
// (1.8 MB), reserved once in static storage, never grown. A device that
// sends faster than a heart can beat fills it sooner; the oldest still go
// first.
constexpr uint32_t kSessionSlots = 86400u * 17u / 4u;
// Points of the status page's chart of the session.
constexpr uint32_t kChartPoints = 120;

struct SessionRecord {
    uint32_t capacity;     // 0 until start-up sets it; all index math divides by it
    uint64_t firstSerial;  // serial number of the oldest entry held (entry n sits in slot n % capacity)
    uint64_t endSerial;    // serial number the next entry gets: endSerial - firstSerial are held
    uint64_t startMs;      // the monotonic clock when the session started (start-up or Delete)
    int64_t startWallMs;   // the wall clock then, in ms since 1970 UTC
    uint64_t lastMs;       // the monotonic clock of the newest entry
    uint32_t sinceStart[kSessionSlots];  // each entry's ms after startMs, modulo 2^32: 4 bytes rather than 8
    uint8_t bpm[kSessionSlots];          // each entry's beat rate
};

// What the status outputs show of the session.
struct SessionSummary {
    uint32_t count;               // rates held
    uint8_t min;                  // the lowest of them (count > 0)
    uint8_t max;                  // the highest
    uint32_t avgTenths;           // their mean in tenths of a bpm, rounded
    int64_t sinceWallMs;          // the oldest one's wall time
    int64_t startWallMs;          // when the session started
    uint32_t chartCount;          // points in `chart` (fewer than kChartPoints while fewer rates are held)
    uint8_t chart[kChartPoints];  // the mean of each of chartCount equal runs of the held rates, oldest first
};

// Empties the record and starts a session at `nowMs` on the monotonic clock,
// `wallMs` on the wall clock, holding at most `capacity` (<= kSessionSlots) rates.
void StartSession(SessionRecord& record, uint32_t capacity, uint64_t nowMs, int64_t wallMs);

// Keeps one stored rate, dropping the oldest when full or older than 24 h.
void AppendSessionRate(SessionRecord& record, uint8_t bpm, uint64_t nowMs);

// Drops the rates older than 24 h at `nowMs`, also while no new rate comes.
void DropOldSessionRates(SessionRecord& record, uint64_t nowMs);

// The wall time (ms since 1970 UTC) of held entry `serial`.
int64_t SessionRateWallMs(const SessionRecord& record, uint64_t serial);

// The beat rate of held entry `serial`.
uint8_t SessionRate(const SessionRecord& record, uint64_t serial);

// The figures and the chart of the rates held; one pass over them.
SessionSummary SummarizeSession(const SessionRecord& record);
