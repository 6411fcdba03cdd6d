// The web endpoint through Winsock: non-blocking sockets whose events arrive
// as messages to a message-only window, so serving never waits and never
// holds up the device's drain or the paint. Every step is bounded: one accept,
// one receive or the queued output per message.
#include <winsock2.h>

#include "web/win32_web_server.h"

#include <cstdio>

#include "app/app_state.h"
#include "app/win32_app_state.h"
#include "serial/platform.h"
#include "web/event_stream.h"
#include "web/http_request.h"
#include "web/session_csv.h"
#include "web/web_answers.h"
#include "web/websocket_handshake.h"

// The socket's own send buffer, kept small like each client's queue: a client
// that stops reading is noticed within seconds, not megabytes later.
constexpr int kSocketSendBuffer = 8192;
constexpr uint64_t kRequestTimeoutMs = 10000;  // to send a request and take its answer
constexpr uint64_t kKeepAliveMs = 15000;       // a silent stream gets a comment line
constexpr const char* kSocketWindowClass = "VintraWebSockets";

// Closes a connection with a reset: nothing queued is sent, and the other
// end learns at once that it is over.
static void Reset(SOCKET socket) {
    LINGER linger = {1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&linger), sizeof linger);
    closesocket(socket);
}

// Frees the slot. `abort` resets the connection instead of closing it in order.
static void CloseClient(WebClient& client, bool abort) {
    client.inUse = false;
    if (abort) {
        Reset(client.socket);
        return;
    }
    // Bytes the client sent beyond its request would turn the close into a
    // reset that can destroy the answer on its way: read them away (as much
    // as a request may be, no more).
    char scratch[1024];
    for (size_t read = 0; read < kRequestHeadLimit; read += sizeof scratch) {
        if (recv(client.socket, scratch, sizeof scratch, 0) <= 0) break;
    }
    shutdown(client.socket, SD_SEND);
    closesocket(client.socket);
}

static WebClient* ClientOf(SOCKET socket) {
    for (WebClient& client : gWin32.web.clients) {
        if (client.inUse && client.socket == socket) return &client;
    }
    return nullptr;
}

// Queues the next rows of a /session.csv download once the queue is empty;
// false when there are none left. Rows the record dropped meanwhile (Delete,
// or older than 24 h) cut the download with a reset, so that it is not
// taken for the whole record.
static bool QueueSessionRows(WebClient& client) {
    if (client.rowNext >= client.rowEnd) {
        client.sessionRows = false;
        return false;
    }
    if (client.rowNext < gSession.firstSerial) {
        CloseClient(client, true);
        return false;
    }
    TextSink rows = SinkOver(client.output, kClientOutputLimit);
    client.rowNext = PutSessionRows(rows, gSession, client.rowNext, client.rowEnd);
    if (rows.length == 0) {
        CloseClient(client, true);  // a queue too small for one row: never end the download as if whole
        return false;
    }
    client.outputStart = 0;
    client.outputEnd = rows.length;
    // A day's record is megabytes: the time limit counts from the last progress.
    client.acceptedMs = GetTickCount64();
    return true;
}

// Sends what is queued, as much as the socket takes now. An answer that is
// all out closes its connection (streams stay).
static void Flush(WebClient& client) {
    for (;;) {
        const char* from = client.output + client.outputStart;
        size_t count = client.outputEnd - client.outputStart;
        bool fromBody = count == 0;
        if (fromBody) {
            from = client.body;
            count = client.bodyLeft;
        }
        if (count == 0 && client.sessionRows) {
            if (QueueSessionRows(client)) continue;
            if (!client.inUse) return;
        }
        if (count == 0) break;
        int sent = send(client.socket, from, static_cast<int>(count), 0);
        if (sent == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK) CloseClient(client, true);
            return;
        }
        if (fromBody) {
            client.body += sent;
            client.bodyLeft -= static_cast<size_t>(sent);
        } else {
            client.outputStart += static_cast<size_t>(sent);
        }
    }
    client.outputStart = client.outputEnd = 0;
    if (client.answered && !client.streams) CloseClient(client, false);
}

