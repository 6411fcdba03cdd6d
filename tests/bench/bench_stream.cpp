#include "tests/bench/bench_stream.h"

#include <cstdio>

constexpr uint32_t kSamplesPerBeat = 50;  // 50 samples/s at 60 bpm
constexpr uint32_t kBeatsPerStatus = 4;   // an X line every fourth beat cycle

// Height of a pulse at step `i` of a beat cycle: a sharp rise, a slower decay,
// a little dither so the digits vary like a real sensor's.
static uint32_t PulseSample(uint32_t i, uint32_t cycle) {
    uint32_t base = 300 + (cycle * 37) % 40;
    uint32_t dither = (i * 7919u + cycle * 104729u) % 23;
    if (i < 6) return base + i * 100 + dither;
    if (i < 30) return base + 600 - (i - 6) * 22 + dither;
    return base + dither;
}

BenchStream MakeBenchStream(uint32_t lineCount) {
    BenchStream stream = {{}, 0, 0};
    char line[32];
    for (uint32_t cycle = 0; stream.lines < lineCount; ++cycle) {
        for (uint32_t i = 0; i < kSamplesPerBeat; ++i) {
            int length = std::snprintf(line, sizeof line, "S%u\r\n", PulseSample(i, cycle));
            stream.bytes.append(line, static_cast<size_t>(length));
            ++stream.lines;
        }
        int length = std::snprintf(line, sizeof line, "B%u\r\n", 62 + (cycle * 13) % 30);
        stream.bytes.append(line, static_cast<size_t>(length));
        ++stream.lines;
        ++stream.beats;
        if (cycle % kBeatsPerStatus == kBeatsPerStatus - 1) {
            stream.bytes.append("Xbat 87%\r\n");
            ++stream.lines;
        }
    }
    return stream;
}
