// How the receiver will treat a line: the protocol's limits and a classifier that
// mirrors the receiver's framing and decoding rules.
#pragma once

#include <cstddef>
#include <string>

// Longest line the receiver can hold, line end included.
const size_t kMaxLineBytes = 15;
// Largest values the receiver stores.
const unsigned long kMaxSample = 65534;
const unsigned long kMaxBeatRate = 254;

// What the receiver makes of a line, from the sender's point of view.
enum class LineKind {
    Wellformed,  // S/B in range (stored and echoed) or an X status line (echoed)
    OutOfRange,  // S/B whose value is too large: echoed, not stored
    Other,       // anything else that fits: echoed, nothing stored
    Overlong,    // too long: the receiver discards it up to its LF
    Noise,       // a burst of random bytes sent as its own line: echoed, not stored
};

// Classifies the record text (no line end) sent with `line_end_bytes` of CR/LF after it.
LineKind classify_line(const std::string& text, size_t line_end_bytes);
