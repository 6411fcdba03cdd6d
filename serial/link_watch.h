#pragma once
// Keeps the link to the chosen port alive: notices a device that went away
// and picks it up again when it comes back, without the user doing anything.
#include <cstdint>

#include "serial/serial_link.h"

constexpr uint64_t kLinkWatchPeriodMs = 1000;

struct LinkWatch {
    uint64_t nextCheckMs;  // when the next health check or reopen attempt is due
};

// Called from the event loop with a millisecond clock; acts about once a
// second. An open device that fails its health check is closed; while the
// link is closed, the wanted port is tried again with its baud rate. A port
// that opens but whose line state cannot be read counts as not opened.
void WatchLink(LinkWatch& watch, SerialLink& link, uint32_t wantedPort, uint32_t baud, uint64_t nowMs);
