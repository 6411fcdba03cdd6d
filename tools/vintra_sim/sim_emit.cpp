// Line sending for vintra-sim.
#include "sim_emit.h"

#include <ctime>
#include <vector>

#include "sim_faults.h"

EmitState g_emit;

namespace {

// Pause between the pieces of a split line, long enough that they arrive in separate reads.
void split_pause() {
    if (!g_emit.split_pauses) return;
    const long us = rng_int(g_emit.rng, 1000, 5000);
    struct timespec ts = {0, us * 1000L};
    nanosleep(&ts, nullptr);
}

// Writes one wire line, piece by piece when it was split.
WriteStatus write_wire_line(const WireLine& w) {
    size_t from = 0;
    for (size_t k = 0; k <= w.cuts.size(); ++k) {
        const size_t to = k < w.cuts.size() ? w.cuts[k] : w.bytes.size();
        if (k > 0) split_pause();
        const WriteStatus st = sink_write_all(g_emit.fd, w.bytes.data() + from, to - from);
        if (st != WriteStatus::Ok) return st;
        g_emit.counts.bytes_sent += to - from;
        from = to;
    }
    return WriteStatus::Ok;
}

// Appends a line to a log, if there is one: its text after `prefix`, then LF.
void log_line(FILE* log, const char* prefix, const std::string& text) {
    if (log == nullptr) return;
    std::fputs(prefix, log);
    std::fwrite(text.data(), 1, text.size(), log);
    std::fputc('\n', log);
}

// Adds a line that went out completely to the counters and the logs.
void account(const WireLine& w) {
    SimCounts& c = g_emit.counts;
    ++c.lines_sent;
    for (unsigned bit = w.faults; bit != 0; bit &= bit - 1) ++c.faults_injected;
    if (w.faults & kFaultBareLf) ++c.bare_lf_sent;
    if (w.faults & kFaultSplit) ++c.split_sent;
    if (w.faults & kFaultNul) ++c.nul_sent;
    switch (w.kind) {
    case LineKind::Wellformed:
        ++c.wellformed_sent;
        if (w.text[0] == 'S') ++c.s_sent;
        else if (w.text[0] == 'B') ++c.b_sent;
        else ++c.x_sent;
        log_line(g_emit.wellformed_log, "", w.text);
        log_line(g_emit.echoed_log, "W ", w.text);
        break;
    case LineKind::OutOfRange:
        ++c.out_of_range_sent;
        log_line(g_emit.echoed_log, "R ", w.text);
        break;
    case LineKind::Noise:
        ++c.noise_sent;
        log_line(g_emit.echoed_log, "N ", w.text);
        break;
    case LineKind::Overlong: ++c.overlong_sent; break;
    }
}

}  // namespace

WriteStatus emit_text_line(const std::string& text) {
    std::vector<WireLine> lines;
    build_wire_lines(text, g_emit.faults, g_emit.rng, lines);
    for (const WireLine& w : lines) {
        const WriteStatus st = write_wire_line(w);
        if (st != WriteStatus::Ok) return st;
        account(w);
    }
    return WriteStatus::Ok;
}

void emit_flush_log() {
    if (g_emit.wellformed_log != nullptr) std::fflush(g_emit.wellformed_log);
    if (g_emit.echoed_log != nullptr) std::fflush(g_emit.echoed_log);
}
