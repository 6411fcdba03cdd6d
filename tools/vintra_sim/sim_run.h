// The run loop: real-time generation and its bookkeeping.
#pragma once

#include <string>

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
    double last_count_write = 0;  // run time of the last count-file update
    std::string count_file;       // where counters go, empty for none
};

extern RunState g_run;

// Starts the run clock.
void run_begin(const std::string& count_file);

// Seconds since run_begin.
double run_elapsed();

// Between batches: flushes the log, drains reader input, updates the count file each second.
void run_tick();

// Maps a failed write to the reason the run ends.
RunEnd run_end_for(WriteStatus status);

// Generates lines in real time until the duration is over or a stop signal comes.
RunEnd run_timed(const SimOptions& opt);
