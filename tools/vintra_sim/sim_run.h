// The run loop: real-time generation and its bookkeeping.
#pragma once

#include "sim_options.h"
#include "sim_sink.h"

// Why a run ended.
enum class RunEnd {
    Finished,     // duration reached
    Signalled,    // SIGINT/SIGTERM/SIGHUP
    ReaderGone,   // the output pipe was closed
    WriteFailed,  // the sink broke
};

// Bookkeeping of the run.
struct RunState {
    double start = 0;             // monotonic time of the first line, in seconds
};

extern RunState g_run;

// Starts the run clock.
void run_begin();

// Seconds since run_begin.
double run_elapsed();

// Between batches: flushes the logs, drains reader input.
void run_tick();

// Maps a failed write to the reason the run ends.
RunEnd run_end_for(WriteStatus status);

// Generates lines in real time until the duration is over or a stop signal comes.
RunEnd run_timed(const SimOptions& opt);
