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

// Adds a line that went out completely to the counters and the log.
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
        if (g_emit.wellformed_log != nullptr) {
            std::fwrite(w.text.data(), 1, w.text.size(), g_emit.wellformed_log);
            std::fputc('\n', g_emit.wellformed_log);
        }
        break;
    case LineKind::OutOfRange: ++c.out_of_range_sent; break;
    case LineKind::Other: ++c.other_sent; break;
    case LineKind::Noise: ++c.noise_sent; break;
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
}