// Queues bytes for a stream and sends what it can; a client whose queue
// would overflow has stopped reading and is dropped.
static void Queue(WebClient& client, const char* bytes, size_t count, uint64_t nowMs) {
    if (client.outputStart > 0) {
        memmove(client.output, client.output + client.outputStart, client.outputEnd - client.outputStart);
        client.outputEnd -= client.outputStart;
        client.outputStart = 0;
    }
    if (count > kClientOutputLimit - client.outputEnd) {
        CloseClient(client, true);
        return;
    }
    memcpy(client.output + client.outputEnd, bytes, count);
    client.outputEnd += count;
    client.lastQueuedMs = nowMs;
    Flush(client);
}

static LinkState StateNow(uint64_t nowMs) {
    return CurrentLinkState(gApp.feed, gApp.link, gApp.settings.port, nowMs);
}

// Reads the whole frames a WebSocket client has sent and queues the answers;
// after a close, the connection ends once the close frame is out.
static void ReadFrames(WebClient& client, uint64_t nowMs) {
    TextSink replies = SinkOver(gWin32.web.clientNews, sizeof gWin32.web.clientNews);
    WsReading reading = ReadClientFrames(client.ws, reinterpret_cast<uint8_t*>(client.request),
                                         client.requestLength, replies);
    if (replies.overflowed) {
        CloseClient(client, true);  // a flood of pings, faster than it reads the pongs
        return;
    }
    if (reading == WsReading::Closing) client.streams = false;
    if (replies.length > 0) Queue(client, replies.data, replies.length, nowMs);
}

// Answers a GET of /ws: the handshake and the opening messages, or a refusal.
static void AnswerUpgrade(WebClient& client, const ParsedRequest& request, uint64_t nowMs) {
    TextSink sink = SinkOver(client.output, kClientOutputLimit);
    if (PutUpgradeAnswer(sink, client.request, request.headLength, gWin32.web.port, client.ws) ==
        UpgradeVerdict::Accepted) {
        PutWsOpening(sink, client.ws, StateNow(nowMs), gApp.feed);
    }
    client.answered = true;
    client.streams = client.ws.open;
    client.outputStart = 0;
    client.outputEnd = sink.length;
    client.lastQueuedMs = nowMs;
    // Bytes after the head are the client's first frames.
    client.requestLength -= request.headLength;
    memmove(client.request, client.request + request.headLength, client.requestLength);
    Flush(client);
    if (client.inUse && client.ws.open && client.requestLength > 0) ReadFrames(client, nowMs);
}

// Answers a request whose head is complete (or refused).
static void AnswerRequest(WebClient& client, const ParsedRequest& request) {
    uint64_t nowMs = GetTickCount64();
    if (request.verdict == RequestVerdict::Get && request.route == WebRoute::WebSocket) {
        AnswerUpgrade(client, request, nowMs);
        return;
    }
    WebSnapshot snapshot = TakeWebSnapshot(gApp.feed, gApp.link, gApp.settings, nowMs);
    // A full day's record takes a while to sum up, and the ports are probed
    // one by one: only for the answers that show them.
    if (request.route == WebRoute::StatusPage || request.route == WebRoute::StatusJson) {
        snapshot.session = SummarizeSession(gSession);
        AddPortsAndFolder(snapshot);
    }
    snapshot.session.startWallMs = gSession.startWallMs;
    TextSink sink = SinkOver(client.output, kClientOutputLimit);
    Answer answer = PutAnswer(sink, request, snapshot, gApp.store, gApp.feed);
    if (sink.overflowed) {
        CloseClient(client, true);
        return;
    }
    client.answered = true;
    client.streams = answer.streams;
    client.outputStart = 0;
    client.outputEnd = sink.length;
    client.body = answer.body;
    client.bodyLeft = answer.bodyLength;
    client.lastQueuedMs = nowMs;
    client.sessionRows = answer.sessionRows;
    client.rowNext = gSession.firstSerial;
    client.rowEnd = gSession.endSerial;
    Flush(client);
}

