#pragma once
// The endpoint's snapshot of the device and the two ways it is shown to
// whoever asks: status.json for tools, the status page for people.
#include <cstdint>

#include "serial/serial_link.h"
#include "settings/settings.h"
#include "store/session_record.h"
#include "store/live_feed.h"
#include "web/text_sink.h"

struct WebSnapshot {
    LinkState state;
    uint32_t port;                // the chosen port, 0 for none
    uint32_t baud;                // the chosen baud rate, 0 for none
    bool hasRate;                 // a beat rate was stored since start
    uint8_t rate;                 // the latest one
    uint64_t rateAgeMs;           // how long ago it was stored
    uint32_t linesPerSecond;      // complete lines in the last whole second
    uint32_t rejectedLines;       // lines that stored nothing, since start
    bool bytesWithoutValidLines;  // bytes arrive, but no line stores anything (a wrong baud rate?)
    uint32_t webPort;             // the endpoint's own port, for the overlay's URL
    SessionSummary session = {};  // the session record's figures (zeros: none held)
};

WebSnapshot TakeWebSnapshot(const LiveFeed& feed, const SerialLink& link, const Settings& settings, uint64_t nowMs);

// {"state":…,"port":…,"baud":…,"rate":…,"rate_age_ms":…,"lines_per_s":…,"rejected_lines":…,
//  "session":{"since":…,"count":…,"min":…,"avg":…,"max":…}}
void PutStatusJson(TextSink& sink, const WebSnapshot& snapshot);

// The device's state in one plain sentence ("COM3 is in use by another program").
void PutStateSentence(TextSink& sink, const WebSnapshot& snapshot);

// The status page for people: the state in words, the latest rate and its
// age, the overlay's URL and how to add it to OBS. Refreshes itself.
void PutStatusPage(TextSink& sink, const WebSnapshot& snapshot);
