// Decoder throughput: a realistic device stream through the real framing and
// decoding (DrainSerial), read at most 15 bytes at a time as the program reads.
#include <benchmark/benchmark.h>

#include "serial/drain_serial.h"
#include "tests/bench/bench_stream.h"
#include "tests/bench/host_line_sinks.h"
#include "tests/bench/memory_serial_device.h"

// The fastest a 256000-baud line carries: 10 bits per byte (8N1).
constexpr double kFastestLineBytesPerSecond = 25600.0;
constexpr uint32_t kStreamLines = 20000;

// Drains the whole stream once per iteration and reports bytes, lines and the
// multiple of the fastest serial line.
static void DrainStream(benchmark::State& state, bool posixSinks) {
    static const BenchStream stream = MakeBenchStream(kStreamLines);
    gPosixSinks = posixSinks;
    static MeasurementStore store;
    static LiveFeed feed;
    InitMeasurementStore(store);
    SerialLink link = {1, 0, kEmptyLineBuffer, OpenFailure::None, true, 0, 1};
    gSinkCounters = {0, 0};
    for (auto _ : state) {
        RewindMemoryDevice(stream.bytes.data(), stream.bytes.size());
        DrainSerial(link, store, feed, 0);
        benchmark::DoNotOptimize(store.samples.writeIndex);
    }
    // Every line must have gone through the decoder, or the figure means nothing.
    uint64_t runs = static_cast<uint64_t>(state.iterations());
    if (gSinkCounters.echoes != runs * stream.lines || gSinkCounters.fileWrites != runs * stream.beats) {
        state.SkipWithError("the drain did not take every line of the stream");
        return;
    }
    double bytes = static_cast<double>(runs) * static_cast<double>(stream.bytes.size());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["lines_per_s"] =
        benchmark::Counter(static_cast<double>(runs * stream.lines), benchmark::Counter::kIsRate);
    state.counters["x_256000_baud"] =
        benchmark::Counter(bytes / kFastestLineBytesPerSecond, benchmark::Counter::kIsRate);
}

// Echo and "bpm.txt" writes stubbed: the decoder's own cost.
static void BM_DrainStubbedSinks(benchmark::State& state) { DrainStream(state, false); }
BENCHMARK(BM_DrainStubbedSinks)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Echo and "bpm.txt" writes as Linux system calls.
static void BM_DrainPosixSinks(benchmark::State& state) { DrainStream(state, true); }
BENCHMARK(BM_DrainPosixSinks)->Unit(benchmark::kMillisecond)->MinTime(1.0);

BENCHMARK_MAIN();
