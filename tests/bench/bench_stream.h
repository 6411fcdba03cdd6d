#pragma once
// A deterministic byte stream that looks like a real device's: a pulse-shaped
// signal of S lines, one B line per fifty of them, and now and then an X
// status line, all ended with CR LF. Shared by the host and Windows benchmarks.
#include <cstdint>
#include <string>

struct BenchStream {
    std::string bytes;  // the whole stream
    uint32_t lines;     // lines in it
    uint32_t beats;     // B lines among them
};

// About `lineCount` lines (rounded up to whole beat cycles).
BenchStream MakeBenchStream(uint32_t lineCount);