// More frames from a WebSocket client, after what is left of an unfinished one.
static void ReceiveFrames(WebClient& client) {
    size_t room = kRequestHeadLimit - client.requestLength;  // never 0: less than a frame is ever left
    int got = recv(client.socket, client.request + client.requestLength, static_cast<int>(room), 0);
    if (got == 0 || (got == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)) {
        CloseClient(client, true);
        return;
    }
    if (got <= 0) return;
    client.requestLength += static_cast<size_t>(got);
    ReadFrames(client, GetTickCount64());
}

static void Receive(WebClient& client) {
    if (client.ws.open) {
        ReceiveFrames(client);
        return;
    }
    char scratch[1024];
    char* into = client.answered ? scratch : client.request + client.requestLength;
    size_t room = client.answered ? sizeof scratch : kRequestHeadLimit - client.requestLength;
    int got = recv(client.socket, into, static_cast<int>(room), 0);
    if (got == 0 || (got == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)) {
        CloseClient(client, true);  // the client went away
        return;
    }
    if (got <= 0 || client.answered) return;
    client.requestLength += static_cast<size_t>(got);
    ParsedRequest request = ParseRequest(client.request, client.requestLength, gWin32.web.port);
    if (request.verdict != RequestVerdict::Incomplete) AnswerRequest(client, request);
}

static void Accept() {
    SOCKET socket = accept(gWin32.web.listener, nullptr, nullptr);
    if (socket == INVALID_SOCKET) return;
    for (WebClient& client : gWin32.web.clients) {
        if (client.inUse) continue;
        client = {};
        client.inUse = true;
        client.socket = socket;
        client.acceptedMs = GetTickCount64();
        setsockopt(socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&kSocketSendBuffer),
                   sizeof kSocketSendBuffer);
        WSAAsyncSelect(socket, gWin32.web.window, kSocketMessage, FD_READ | FD_WRITE | FD_CLOSE);
        return;
    }
    Reset(socket);  // all slots taken: turned away at once
}

// Whether the other end has closed or reset the connection, asked without
// taking anything. Winsock may still deliver the messages of a socket after
// closesocket, and handle values are reused: an FD_CLOSE meant for an
// earlier connection can name a live one, which must not be reset for it.
static bool PeerClosed(SOCKET socket) {
    char byte;
    int got = recv(socket, &byte, 1, MSG_PEEK);
    return got == 0 || (got == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK);
}

// The socket events, one at a time.
static LRESULT CALLBACK SocketWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kSocketMessage) return DefWindowProcA(window, message, wParam, lParam);
    SOCKET socket = static_cast<SOCKET>(wParam);
    WORD event = WSAGETSELECTEVENT(lParam);
    if (gWin32.web.listening && socket == gWin32.web.listener) {
        if (event == FD_ACCEPT) Accept();
        return 0;
    }
    WebClient* client = ClientOf(socket);
    if (client == nullptr) return 0;
    switch (event) {
        case FD_READ: Receive(*client); break;
        case FD_WRITE: Flush(*client); break;
        case FD_CLOSE:
            // What arrived before the close may still complete a request.
            Receive(*client);
            if (client->inUse && PeerClosed(socket)) CloseClient(*client, true);
            break;
        default: break;
    }
    return 0;
}

