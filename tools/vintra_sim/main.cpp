// vintra-sim: a simulated heart-rate measuring device speaking the S/B line protocol.
#include <cstdio>
#include <ctime>
#include <string>
#include <unistd.h>

#include "sim_clock.h"
#include "sim_emit.h"
#include "sim_options.h"
#include "sim_report.h"
#include "sim_run.h"
#include "sim_signals.h"
#include "sim_sink.h"

namespace {

// Words for the summary line.
const char* end_text(RunEnd end) {
    switch (end) {
    case RunEnd::Finished: return "finished";
    case RunEnd::Signalled: return "stopped by signal";
    case RunEnd::ReaderGone: return "reader closed the output";
    case RunEnd::WriteFailed: return "write failed";
    }
    return "ended";
}


// A seed for runs that did not ask for one; printed in the summary so they can be repeated.
unsigned long long clock_seed() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<unsigned long long>(ts.tv_sec) * 1000003ull ^
           static_cast<unsigned long long>(ts.tv_nsec) ^ static_cast<unsigned long long>(getpid());
}

// Opens a log for appending, if one was asked for; false (reported) when it cannot be.
bool open_log(const std::string& path, FILE*& log) {
    if (path.empty()) return true;
    log = std::fopen(path.c_str(), "a");
    if (log == nullptr) std::perror(("vintra-sim: " + path).c_str());
    return log != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions opt;
    std::string error;
    const ParseResult parsed = parse_options(argc, argv, opt, error);
    if (parsed == ParseResult::Help) {
        std::fputs(usage_text(), stdout);
        return 0;
    }
    if (parsed == ParseResult::Error) {
        std::fprintf(stderr, "vintra-sim: %s\n%s", error.c_str(), usage_text());
        return 2;
    }
    if (!opt.seed_given) opt.seed = clock_seed();

    install_stop_handlers();
    if (!sink_open(opt, error)) {
        std::fprintf(stderr, "vintra-sim: %s\n", error.c_str());
        sink_close();
        return 1;
    }
    if (opt.sink == SinkKind::Pty) {
        // The harness learns where to connect from this first line.
        std::printf("%s\n", g_sink.slave_path.c_str());
        std::fflush(stdout);
    }
    g_emit.fd = g_sink.fd;
    g_emit.faults = opt.faults;
    // A stream of its own, so switching faults on leaves the waveform of a seed unchanged.
    g_emit.rng.seed(opt.seed ^ 0x9e3779b97f4a7c15ull);
    if (!open_log(opt.wellformed_log, g_emit.wellformed_log) || !open_log(opt.echoed_log, g_emit.echoed_log)) {
        sink_close();
        return 1;
    }

    if (opt.start_delay > 0) sleep_until(mono_seconds() + opt.start_delay);
    run_begin();
    RunEnd end = RunEnd::Signalled;
    if (!stop_requested()) end = run_timed(opt);
    const double elapsed = run_elapsed();

    emit_flush_log();
    if (g_emit.wellformed_log != nullptr) std::fclose(g_emit.wellformed_log);
    if (g_emit.echoed_log != nullptr) std::fclose(g_emit.echoed_log);
    if (!opt.count_file.empty()) write_count_file(opt.count_file, g_emit.counts, elapsed);
    std::fprintf(stderr, "%s\n", summary_line(g_emit.counts, elapsed, opt.seed, end_text(end)).c_str());
    if (end == RunEnd::Finished) sink_linger(opt.linger);
    sink_close();
    // 0 for a normal end, 1 for a broken sink (2 is a bad command line).
    return end == RunEnd::WriteFailed ? 1 : 0;
}
