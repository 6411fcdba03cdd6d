#pragma once
// Switches and counters of the host benchmark's echo and "bpm.txt" seam.
#include <cstdint>

struct SinkCounters {
    uint64_t echoes;      // lines echoed
    uint64_t fileWrites;  // rewrites of "bpm.txt"
};

extern SinkCounters gSinkCounters;
extern bool gPosixSinks;  // false: both sinks are no-ops
