// The web endpoint's sockets in this process: the real server code listens on
// loopback, Winsock clients connect to it, and the test pumps the socket
// window's messages and calls the tick itself with the clock it chooses. What
// a request means and what is answered is tested on the host; here, the
// limits that only the sockets have, and that a rate the drain stores leaves
// before the tick; and a port it cannot have.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/win32_app_state.h"
#include "app/win32_event_loop.h"
#include "tests/win/win_test_support.h"
#include "web/win32_web_server.h"

namespace {

// One connection to the endpoint, read without blocking.
struct Client {
    SOCKET socket;    // the client's end
    std::string got;  // every byte received so far
    bool ended;       // the endpoint closed or reset the connection
};

// Hands the socket events queued for the endpoint's window to it.
void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

// Pumps the endpoint's messages until `done` holds or `timeoutMs` pass.
template <typename Check>
bool PumpUntil(Check done, DWORD timeoutMs) {
    return WaitUntil(
        [&] {
            PumpMessages();
            return done();
        },
        timeoutMs);
}

// Takes what has arrived, noting the end of the connection.
void Read(Client& client) {
    char bytes[8192];
    while (!client.ended) {
        int got = recv(client.socket, bytes, sizeof bytes, 0);
        if (got > 0) {
            client.got.append(bytes, static_cast<size_t>(got));
        } else {
            client.ended = got == 0 || WSAGetLastError() != WSAEWOULDBLOCK;
            if (!client.ended) return;
        }
    }
}

// The loopback address with `port`.
sockaddr_in Loopback(uint32_t port) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A socket listening on a loopback port the system picked, and that port.
SOCKET ListenOnFreePort(uint32_t* port) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = Loopback(0);
    int length = sizeof address;
    bool bound = bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 listen(listener, 4) == 0 &&
                 getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    EXPECT_TRUE(bound);
    *port = ntohs(address.sin_port);
    return listener;
}

// Whether `text` has arrived.
bool Has(const Client& client, const std::string& text) { return client.got.find(text) != std::string::npos; }

class WebServerTest : public ::testing::Test {
  protected:
    uint32_t port = 0;
    std::deque<Client> clients;  // every connection the test made; a deque keeps references valid

    // Starts the endpoint on a free port with a fresh feed and rings, as WinMain does.
    void SetUp() override {
        // A port nothing else listens on: other builds' endpoints may hold any fixed one.
        closesocket(ListenOnFreePort(&port));
        gApp.feed = {};
        InitMeasurementStore(gApp.store);
        gApp.settings = {5, 115200, port, true};
        StartWebServer(GetModuleHandleA(nullptr), port);
        ASSERT_TRUE(gWin32.web.listening);
    }

    // Closes every connection and the endpoint.
    void TearDown() override {
        for (Client& client : clients) closesocket(client.socket);
        // The next test of this process starts its own endpoint.
        for (WebClient& served : gWin32.web.clients) {
            if (served.inUse) closesocket(served.socket);
            served.inUse = false;
        }
        closesocket(gWin32.web.listener);
        DestroyWindow(gWin32.web.window);
        gWin32.web.listening = false;
        gWin32.web.stateSent = false;
        ClosePort(gApp.link);
    }

