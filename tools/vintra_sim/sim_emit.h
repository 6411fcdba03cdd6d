// Sending lines: fault injection, writing, counting and the logs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "sim_options.h"
#include "sim_random.h"
#include "sim_sink.h"

// Counters reported in the count file and the exit summary.
struct SimCounts {
    uint64_t lines_sent = 0;        // every line-ended line, faulty ones included
    uint64_t wellformed_sent = 0;   // lines the receiver will take as valid S/B/X records
    uint64_t faults_injected = 0;   // faults applied (a line may carry several)
    uint64_t s_sent = 0;            // well-formed S lines
    uint64_t b_sent = 0;            // well-formed B lines
    uint64_t x_sent = 0;            // well-formed X lines
    uint64_t out_of_range_sent = 0; // S/B lines with a value the receiver will not store
    uint64_t noise_sent = 0;        // random-byte lines
    uint64_t overlong_sent = 0;     // lines the receiver discards
    uint64_t nul_sent = 0;          // lines with a zero byte inside
    uint64_t bare_lf_sent = 0;      // lines ended by LF alone
    uint64_t split_sent = 0;        // lines spread over several writes
    uint64_t bytes_sent = 0;        // all bytes written
};

// The process-wide sending state.
struct EmitState {
    int fd = -1;                      // where bytes go
    FaultRates faults;                // fault probabilities
    SimRng rng;                       // fault decisions; separate so faults leave the signal alone
    bool split_pauses = true;         // pause 1..5 ms between split writes (tests turn it off)
    FILE* wellformed_log = nullptr;   // append target for well-formed lines, or null
    FILE* echoed_log = nullptr;       // append target for every line the receiver echoes, or null
    SimCounts counts;                 // running totals
};

extern EmitState g_emit;

// Sends one record text with its line end, after fault injection.
WriteStatus emit_text_line(const std::string& text);

// Pushes buffered log lines to disk.
void emit_flush_log();
