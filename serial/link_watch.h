#pragma once
// Keeps the link to the chosen port alive: notices a device that went away
// and picks it up again when it comes back, without the user doing anything.
#include <cstdint>

#include "serial/serial_link.h"

constexpr uint64_t kLinkWatchPeriodMs = 1000;
// After an open that blocked for long (a Bluetooth serial port whose device
// is off), the next try waits: every open blocks the one thread, so the
// window, the overlay and the keys would stall for most of every second.
constexpr uint32_t kFirstSlowRetryMs = 30000;
constexpr uint32_t kLongestSlowRetryMs = 300000;
// The wait is also at least this many times the open's duration, so opens
// take at most a tenth of any minute however long each one blocks.
constexpr uint32_t kSlowRetryPerOpenTime = 9;

struct LinkWatch {
    uint64_t nextCheckMs = 0;  // when the next health check or reopen attempt is due
    uint64_t nextOpenMs = 0;   // no reopen before this: the wait after a slow open
    uint32_t slowRetryMs = 0;  // the latest back-off step after a slow open; 0 after a quick one
    uint32_t opensSeen = 0;    // the link's open count the watch last planned from
};

// Called from the event loop with a millisecond clock; acts about once a
// second. An open device that fails its health check is closed; while the
// link is closed, the wanted port is tried again with its baud rate. A port
// that opens but whose line state cannot be read counts as not opened.
// A failed open that took over kSlowOpenMs is next tried kFirstSlowRetryMs
// later, doubling up to kLongestSlowRetryMs; an open made elsewhere (start-up,
// the user's choice) starts that sequence afresh.
void WatchLink(LinkWatch& watch, SerialLink& link, uint32_t wantedPort, uint32_t baud, uint64_t nowMs);
