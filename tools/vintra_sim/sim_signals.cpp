// Signal handling for vintra-sim.
#include "sim_signals.h"

#include <csignal>

namespace {

// Set by the handler, read by the loops.
volatile sig_atomic_t g_stop_flag = 0;

void on_stop_signal(int) { g_stop_flag = 1; }

}  // namespace

void install_stop_handlers() {
    struct sigaction sa = {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a signal must wake a sleep or a stalled write
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool stop_requested() { return g_stop_flag != 0; }
