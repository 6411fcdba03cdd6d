#pragma once
// The OSC sender's socket: one UDP socket that sends the avatar parameters to
// 127.0.0.1 only, one datagram per message, never waiting.
#include <winsock2.h>

#include <cstdint>

#include "web/osc_policy.h"

struct OscSenderState {
    bool on;             // a port was given and the socket is ready
    SOCKET socket;       // the UDP socket
    sockaddr_in to;      // 127.0.0.1 and the configured port: the only address ever sent to
    OscPolicy policy;    // what has been sent so far
    OscBatch batch;      // the messages of the current call, kept out of the stack
    uint32_t dropped;    // datagrams the socket would not take at once, since start (dropped, not queued)
};

// Opens the socket for 127.0.0.1:`port` (0: OSC off). A port that is not a
// port leaves OSC off and says so in the echo.
void StartOscSender(uint32_t port);

// After every drain and every tick: sends what the policy says is due now.
void ServeOsc(uint64_t nowMs);
