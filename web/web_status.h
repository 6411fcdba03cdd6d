#pragma once
// The endpoint's snapshot of the device and the two ways it is shown to
// whoever asks: status.json for tools, the status page for people.
#include <cstdint>

#include "serial/port_listing.h"
#include "serial/serial_link.h"
#include "settings/settings.h"
#include "store/session_record.h"
#include "store/live_feed.h"
#include "web/text_sink.h"

// Room for the working folder's name in UTF-8 (a Windows path of up to 260
// characters, some of them several bytes).
constexpr int kFolderTextSize = 800;

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
    bool openFailed = false;      // the latest open failed (openMs says how long it took)
    bool openSlow = false;        // ... and blocked for long first: a Bluetooth port whose device is off?
    uint32_t openMs = 0;          // how long the latest open took
    bool beatFileFailing = false;    // the latest write of bpm.txt did not land
    bool configFileFailing = false;  // the latest save of vintra.config did not land
    char folder[kFolderTextSize] = {};  // where both are written, for the page's hint
    PortListing ports = {};       // the ports that exist, named where the system names them
    SessionSummary session = {};  // the session record's figures (zeros: none held)
};

// Fills the snapshot from the records (web/web_snapshot.cpp); cheap enough
// for every request and every tick. The ports and the folder stay empty.
WebSnapshot TakeWebSnapshot(const LiveFeed& feed, const SerialLink& link, const Settings& settings, uint64_t nowMs);

// Asks the platform for what only the status page and status.json show: the
// ports with their names, and the working folder while a file fails. It
// probes every port number, so the endpoint does it for those two alone.
void AddPortsAndFolder(WebSnapshot& snapshot);

// {"state":…,"port":…,"baud":…,"rate":…,"rate_age_ms":…,"lines_per_s":…,"rejected_lines":…,
//  "open_ms":…,"bpm_file":…,"config_file":…,"ports":[{"port":…,"name":…},…],
//  "session":{"since":…,"count":…,"min":…,"avg":…,"max":…}}
void PutStatusJson(TextSink& sink, const WebSnapshot& snapshot);

// The device's state in one plain sentence ("COM3 is in use by another program").
void PutStateSentence(TextSink& sink, const WebSnapshot& snapshot);

// The status page for people: the state in words, the latest rate and its
// age, files that cannot be written, the serial ports with their names, the
// overlay's URL and how to add it to OBS. Refreshes itself.
void PutStatusPage(TextSink& sink, const WebSnapshot& snapshot);
