// Deliberate transmission faults: turns one record text into the exact bytes to send.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "sim_line.h"
#include "sim_options.h"
#include "sim_random.h"

// Fault bits carried by a WireLine, for counting.
enum FaultBit : unsigned {
    kFaultBareLf = 1u << 0,
    kFaultOverlong = 1u << 1,
    kFaultNul = 1u << 2,
    kFaultNoise = 1u << 3,
    kFaultRange = 1u << 4,
    kFaultSplit = 1u << 5,
};

// One line exactly as it goes on the wire.
struct WireLine {
    std::string bytes;         // every byte, line end included
    std::vector<size_t> cuts;  // offsets where a new write() starts (split fault), ascending
    LineKind kind;             // what the receiver makes of it
    std::string text;          // record text as the receiver will echo it (no line end)
    unsigned faults;           // FaultBit set applied to this line
};

// Builds the wire lines for `text` (one, or two when a noise line goes first).
void build_wire_lines(const std::string& text, const FaultRates& rates, SimRng& rng,
                      std::vector<WireLine>& out);
