// Command line of vintra-sim: what to generate, where to send it, which faults to inject.
#pragma once

#include <string>

// Where the protocol bytes go.
enum class SinkKind { Pty, Stdout };

// Per-line probability (0..1) of each deliberate transmission fault.
struct FaultRates {
    double bare_lf = 0;   // end the line with LF alone
    double overlong = 0;  // replace the line with one too long for the receiver
    double nul = 0;       // insert one zero byte inside the line
    double noise = 0;     // send an extra line of random bytes before the line
    double range = 0;     // replace an S/B value by one outside the accepted range
    double split = 0;     // spread the line over two or three writes
};

// Everything the command line chose; defaults are the plain 50 Hz, 72 bpm device.
struct SimOptions {
    SinkKind sink = SinkKind::Pty;    // exactly one output
    std::string link_path;            // pty mode: symlink to the slave, empty for none
    double rate = 50;                 // S lines per second
    double bpm = 72;                  // mean beat rate
    double status_every = 0;          // seconds between X lines, 0 = none
    double duration = -1;             // seconds to run, negative = until signalled
    unsigned long long seed = 0;      // random seed (drawn from the clock if not given)
    bool seed_given = false;          // whether --seed was on the command line
    double start_delay = 0;           // seconds between announcing the sink and the first line
    double linger = 0;                // pty mode: seconds to wait at exit for the reader to drain
    std::string count_file;           // counters file, empty for none
    std::string wellformed_log;       // append every well-formed line here, empty for none
    std::string echoed_log;           // append every line the receiver echoes, with its kind, here
    FaultRates faults;                // fault probabilities
};

// Outcome of reading the command line.
enum class ParseResult { Ok, Help, Error };

// Fills `out` from argv; on Error, `error` says which argument is wrong.
ParseResult parse_options(int argc, char** argv, SimOptions& out, std::string& error);

// The -h/--help text.
const char* usage_text();
