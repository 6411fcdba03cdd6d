#pragma once
// The news of the device beyond the rings: how lines arrive, when the latest
// beat rate came and on which connection, and what is new since the outputs'
// last tick. The drain feeds it with a millisecond clock; the stream outputs
// (event stream, WebSocket, OSC) read it, the window and "bpm.txt" never do.
#include <cstdint>

#include "serial/record_decoder.h"
#include "serial/serial_link.h"
#include "store/session_record.h"

// A beat rate younger than this is live: the device sends one with every
// beat, so 5 s without one means leads off, finger off or a stopped device.
constexpr uint64_t kLiveRateMs = 5000;
// What one tick can carry to the event stream. A stall longer than these
// (the program busy elsewhere) loses the oldest of them, never more memory.
constexpr uint32_t kTickSampleLimit = 1024;
constexpr uint32_t kTickRateLimit = 64;

struct LiveFeed {
    bool hasRate;              // a beat rate was stored since start
    uint8_t rate;              // the latest stored beat rate
    uint64_t rateMs;           // when it was stored
    uint32_t rateConnection;   // the link's connection it arrived on
    uint32_t rateSerial;       // rates stored since start, never reset: each output keeps its own place
    uint64_t lineSecond;       // the clock's second that linesInSecond counts
    uint32_t linesInSecond;    // complete lines received in that second
    uint32_t linesPrevSecond;  // complete lines received in the second before it
    uint32_t rejectedLines;    // lines that stored nothing (unknown, bad, out of range, overlong), since start
    bool bytesSeen;            // bytes ever arrived
    uint64_t bytesMs;          // when bytes last arrived
    bool recordSeen;           // a line ever stored a sample or a rate
    uint64_t recordMs;         // when a line last did
    uint32_t samplesHeld;      // ring samples received since start or the last clear (at most the ring's size)
    uint32_t ratesHeld;        // ring rates received since start or the last clear
    bool cleared;              // the rings were cleared since the last tick
    uint32_t newSampleCount;   // samples stored since the last tick; the last kTickSampleLimit are kept
    uint16_t newSamples[kTickSampleLimit];  // ... at newSampleCount % kTickSampleLimit, round and round
    uint32_t newRateCount;     // rates stored since the last tick
    uint8_t newRates[kTickRateLimit];       // ... kept like the samples
    SessionRecord* session;    // where every stored rate is also kept with its time (null: nowhere)
    bool beatFileFailing = false;           // the latest write of "bpm.txt" did not land
};

// The state word every web output shows.
enum class LinkState { NoPort, Absent, Busy, Live, Stale, Gone };

// Where the tick's kept news starts in its round buffer and how many values
// it holds: the last kTickSampleLimit samples, the last kTickRateLimit rates.
struct NewsWindow {
    uint32_t start;  // slot of the oldest value kept
    uint32_t count;  // values kept, oldest first from `start`, round and round
};
NewsWindow NewSamples(const LiveFeed& feed);
NewsWindow NewRates(const LiveFeed& feed);

// Bytes arrived from the device.
void NoteBytes(LiveFeed& feed, uint64_t nowMs);

// One complete line was received and decoded as `record` (stored unless Ignored).
void NoteLine(LiveFeed& feed, const Record& record, uint32_t connection, uint64_t nowMs);

// One line too long to be anything was dropped.
void NoteOverlongLine(LiveFeed& feed, uint64_t nowMs);

// The user cleared the rings.
void NoteClear(LiveFeed& feed);

// Forgets what was new, after the endpoint's tick has sent it.
void StartNextTick(LiveFeed& feed);

// Forgets the new rates and a clear, after they were sent ahead of the tick
// (the new samples stay for it).
void RatesSent(LiveFeed& feed);

// Complete lines received in the last whole second.
uint32_t LinesPerSecond(const LiveFeed& feed, uint64_t nowMs);

// The state word's rules: no port chosen; a link that is open is live while
// a rate that came on this connection is younger than kLiveRateMs, otherwise
// stale; a closed link is gone when its device went away, busy when the last
// open was refused because another program holds the port, else absent.
LinkState CurrentLinkState(const LiveFeed& feed, const SerialLink& link, uint32_t chosenPort, uint64_t nowMs);

// The state as its word: no-port absent busy live stale gone.
const char* LinkStateWord(LinkState state);

// Bytes arrived within kLiveRateMs but none of them made a line that stored
// anything: the classic sign of a wrong baud rate.
bool BytesWithoutValidLines(const LiveFeed& feed, uint64_t nowMs);
