// The receiver's limits, and what it makes of each line the simulator sends. Every
// line's kind is known from how it was made (generated, or spoiled by a fault), so
// nothing here decodes a line the way the receiver does.
#pragma once

#include <cstddef>

// Longest line the receiver can hold, line end included.
const size_t kMaxLineBytes = 15;
// Largest values the receiver stores.
const unsigned long kMaxSample = 65534;
const unsigned long kMaxBeatRate = 254;

// What the receiver makes of a line, from the sender's point of view.
enum class LineKind {
    Wellformed,  // S/B in range (stored and echoed) or an X status line (echoed)
    OutOfRange,  // S/B whose value is too large: echoed, not stored
    Overlong,    // too long: the receiver discards it up to its LF
    Noise,       // a burst of random bytes sent as its own line: echoed, not stored
};