void StartWebServer(HINSTANCE instance, uint32_t port) {
    if (port == 0) return;
    char said[96];
    if (port > 65535) {
        std::snprintf(said, sizeof said, "Vintra: web port %u is not a port, overlay off", port);
        EchoLine(said);  // longer than any device line, so never taken for one
        return;
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = SocketWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kSocketWindowClass;
    RegisterClassExA(&windowClass);
    gWin32.web.window = CreateWindowExA(0, kSocketWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);

    // Windows lets 127.0.0.1 be bound over another program's listener on all
    // interfaces (0.0.0.0) of the same port, and then sends this machine's
    // connections here without a word to either program: a port that cannot
    // be bound on all interfaces counts as taken.
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in anywhere = {};
    anywhere.sin_family = AF_INET;
    anywhere.sin_port = htons(static_cast<u_short>(port));
    anywhere.sin_addr.s_addr = htonl(INADDR_ANY);
    bool sharedWithAnother = probe != INVALID_SOCKET &&
                             bind(probe, reinterpret_cast<const sockaddr*>(&anywhere), sizeof anywhere) != 0 &&
                             WSAGetLastError() == WSAEADDRINUSE;
    if (probe != INVALID_SOCKET) closesocket(probe);

    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // never reachable from another machine
    // Neither SO_REUSEADDR (on Windows it would bind over another program's
    // listener, where "in use" must win) nor SO_EXCLUSIVEADDRUSE (it refuses
    // the port while the previous run's connections linger in TIME_WAIT, so
    // a restarted Vintra would come up without its endpoint).
    bool listening = !sharedWithAnother && listener != INVALID_SOCKET && gWin32.web.window != nullptr &&
                     bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                     listen(listener, SOMAXCONN) == 0 &&
                     WSAAsyncSelect(listener, gWin32.web.window, kSocketMessage, FD_ACCEPT) == 0;
    if (!listening) {
        if (listener != INVALID_SOCKET) closesocket(listener);
        std::snprintf(said, sizeof said, "Vintra: web port %u in use, overlay off", port);
        EchoLine(said);  // longer than any device line, so never taken for one
        return;
    }
    gWin32.web.listener = listener;
    gWin32.web.listening = true;
    gWin32.web.port = port;
}

// Adds the state word to the news when the streams have not heard it yet.
static void PutStateChange(TextSink& news, uint64_t nowMs) {
    LinkState state = CurrentLinkState(gApp.feed, gApp.link, gApp.settings.port, nowMs);
    if (gWin32.web.stateSent && state == gWin32.web.sentState) return;
    PutStateEvent(news, state);
    gWin32.web.stateSent = true;
    gWin32.web.sentState = state;
}

// One WebSocket client's share of the news, built for its own zones and wishes.
static void SendWsNews(WebClient& client, LinkState state, bool tick, uint64_t nowMs) {
    TextSink news = SinkOver(gWin32.web.clientNews, sizeof gWin32.web.clientNews);
    PutWsNews(news, client.ws, state, gApp.feed, tick);
    if (news.length > 0) Queue(client, news.data, news.length, nowMs);
}

void ServeWebRates(uint64_t nowMs) {
    if (!gWin32.web.listening || gApp.feed.newRateCount == 0) return;
    TextSink news = SinkOver(gWin32.web.news, sizeof gWin32.web.news);
    PutRateNews(news, gApp.feed);
    PutStateChange(news, nowMs);
    LinkState state = StateNow(nowMs);
    for (WebClient& client : gWin32.web.clients) {
        if (!client.inUse) continue;
        if (client.ws.open) {
            SendWsNews(client, state, false, nowMs);
        } else if (client.streams) {
            Queue(client, gWin32.web.news, news.length, nowMs);
        }
    }
    RatesSent(gApp.feed);
}

void ServeWebTick(uint64_t nowMs) {
    if (!gWin32.web.listening) {
        StartNextTick(gApp.feed);
        return;
    }
    TextSink news = SinkOver(gWin32.web.news, sizeof gWin32.web.news);
    PutTickEvents(news, gApp.feed);
    PutStateChange(news, nowMs);
    LinkState state = StateNow(nowMs);
    for (WebClient& client : gWin32.web.clients) {
        if (!client.inUse) continue;
        if (client.ws.open) {
            SendWsNews(client, state, true, nowMs);
        } else if (client.streams) {
            if (news.length > 0) {
                Queue(client, gWin32.web.news, news.length, nowMs);
            } else if (nowMs - client.lastQueuedMs >= kKeepAliveMs) {
                char keepAlive[32];
                TextSink comment = SinkOver(keepAlive, sizeof keepAlive);
                PutKeepAlive(comment);
                Queue(client, keepAlive, comment.length, nowMs);
            }
        } else if (nowMs - client.acceptedMs >= kRequestTimeoutMs) {
            CloseClient(client, true);
        }
    }
    StartNextTick(gApp.feed);
}
