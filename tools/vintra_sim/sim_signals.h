// Orderly shutdown on SIGINT/SIGTERM/SIGHUP: handlers only raise a flag that the
// loops look at, and they interrupt sleeps and blocked writes instead of restarting them.
#pragma once

// Installs the stop handlers and ignores SIGPIPE so a closed pipe shows up as EPIPE.
void install_stop_handlers();

// True once a stop signal has arrived.
bool stop_requested();
