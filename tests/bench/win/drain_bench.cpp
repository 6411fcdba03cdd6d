// The decoder with the platform's real echo (OutputDebugStringA twice a line)
// and real "bpm.txt" rewrites, fed from memory as the host benchmark is.
// Run in a scratch folder: it writes bpm.txt there. Prints lines per second
// (wall clock) and this process's CPU time per line; under Wine each echo also
// costs the server a request, which shows in neither.
#include <windows.h>

#include <cstdio>

#include "serial/drain_serial.h"
#include "tests/bench/bench_stream.h"
#include "tests/bench/memory_serial_device.h"
#include "tests/bench/win/bench_timing.h"

constexpr uint32_t kStreamLines = 20000;
constexpr int kRuns = 5;

int main() {
    BenchStream stream = MakeBenchStream(kStreamLines);
    static MeasurementStore store;
    static LiveFeed feed;
    InitMeasurementStore(store);
    SerialLink link = {1, 0, kEmptyLineBuffer, OpenFailure::None, true, 0, 1};
    double runs[kRuns];
    double cpuStart = ProcessCpuMicroseconds();
    for (int run = 0; run < kRuns; ++run) {
        RewindMemoryDevice(stream.bytes.data(), stream.bytes.size());
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        DrainSerial(link, store, feed, 0);
        runs[run] = MicrosecondsSince(start);
    }
    double cpuPerLine = (ProcessCpuMicroseconds() - cpuStart) / (kRuns * stream.lines);
    double median = Median(runs, kRuns);
    double linesPerSecond = stream.lines / (median / 1e6);
    std::printf("lines %u\nbytes %u\n", stream.lines, static_cast<unsigned>(stream.bytes.size()));
    std::printf("drain_real_sinks_lines_per_s %.0f\n", linesPerSecond);
    std::printf("drain_real_sinks_us_per_line %.2f\n", median / stream.lines);
    std::printf("drain_real_sinks_cpu_us_per_line %.2f\n", cpuPerLine);
    std::printf("drain_real_sinks_bytes_per_s %.0f\n", stream.bytes.size() / (median / 1e6));
    return 0;
}
