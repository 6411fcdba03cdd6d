// Output sinks: a pseudo-terminal we create, or stdout.
#pragma once

#include <cmath>
#include <cstddef>
#include <string>

#include "sim_options.h"

// Result of pushing bytes into the sink.
enum class WriteStatus {
    Ok,       // everything written
    Stopped,  // a stop signal came while the sink would not take more
    TimedOut, // the sink would not take more until give_up_at passed
    Closed,   // the reader went away (EPIPE)
    Failed,   // any other error, already reported on stderr
};

// The open sink.
struct SinkState {
    SinkKind kind = SinkKind::Pty;  // which sink
    int fd = -1;                    // where protocol bytes are written
    int slave_fd = -1;              // pty: our own hold on the slave so it never hangs up
    std::string slave_path;         // pty: path of the slave, e.g. /dev/pts/7
    std::string link_path;          // pty: symlink we made to the slave, empty if none
    double give_up_at = HUGE_VAL;   // monotonic time after which a stalled write is abandoned
};

extern SinkState g_sink;

// Opens the sink the options ask for; on failure `error` says why.
bool sink_open(const SimOptions& opt, std::string& error);

// Writes all of data to fd, waiting while the reader is behind, until done, stopped,
// past give_up_at or broken.
WriteStatus sink_write_all(int fd, const char* data, size_t size);

// Pty: throws away whatever the reader wrote back, so its writes never stall.
void sink_discard_input();

// Pty: waits up to `seconds` for the reader to take everything still queued.
void sink_linger(double seconds);

// Closes the sink and removes the symlink.
void sink_close();
