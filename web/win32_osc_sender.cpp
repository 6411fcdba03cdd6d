// OSC over UDP through Winsock. The socket is non-blocking: a datagram the
// stack will not take at once is dropped, since the next rate or the repeat
// a second later carries the same news, and the drain must never wait.
#include <winsock2.h>
#include <mswsock.h>

#include "web/win32_osc_sender.h"

#include <cstdio>

#include "app/app_state.h"
#include "app/win32_app_state.h"
#include "serial/platform.h"

void StartOscSender(uint32_t port) {
    OscSenderState& osc = gWin32.osc;
    if (port == 0) return;
    if (port > 65535) {
        char said[96];
        std::snprintf(said, sizeof said, "Vintra: OSC port %u is not a port, OSC off", port);
        EchoLine(said);  // longer than any device line, so never taken for one
        return;
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    SOCKET udp = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (udp == INVALID_SOCKET) return;
    u_long nonBlocking = 1;
    ioctlsocket(udp, FIONBIO, &nonBlocking);
    // With no receiver on the port, Windows turns the ICMP "port unreachable"
    // into WSAECONNRESET on the socket's next call; it means nothing here.
    BOOL reportReset = FALSE;
    DWORD returned = 0;
    WSAIoctl(udp, SIO_UDP_CONNRESET, &reportReset, sizeof reportReset, nullptr, 0, &returned, nullptr, nullptr);
    osc.to = {};
    osc.to.sin_family = AF_INET;
    osc.to.sin_port = htons(static_cast<u_short>(port));
    osc.to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // never another machine
    osc.socket = udp;
    osc.policy = StartOscPolicy(gApp.feed.rateSerial);
    osc.on = true;
}

void ServeOsc(uint64_t nowMs) {
    OscSenderState& osc = gWin32.osc;
    if (!osc.on) return;
    bool live = CurrentLinkState(gApp.feed, gApp.link, gApp.settings.port, nowMs) == LinkState::Live;
    PlanOsc(osc.policy, live, gApp.feed.rate, gApp.feed.rateSerial, nowMs, osc.batch);
    for (uint32_t i = 0; i < osc.batch.count; ++i) {
        int length = static_cast<int>(osc.batch.lengths[i]);
        if (length == 0) continue;
        int sent = sendto(osc.socket, osc.batch.bytes[i], length, 0, reinterpret_cast<const sockaddr*>(&osc.to),
                          sizeof osc.to);
        if (sent != length) ++osc.dropped;
    }
}