    // A connection that has sent `request`; `receiveBuffer` (when not 0)
    // keeps its socket's buffer small, as a paused browser tab's fills up.
    Client& Connect(const std::string& request, int receiveBuffer = 0) {
        clients.push_back({socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), "", false});
        Client* client = &clients.back();
        if (receiveBuffer > 0) {
            setsockopt(client->socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
                       sizeof receiveBuffer);
        }
        sockaddr_in address = Loopback(port);
        // Loopback: the system completes the connection before the endpoint accepts it.
        EXPECT_EQ(connect(client->socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        u_long nonBlocking = 1;
        ioctlsocket(client->socket, FIONBIO, &nonBlocking);
        if (!request.empty()) send(client->socket, request.data(), static_cast<int>(request.size()), 0);
        return *client;
    }

    // A complete GET of `path` naming the endpoint.
    std::string Get(const char* path) const {
        return std::string("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
    }

    // Waits until `text` has arrived on `client` (false if it ends first).
    static bool WaitFor(Client& client, const std::string& text) {
        PumpUntil(
            [&] {
                Read(client);
                return Has(client, text) || client.ended;
            },
            5000);
        return Has(client, text);
    }

    // Waits until the endpoint has closed or reset `client`.
    static bool WaitEnd(Client& client) {
        return PumpUntil(
            [&] {
                Read(client);
                return client.ended;
            },
            5000);
    }
};

TEST_F(WebServerTest, SixteenConnectionsAtOnceAndAnUnfinishedRequestClosedAfterTenSeconds) {
    uint64_t beforeAccepts = GetTickCount64();
    std::vector<Client*> held;
    for (int i = 0; i < 16; ++i) held.push_back(&Connect("GET / HTTP/1.1\r\n"));
    // The seventeenth is reset unanswered; the endpoint accepts in order, so
    // by then it has taken the sixteen.
    Client& seventeenth = Connect(Get("/status.json"));
    ASSERT_TRUE(WaitEnd(seventeenth));
    EXPECT_EQ(seventeenth.got, "");
    uint64_t afterAccepts = GetTickCount64();
    for (Client* client : held) {
        Read(*client);
        EXPECT_FALSE(client->ended) << "one of the first sixteen was turned away";
    }

    ServeWebTick(beforeAccepts + 9999);
    Client& stillFull = Connect(Get("/status.json"));
    ASSERT_TRUE(WaitEnd(stillFull));
    EXPECT_EQ(stillFull.got, "") << "a request was closed before its 10 s were up";

    ServeWebTick(afterAccepts + 10000);
    for (Client* client : held) {
        ASSERT_TRUE(WaitEnd(*client)) << "an unfinished request still open after 10 s";
        EXPECT_EQ(client->got, "");
    }
    Client& served = Connect(Get("/status.json"));
    ASSERT_TRUE(WaitEnd(served));
    EXPECT_EQ(served.got.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << served.got;
}

TEST_F(WebServerTest, AStreamThatStopsReadingIsDroppedWhileAReadingOneGetsEveryTick) {
    Client& reader = Connect(Get("/events"));
    Client& stuck = Connect(Get("/events"), 4096);
    ASSERT_TRUE(WaitFor(reader, "retry: 1000\n\n"));
    ASSERT_TRUE(WaitFor(stuck, "retry: 1000\n\n"));  // its opening only: it reads nothing after
    // About 6 KB a tick, each tick's last sample its number: some 300 KB in
    // all, far beyond what the stuck client's socket and queue can hold.
    constexpr int kTicks = 48;
    for (int tick = 0; tick < kTicks; ++tick) {
        for (int i = 0; i < 999; ++i) NoteLine(gApp.feed, {RecordKind::Sample, 65534}, 0, 0);
        NoteLine(gApp.feed, {RecordKind::Sample, static_cast<uint32_t>(tick)}, 0, 0);
        ServeWebTick(GetTickCount64());
        ASSERT_TRUE(WaitFor(reader, "," + std::to_string(tick) + "\n\n")) << "the reader lost tick " << tick;
    }
    ASSERT_TRUE(WaitEnd(stuck)) << "the client that never read is still served";
    EXPECT_LT(stuck.got.size() * 4, reader.got.size());
}

TEST_F(WebServerTest, ARateTheDrainStoresGoesOutAtOnceAheadOfItsWritesSamples) {
    OpenPort(gApp.link, 5, 115200);
    ASSERT_NE(gApp.link.device, kNoDevice);
    HANDLE device = OpenDeviceEnd("COM6", 115200);  // opened after COM5: Wine flushes a terminal it opens
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    Client& stream = Connect(Get("/events"));
    ASSERT_TRUE(WaitFor(stream, "data: stale\n\n"));

    ASSERT_TRUE(SendFromDevice(device, "S11\r\nS12\r\nB70\r\n"));
    const std::string rate = "event: rate\ndata: 70\n\n";
    // No tick runs here: only the drain's own sending can bring the rate.
    EXPECT_TRUE(PumpUntil(
        [&] {
            DrainAfterEvent();
            Read(stream);
            return Has(stream, rate);
        },
        5000));
    ServeWebTick(GetTickCount64());
    const std::string samples = "event: samples\ndata: 11,12\n\n";
    EXPECT_TRUE(WaitFor(stream, samples));
    EXPECT_LT(stream.got.find(rate), stream.got.find(samples)) << stream.got;
    EXPECT_EQ(stream.got.find(rate), stream.got.rfind(rate)) << "the rate went out twice";
    CloseHandle(device);
}

TEST_F(WebServerTest, ACloseMessageForAHandleNowReusedLeavesItsLiveStreamAlone) {
    Client& stream = Connect(Get("/events"));
    ASSERT_TRUE(WaitFor(stream, "retry: 1000\n\n"));
    // Winsock may still deliver FD_CLOSE for a socket already closed, and its
    // handle value may by then be this stream's.
    for (const WebClient& served : gWin32.web.clients) {
        if (served.inUse) PostMessageA(gWin32.web.window, kSocketMessage, served.socket, FD_CLOSE);
    }
    PumpMessages();
    NoteLine(gApp.feed, {RecordKind::Sample, 77}, 0, 0);
    ServeWebTick(GetTickCount64());
    EXPECT_TRUE(WaitFor(stream, "data: 77\n\n")) << stream.got;
}

TEST_F(WebServerTest, AStreamSilentForFifteenSecondsGetsAKeepAlive) {
    Client& stream = Connect(Get("/events"));
    ASSERT_TRUE(WaitFor(stream, "retry: 1000\n\n"));
    uint64_t quietFrom = GetTickCount64();
    ServeWebTick(quietFrom);  // the first tick tells the streams the state: the last thing they get
    ServeWebTick(quietFrom + 14999);
    Read(stream);  // a send on loopback is there at once
    EXPECT_FALSE(Has(stream, ": keep-alive")) << "sent before 15 s of silence";
    ServeWebTick(quietFrom + 15000);
    EXPECT_TRUE(WaitFor(stream, ": keep-alive\n\n"));
}

TEST_F(WebServerTest, RefusalsArriveWholeOverTheSocket) {
    std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
    std::string tls("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11);
    for (int i = 0; i < 256; ++i) tls += static_cast<char>(i);
    const struct {
        std::string request;
        const char* statusLine;
        const char* body;
    } cases[] = {
        // The endpoint's own port reaches the Host check: the right name with another port is foreign.
        {"GET /status.json HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port + 1) + "\r\n\r\n",
         "HTTP/1.1 403 Forbidden\r\n", "Forbidden\n"},
        // A body the endpoint never reads: the answer still arrives whole before the close.
        {"POST / HTTP/1.1\r\n" + host + "Content-Length: 4\r\n\r\nabcd", "HTTP/1.1 405 Method Not Allowed\r\n",
         "Method not allowed\n"},
        {"GET / HTTP/1.1\r\n" + host + "X: " + std::string(9000, 'a') + "\r\n\r\n",
         "HTTP/1.1 431 Request Header Fields Too Large\r\n", "Request too large\n"},
        {tls, "HTTP/1.1 400 Bad Request\r\n", "Bad request\n"},
        {Get("/status.json"), "HTTP/1.1 200 OK\r\n", "}"},
    };
    for (const auto& c : cases) {
        Client& client = Connect(c.request);
        ASSERT_TRUE(WaitEnd(client)) << c.statusLine;
        EXPECT_EQ(client.got.rfind(c.statusLine, 0), 0u) << client.got;
        std::string body = c.body;
        EXPECT_EQ(client.got.substr(client.got.size() - std::min(body.size(), client.got.size())), body);
    }
}

TEST(WebServerStart, APortItCannotHaveLeavesTheEndpointOffAndSaysSo) {
    uint32_t takenPort = 0;
    SOCKET taken = ListenOnFreePort(&takenPort);
    const struct {
        uint32_t port;
        std::string said;
    } cases[] = {
        {takenPort, "Vintra: web port " + std::to_string(takenPort) + " in use, overlay off"},
        {65536, "Vintra: web port 65536 is not a port, overlay off"},
    };
    for (const auto& c : cases) {
        size_t mark = DebugLogMark();
        StartWebServer(GetModuleHandleA(nullptr), c.port);
        EXPECT_EQ(DebugStringsSince(mark), (std::vector<std::string>{c.said, "\\n"}));
    }
    closesocket(taken);
}

}  // namespace
