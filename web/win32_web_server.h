#pragma once
// The web endpoint's sockets: a listener on 127.0.0.1 only and its clients,
// served from the program's one thread through window messages and the tick.
#include <winsock2.h>

#include <cstdint>

#include "web/http_request.h"
#include "store/live_feed.h"
#include "web/websocket_session.h"

constexpr int kMaxClients = 16;
// Unsent output per client. Beyond it the client is not reading (a paused
// tab): it is dropped rather than let slow the program or grow its memory.
constexpr size_t kClientOutputLimit = 16384;
// What Winsock posts to the endpoint's window for each socket event.
constexpr UINT kSocketMessage = WM_APP + 17;

struct WebClient {
    bool inUse;                       // the slot holds a connection
    SOCKET socket;                    // the connection
    uint64_t acceptedMs;              // when the connection was accepted
    size_t requestLength;             // bytes of the request head received
    char request[kRequestHeadLimit];  // the request head as received
    bool answered;                    // the answer is queued; more bytes from the client are ignored
    bool streams;                     // an /events client: stays open for each tick's news
    size_t outputStart;               // first queued byte not yet sent
    size_t outputEnd;                 // end of the queued bytes
    char output[kClientOutputLimit];  // queued bytes
    const char* body;                 // a static body sent after the queued bytes (the overlay page)
    size_t bodyLeft;                  // its bytes not yet sent
    uint64_t lastQueuedMs;            // when the stream last got anything, for its keep-alive
    bool sessionRows;                 // a /session.csv download: rows follow the queued bytes
    uint64_t rowNext;                 // the session entry of its next row
    uint64_t rowEnd;                  // the entry after its last (the record's end when it asked)
    WsSession ws;                     // a /ws client: its session; `request` then holds its unread frames
};

// All of the endpoint's Windows state: a sub-record of gWin32.
struct WebServerState {
    HWND window;                      // message-only window the socket events go to
    bool listening;                   // the endpoint is on (off until started, and when its port was taken)
    SOCKET listener;                  // the listening socket
    uint32_t port;                    // the port listened on, which the Host header must name
    bool stateSent;                   // the streams were told a state at least once
    LinkState sentState;              // the state word they were last told
    char news[32768];                 // one tick's events, built once for all streams
    char clientNews[kClientOutputLimit];  // one WebSocket client's messages or replies, built in turn
    WebClient clients[kMaxClients];   // the connections
};

// Listens on 127.0.0.1:`port` (0: the endpoint is off). A port that is taken
// leaves the endpoint off for this run and says so in the echo: another port
// would not be the one an OBS scene holds.
void StartWebServer(HINSTANCE instance, uint32_t port);

// Right after a drain that stored beat rates: the streams get them (and a
// change of state) at once rather than with the next tick's samples.
void ServeWebRates(uint64_t nowMs);

// The main window's tick: the streams get what arrived since the previous
// tick and any change of state; requests that take too long are closed.
void ServeWebTick(uint64_t nowMs);
