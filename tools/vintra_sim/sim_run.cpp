// Real-time generation loop.
#include "sim_run.h"

#include <algorithm>
#include <vector>

#include "sim_clock.h"
#include "sim_emit.h"
#include "sim_signals.h"
#include "sim_waveform.h"

RunState g_run;

namespace {

// Shortest sleep between batches: at high rates several lines go out per wake-up
// instead of one sleep per line, while their timing stays exact on average.
const double kMinTick = 0.001;

}  // namespace

void run_begin() { g_run.start = mono_seconds(); }

double run_elapsed() { return mono_seconds() - g_run.start; }

void run_tick() {
    emit_flush_log();
    sink_discard_input();
}

RunEnd run_end_for(WriteStatus status) {
    switch (status) {
    case WriteStatus::Ok:
    case WriteStatus::Stopped: return RunEnd::Signalled;
    case WriteStatus::TimedOut: return RunEnd::Finished;
    case WriteStatus::Closed: return RunEnd::ReaderGone;
    case WriteStatus::Failed: return RunEnd::WriteFailed;
    }
    return RunEnd::WriteFailed;
}

RunEnd run_timed(const SimOptions& opt) {
    GenState gen;
    gen_init(gen, GenConfig{opt.rate, opt.bpm, opt.status_every, opt.seed});
    const bool bounded = opt.duration >= 0;
    // A reader that never drains must not keep a bounded run alive past its end.
    if (bounded) g_sink.give_up_at = g_run.start + opt.duration;
    std::vector<TimedLine> due;
    for (;;) {
        if (stop_requested()) return RunEnd::Signalled;
        const double now = run_elapsed();
        const bool last = bounded && now >= opt.duration;
        due.clear();
        // Lines are stamped on an exact time grid; whatever is due goes out now, so a
        // late wake-up or a slow reader only delays lines, never drops or adds any.
        gen_collect(gen, last ? opt.duration : now, due);
        for (const TimedLine& line : due) {
            const WriteStatus st = emit_text_line(line.text);
            if (st != WriteStatus::Ok) return run_end_for(st);
        }
        run_tick();
        if (last) return RunEnd::Finished;
        double next = std::max(gen_next_due(gen), now + kMinTick);
        if (bounded) next = std::min(next, opt.duration);
        sleep_until(g_run.start + next);
    }
}
