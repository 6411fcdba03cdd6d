#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/drain_serial.h"
#include "serial/link_watch.h"
#include "tests/host/fake_serial_platform.h"
#include "tests/host/rendered_text.h"
#include "web/event_stream.h"
#include "web/http_request.h"
#include "web/web_answers.h"
#include "web/overlay_page.h"
#include "web/web_status.h"

namespace {

constexpr uint32_t kPort = 8725;

// The verdict once all of `request` has arrived in the given pieces: the
// first one that is not Incomplete, as the endpoint acts on it.
ParsedRequest ParseInPieces(const std::string& request, const std::vector<size_t>& cuts) {
    std::string received;
    size_t from = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(request.size());
    for (size_t end : ends) {
        received += request.substr(from, end - from);
        from = end;
        ParsedRequest parsed = ParseRequest(received.data(), received.size(), kPort);
        if (parsed.verdict != RequestVerdict::Incomplete) return parsed;
    }
    return {RequestVerdict::Incomplete, WebRoute::None, 0};
}

struct RequestCase {
    std::string text;
    RequestVerdict verdict;
    WebRoute route;
};

const std::string kHost = "Host: 127.0.0.1:8725\r\n";

const RequestCase kRequests[] = {
    {"GET / HTTP/1.1\r\n" + kHost + "\r\n", RequestVerdict::Get, WebRoute::StatusPage},
    {"GET /status.json HTTP/1.1\r\nHost: localhost:8725\r\nAccept: */*\r\n\r\n", RequestVerdict::Get,
     WebRoute::StatusJson},
    {"HEAD /events HTTP/1.0\nhOsT:  [::1]:8725 \n\n", RequestVerdict::Head, WebRoute::Events},
    {"GET /overlay?parts=rate,trace&color=%23fff HTTP/1.1\r\nHost: LOCALHOST:8725\r\n\r\n", RequestVerdict::Get,
     WebRoute::Overlay},
    {"GET /overlay/ HTTP/1.1\r\n" + kHost + "\r\n", RequestVerdict::NotFound, WebRoute::None},
    {"GET /bpm.txt HTTP/1.1\r\n" + kHost + "\r\n", RequestVerdict::NotFound, WebRoute::None},
    {"POST / HTTP/1.1\r\n" + kHost + "Content-Length: 0\r\n\r\n", RequestVerdict::OtherMethod, WebRoute::None},
    {"get / HTTP/1.1\r\n" + kHost + "\r\n", RequestVerdict::OtherMethod, WebRoute::None},
    {"GET / HTTP/1.1\r\nHost: evil.example\r\n\r\n", RequestVerdict::ForeignHost, WebRoute::None},
    {"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", RequestVerdict::ForeignHost, WebRoute::None},
    {"GET / HTTP/1.1\r\nHost: 127.0.0.1:87250\r\n\r\n", RequestVerdict::ForeignHost, WebRoute::None},
    {"GET / HTTP/1.1\r\nHost: localhost.:8725\r\n\r\n", RequestVerdict::ForeignHost, WebRoute::None},
    {"GET / HTTP/1.1\r\nHost: 127.0.0.1:8725.evil.example\r\n\r\n", RequestVerdict::ForeignHost, WebRoute::None},
    {"GET / HTTP/1.1\r\n\r\n", RequestVerdict::ForeignHost, WebRoute::None},
    {"DELETE / HTTP/1.1\r\nHost: evil.example\r\n\r\n", RequestVerdict::ForeignHost, WebRoute::None},
    {"GET / HTTP/1.1\r\n" + kHost + kHost + "\r\n", RequestVerdict::Bad, WebRoute::None},
    {"GET / HTTP/1.1\r\n" + kHost + " folded\r\n\r\n", RequestVerdict::Bad, WebRoute::None},
    {"GET / HTTP/1.1\r\n" + kHost + "No colon\r\n\r\n", RequestVerdict::Bad, WebRoute::None},
    {"GET / HTTP/1.1\r\n" + kHost + "Bad name: x\r\n\r\n", RequestVerdict::Bad, WebRoute::None},
    {"GET / HTTP/1.1\r\n" + kHost + "X: a\rb\r\n\r\n", RequestVerdict::Bad, WebRoute::None},
    {"GET / HTTP/1.1\r\n" + kHost + std::string("X: a\0b\r\n\r\n", 10), RequestVerdict::Bad, WebRoute::None},
    {"GET / HTTP/2\r\n" + kHost + "\r\n", RequestVerdict::Bad, WebRoute::None},
    {"GET  / HTTP/1.1\r\n" + kHost + "\r\n", RequestVerdict::Bad, WebRoute::None},
    {"GET http://127.0.0.1:8725/ HTTP/1.1\r\n" + kHost + "\r\n", RequestVerdict::Bad, WebRoute::None},
    {std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11), RequestVerdict::Bad, WebRoute::None},  // TLS
    {"\r\nGET / HTTP/1.1\r\n" + kHost + "\r\n", RequestVerdict::Bad, WebRoute::None},
    {"GET / HTTP/1.1\r\nX: " + std::string(8200, 'a') + "\r\n\r\n", RequestVerdict::TooLarge, WebRoute::None},
    {"GET /" + std::string(9000, 'a'), RequestVerdict::TooLarge, WebRoute::None},
    {"GET / HTTP/1.1\r\n" + kHost, RequestVerdict::Incomplete, WebRoute::None},
};

TEST(HttpRequest, SameVerdictWhereverTheRequestIsSplit) {
    for (const RequestCase& c : kRequests) {
        // The endpoint holds at most the limit: a longer request is cut there.
        std::string request = c.text.substr(0, kRequestHeadLimit);
        ParsedRequest whole = ParseInPieces(request, {});
        EXPECT_EQ(whole.verdict, c.verdict) << c.text.substr(0, 60);
        EXPECT_EQ(whole.route, c.route) << c.text.substr(0, 60);
        size_t step = request.size() > 200 ? 97 : 1;
        for (size_t i = 1; i < request.size(); i += step) {
            EXPECT_EQ(ParseInPieces(request, {i}).verdict, c.verdict) << "split at " << i << ": " << c.text.substr(0, 60);
            if (request.size() < 80) {
                for (size_t j = i; j < request.size(); ++j) {
                    ASSERT_EQ(ParseInPieces(request, {i, j}).verdict, c.verdict) << i << ',' << j << ": " << c.text;
                }
            }
        }
    }
}

TEST(HttpRequest, HostWithoutPortOnlyForPort80AndTheHeadFitsExactly) {
    std::string bare = "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n";
    EXPECT_EQ(ParseRequest(bare.data(), bare.size(), 80).verdict, RequestVerdict::Get);
    EXPECT_EQ(ParseRequest(bare.data(), bare.size(), 8725).verdict, RequestVerdict::ForeignHost);

    std::string start = "GET / HTTP/1.1\r\n" + kHost + "X: ";
    std::string fits = start + std::string(kRequestHeadLimit - start.size() - 4, 'a') + "\r\n\r\n";
    ASSERT_EQ(fits.size(), kRequestHeadLimit);
    EXPECT_EQ(ParseRequest(fits.data(), fits.size(), kPort).verdict, RequestVerdict::Get);
    std::string over = start + std::string(kRequestHeadLimit - start.size() - 3, 'a') + "\r\n\r\n";
    EXPECT_EQ(ParseRequest(over.data(), kRequestHeadLimit, kPort).verdict, RequestVerdict::TooLarge);
}

// A device on COM3 behind the fake platform, a clock, and the feed.
struct FeedRig {
    SerialLink link = kClosedLink;
    MeasurementStore store = {};
    LiveFeed feed = {};
    LinkWatch watch = {0};
    uint32_t chosen = 3;
    uint64_t nowMs = 100000;

    FeedRig() {
        ResetFakeSerialPlatform();
        InitMeasurementStore(store);
    }
    void Arrive(const std::string& bytes) {
        gFake.pendingReads.push_back(bytes);
        DrainSerial(link, store, feed, nowMs);
    }
    void Watch() { WatchLink(watch, link, chosen, 115200, nowMs); }
    const char* Word() const { return LinkStateWord(CurrentLinkState(feed, link, chosen, nowMs)); }
};

TEST(LinkStateWord, FollowsTheDeviceThroughItsLife) {
    FeedRig r;
    r.chosen = 0;
    EXPECT_STREQ(r.Word(), "no-port");
    r.chosen = 3;
    r.Watch();
    EXPECT_STREQ(r.Word(), "absent");
    gFake.presentPorts = {3};
    gFake.busyPorts = {3};
    r.nowMs += 1000, r.Watch();
    EXPECT_STREQ(r.Word(), "busy") << "the port is there, another program holds it";
    gFake.busyPorts.clear();
    r.nowMs += 1000, r.Watch();
    EXPECT_STREQ(r.Word(), "stale") << "open, no rate yet";
    r.Arrive("S1\r\nS2\r\n");
    EXPECT_STREQ(r.Word(), "stale") << "samples alone are not a rate";
    r.Arrive("B72\r\n");
    EXPECT_STREQ(r.Word(), "live");
    // The number itself, not the constant: overlays and the status page say 5 s.
    r.nowMs += 4999;
    r.Arrive("S3\r\n");
    EXPECT_STREQ(r.Word(), "live");
    r.nowMs += 1;
    EXPECT_STREQ(r.Word(), "stale") << "leads off: samples go on, rates stop, 5000 ms on";
    r.Arrive("B70\r\n");
    EXPECT_STREQ(r.Word(), "live");

    gFake.healthy = false;  // unplugged
    r.nowMs += 1000, r.Watch();
    EXPECT_STREQ(r.Word(), "gone");
    gFake.presentPorts.clear();
    r.nowMs += 1000, r.Watch();
    EXPECT_STREQ(r.Word(), "gone") << "still retrying, not merely absent";
    gFake.presentPorts = {3};
    gFake.healthy = true;
    r.nowMs += 1000, r.Watch();
    EXPECT_STREQ(r.Word(), "stale") << "a rate from before the replug is not live";
    r.Arrive("B71\r\n");
    EXPECT_STREQ(r.Word(), "live");

    gFake.failReads = true;  // pulled, and only the read notices
    r.Arrive("");
    EXPECT_STREQ(r.Word(), "gone");
    r.chosen = 4;  // the user picks another port, which is not there
    EXPECT_STREQ(r.Word(), "absent");

    // A stale name that opens at start-up and fails its first check never
    // worked: absent, not gone.
    FeedRig fresh;
    gFake.presentPorts = {3};
    OpenPort(fresh.link, 3, 115200);
    gFake.healthy = false;
    fresh.Watch();
    EXPECT_STREQ(fresh.Word(), "absent");
}

TEST(LiveFeed, CountsLinesRejectsAndBytesWithoutValidLines) {
    FeedRig r;
    gFake.presentPorts = {3};
    r.Watch();
    r.nowMs = 200000;
    r.Arrive("S1\r\nX9\r\nB300\r\nS" + std::string(30, '1') + "\r\nB60\r\n");
    EXPECT_EQ(r.feed.rejectedLines, 3u) << "unknown kind, out of range, overlong";
    EXPECT_EQ(LinesPerSecond(r.feed, r.nowMs), 0u) << "the second is not over";
    EXPECT_EQ(LinesPerSecond(r.feed, r.nowMs + 1000), 5u);
    EXPECT_EQ(LinesPerSecond(r.feed, r.nowMs + 2000), 0u);
    EXPECT_FALSE(BytesWithoutValidLines(r.feed, r.nowMs));
    r.nowMs += kLiveRateMs;
    r.Arrive("\xf0\x8c\xe0\x1c");  // wrong baud rate: bytes, never a line
    EXPECT_TRUE(BytesWithoutValidLines(r.feed, r.nowMs));
    WebSnapshot s = TakeWebSnapshot(r.feed, r.link, {3, 9600}, r.nowMs);
    char text[256];
    TextSink sink = SinkOver(text, sizeof text);
    PutStateSentence(sink, s);
    EXPECT_EQ(std::string(text, sink.length), "Bytes arrive but no line is valid: check the baud rate");
}

TEST(TextSink, EscapesEveryCharacterThatCouldOpenMarkup) {
    const struct {
        const char* text;
        const char* escaped;
    } cases[] = {
        {"<", "&lt;"},
        {">", "&gt;"},
        {"&", "&amp;"},
        {"\"", "&quot;"},
        {"'", "&#39;"},
        {"<script>alert('x')</script>", "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"},
        {"a=\"1\" & b", "a=&quot;1&quot; &amp; b"},
        {"&lt;", "&amp;lt;"},
        {"COM3 open at 115200 baud, caf\xc3\xa9", "COM3 open at 115200 baud, caf\xc3\xa9"},
        {"", ""},
    };
    for (const auto& c : cases) {
        char text[128];
        TextSink sink = SinkOver(text, sizeof text);
        PutEscaped(sink, c.text);
        EXPECT_EQ(std::string(text, sink.length), c.escaped) << c.text;
    }
    // Out of room: the reference is left out whole, never cut.
    char small[4];
    TextSink sink = SinkOver(small, sizeof small);
    PutEscaped(sink, "ab<");
    EXPECT_EQ(std::string(small, sink.length), "ab");
    EXPECT_TRUE(sink.overflowed);
}

TEST(WebStatus, JsonAndSentenceForEachState) {
    struct Case {
        WebSnapshot snapshot;
        const char* json;
        const char* sentence;
    } cases[] = {
        {{LinkState::Live, 3, 115200, true, 72, 840, 502, 0, false, kPort},
         R"({"state":"live","port":"COM3","baud":115200,"rate":72,"rate_age_ms":840,"lines_per_s":502,"rejected_lines":0,)"
         R"("open_ms":null,"bpm_file":"ok","config_file":"ok","ports":[],)"
         R"("session":{"since":null,"count":0,"min":null,"avg":null,"max":null}})",
         "COM3 open at 115200 baud, 502 lines a second"},
        {{LinkState::NoPort, 0, 0, false, 0, 0, 0, 0, false, kPort},
         R"({"state":"no-port","port":null,"baud":0,"rate":null,"rate_age_ms":null,"lines_per_s":0,"rejected_lines":0,)"
         R"("open_ms":null,"bpm_file":"ok","config_file":"ok","ports":[],)"
         R"("session":{"since":null,"count":0,"min":null,"avg":null,"max":null}})",
         "No port chosen: press F6 in Vintra and pick the device's COM port"},
        {{LinkState::Busy, 3, 9600, false, 0, 0, 0, 7, false, kPort}, nullptr,
         "COM3 is in use by another program (a serial monitor?): close it, Vintra keeps trying"},
        {{LinkState::Absent, 3, 9600, false, 0, 0, 0, 0, false, kPort}, nullptr, "No COM3: is the device plugged in?"},
        {{LinkState::Stale, 12, 0, true, 60, 6000, 500, 0, false, kPort}, nullptr,
         "COM12 open at the device's own baud rate, 500 lines a second, but no beat rate in 5 s: leads off?"},
        {{LinkState::Stale, 3, 9600, false, 0, 0, 0, 0, false, kPort}, nullptr,
         "COM3 is open but nothing arrives: is the device sending?"},
        {{LinkState::Gone, 3, 9600, true, 60, 3000, 0, 0, false, kPort}, nullptr,
         "COM3 went away: Vintra is retrying about once a second. Is the device plugged in?"},
        {{LinkState::Gone, 4, 9600, true, 60, 3000, 0, 0, false, kPort, true, true, 5040}, nullptr,
         "COM4 went away, and took 5.0 s to refuse: is it a Bluetooth port whose device is off? "
         "Vintra tries it again only now and then; pick it with F6 to try at once"},
    };
    for (const Case& c : cases) {
        if (c.json) EXPECT_EQ(Render(PutStatusJson, c.snapshot), c.json);
        EXPECT_EQ(Render(PutStateSentence, c.snapshot), c.sentence);
    }
    // The page: the sentence escaped, the rate with its age, the overlay's URL.
    std::string page = Render(PutStatusPage, cases[1].snapshot);
    EXPECT_NE(page.find(">No port chosen: press F6 in Vintra and pick the device&#39;s COM port<"), std::string::npos);
    EXPECT_NE(page.find("http://127.0.0.1:8725/overlay"), std::string::npos);
    EXPECT_NE(page.find("<meta http-equiv=\"refresh\" content=\"2\">"), std::string::npos);
    EXPECT_NE(Render(PutStatusPage, cases[0].snapshot).find("<b>72</b> bpm, 0.8 s ago."), std::string::npos);
    EXPECT_NE(Render(PutStatusPage, cases[6].snapshot).find("<b>60</b> bpm, 3.0 s ago (not live)."),
              std::string::npos);
}

std::string Answered(const std::string& request, const FeedRig& r, Answer* answer = nullptr) {
    static char text[65536];
    TextSink sink = SinkOver(text, sizeof text);
    ParsedRequest parsed = ParseRequest(request.data(), request.size(), kPort);
    WebSnapshot s = TakeWebSnapshot(r.feed, r.link, {r.chosen, 115200}, r.nowMs);
    Answer a = PutAnswer(sink, parsed, s, r.store, r.feed);
    if (answer) *answer = a;
    EXPECT_FALSE(sink.overflowed);
    return std::string(text, sink.length);
}

TEST(EventStream, OpensWithWhatTheRingsReceivedThenSendsEachTicksNews) {
    FeedRig r;
    gFake.presentPorts = {3};
    r.Watch();
    Answer answer;
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
                       "X-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n";
    std::string events = "GET /events HTTP/1.1\r\n" + kHost + "\r\n";
    EXPECT_EQ(Answered(events, r, &answer), head + "retry: 1000\n\nevent: state\ndata: stale\n\n")
        << "nothing received: no zeros from the rings";
    EXPECT_TRUE(answer.streams);

    r.Arrive("S5\r\nB60\r\nS6\r\nB61\r\n");
    EXPECT_EQ(Answered(events, r), head + "retry: 1000\n\nevent: state\ndata: live\n\n")
        << "what the next tick sends is not sent twice";
    std::string head0 = Answered("HEAD /events HTTP/1.1\r\n" + kHost + "\r\n", r, &answer);
    EXPECT_EQ(head0, head) << "HEAD: the head alone";
    EXPECT_FALSE(answer.streams);

    char text[4096];
    TextSink tick = SinkOver(text, sizeof text);
    PutTickEvents(tick, r.feed);
    EXPECT_EQ(std::string(text, tick.length), "event: samples\ndata: 5,6\n\nevent: rate\ndata: 60\n\nevent: rate\ndata: 61\n\n");
    StartNextTick(r.feed);
    EXPECT_EQ(Answered(events, r), head + "retry: 1000\n\nevent: state\ndata: live\n\nevent: samples\ndata: 5,6\n\n"
                                          "event: rate\ndata: 60\n\nevent: rate\ndata: 61\n\n");
    r.Arrive("S7\r\n");
    ClearMeasurements(r.store);
    NoteClear(r.feed);
    r.Arrive("S8\r\n");
    tick = SinkOver(text, sizeof text);
    PutTickEvents(tick, r.feed);
    EXPECT_EQ(std::string(text, tick.length), "event: clear\ndata: rings\n\nevent: samples\ndata: 8\n\n")
        << "what came before the clear is gone";
    StartNextTick(r.feed);
    EXPECT_NE(Answered(events, r).find("event: samples\ndata: 8\n\n"), std::string::npos);

    // A rate goes out ahead of the tick, after the clear that came before it;
    // its samples wait for the tick, and nothing goes out twice.
    ClearMeasurements(r.store);
    NoteClear(r.feed);
    r.Arrive("S9\r\nB70\r\n");
    tick = SinkOver(text, sizeof text);
    PutRateNews(tick, r.feed);
    EXPECT_EQ(std::string(text, tick.length), "event: clear\ndata: rings\n\nevent: rate\ndata: 70\n\n");
    RatesSent(r.feed);
    tick = SinkOver(text, sizeof text);
    PutTickEvents(tick, r.feed);
    EXPECT_EQ(std::string(text, tick.length), "event: samples\ndata: 9\n\n");
    StartNextTick(r.feed);

    // A whole ring: the opening sends exactly what the ring holds, oldest first.
    for (int i = 0; i < 450; ++i) r.Arrive("S" + std::to_string(i) + "\r\n");
    StartNextTick(r.feed);
    std::string full = Answered(events, r);
    EXPECT_NE(full.find("data: 50,51,"), std::string::npos);
    EXPECT_NE(full.find(",449\n\n"), std::string::npos);
}

// What only the platform can tell reaches status.json and the page: a slow
// refusal with its duration, a file that cannot be written and back, the
// ports with the device list's names (a driver's text, escaped both ways).
TEST(WebStatus, SlowOpensFailingWritesAndNamedPorts) {
    FeedRig r;
    r.chosen = 4;
    gFake.presentPorts = {3, 5};
    gFake.portLabels = {{3, "USB-SERIAL CH340 (COM3)"}, {5, "<i>\"x\"\\\x01&"}, {7, "not present (COM7)"}};
    auto full = [&r] {
        WebSnapshot s = TakeWebSnapshot(r.feed, r.link, {r.chosen, 9600}, r.nowMs);
        AddPortsAndFolder(s);
        return s;
    };
    auto json = [&full] { return Render(PutStatusJson, full()); };
    auto page = [&full] { return Render(PutStatusPage, full()); };
    const std::string ports =
        R"j("ports":[{"port":"COM3","name":"USB-SERIAL CH340 (COM3)"},{"port":"COM5","name":"<i>\"x\"\\ &"}],)j";

    EXPECT_NE(json().find(R"("open_ms":null,"bpm_file":"ok","config_file":"ok",)" + ports), std::string::npos)
        << json();
    EXPECT_NE(page().find("<li>COM3: USB-SERIAL CH340 (COM3)</li>\n<li>COM5: &lt;i&gt;&quot;x&quot;\\ &amp;</li>"),
              std::string::npos);

    gFake.openTakesMs = 6100;  // a Bluetooth port whose device is off
    r.Watch();
    EXPECT_NE(json().find(R"({"state":"absent",)"), std::string::npos);
    EXPECT_NE(json().find(R"("open_ms":6100,)"), std::string::npos);
    EXPECT_NE(page().find(">COM4 took 6.1 s to refuse: is it a Bluetooth port whose device is off?"),
              std::string::npos);
    gFake.openTakesMs = 20;  // refused at once, as a port that is not there
    OpenPort(r.link, 4, 9600);  // as when the user picks it: tried at once
    EXPECT_NE(json().find(R"("open_ms":20,)"), std::string::npos);
    EXPECT_NE(page().find(">No COM4: is the device plugged in?"), std::string::npos);

    r.chosen = 3;
    OpenPort(r.link, 3, 9600);
    gFake.bpmWritesFail = true;
    r.Arrive("B60\r\n");
    EXPECT_NE(json().find(R"("open_ms":null,"bpm_file":"failing","config_file":"ok")"), std::string::npos);
    EXPECT_NE(page().find("Vintra cannot write bpm.txt in <code>C:\\Users\\Ann\\Desktop\\Vintra</code>: "
                          "is the folder protected"),
              std::string::npos);
    gFake.bpmWritesFail = false;
    r.Arrive("B61\r\n");
    EXPECT_NE(json().find(R"("bpm_file":"ok")"), std::string::npos);
    EXPECT_EQ(page().find("cannot write"), std::string::npos);
}

// The longest page there can be (every port named with text that escapes to
// five times its length, both hints, a folder of the same, the widest session
// chart) is answered whole.
TEST(WebStatus, TheLongestPageFitsItsAnswer) {
    FeedRig r;
    for (uint32_t port = 1; port <= kListedPortLimit + 2; ++port) {
        gFake.presentPorts.push_back(port);
        gFake.portLabels.push_back({port, std::string(kPortLabelSize - 1, '\'')});
    }
    gFake.folder = std::string(260, '\'');
    gFake.openTakesMs = 99999;
    gFake.bpmWritesFail = true;
    r.chosen = 200;
    r.Watch();
    r.feed.beatFileFailing = true;
    Settings settings = {r.chosen, 115200};
    settings.saveFailing = true;
    // A client's output queue (kClientOutputLimit in web/win32_web_server.h).
    static char text[16384];
    for (const char* path : {"/", "/status.json"}) {
        std::string request = std::string("GET ") + path + " HTTP/1.1\r\n" + kHost + "\r\n";
        TextSink sink = SinkOver(text, sizeof text);
        ParsedRequest parsed = ParseRequest(request.data(), request.size(), kPort);
        WebSnapshot snapshot = TakeWebSnapshot(r.feed, r.link, settings, r.nowMs);
        AddPortsAndFolder(snapshot);
        snapshot.session = {4294967295u, 0, 254, 2540, -1, -1, kChartPoints, {}};
        for (uint32_t i = 0; i < kChartPoints; ++i) snapshot.session.chart[i] = i % 2 ? 254 : 0;
        PutAnswer(sink, parsed, snapshot, r.store, r.feed);
        ASSERT_FALSE(sink.overflowed) << path;
        std::string answer(text, sink.length);
        std::string end = answer.substr(answer.size() - 11);
        EXPECT_TRUE(end == "dy></html>\n" || end == "\"max\":254}}") << path << ": the body was cut: " << end;
        EXPECT_NE(answer.find("COM12"), std::string::npos) << path;
    }
}

TEST(WebAnswers, RefusalsCarryFixedBodiesAndNoCorsHeaders) {
    FeedRig r;
    struct Case {
        std::string request;
        const char* statusLine;
        const char* body;
    } cases[] = {
        {"GET / HTTP/1.1\r\nHost: evil.example\r\n\r\n", "HTTP/1.1 403 Forbidden\r\n", "Forbidden\n"},
        {"PUT / HTTP/1.1\r\n" + kHost + "\r\n", "HTTP/1.1 405 Method Not Allowed\r\n", "Method not allowed\n"},
        {"GET /x HTTP/1.1\r\n" + kHost + "\r\n", "HTTP/1.1 404 Not Found\r\n", "Not found\n"},
        {"GET / HTTP/9\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n", "Bad request\n"},
        {"GET /" + std::string(kRequestHeadLimit, 'a'), "HTTP/1.1 431 Request Header Fields Too Large\r\n",
         "Request too large\n"},
    };
    for (const Case& c : cases) {
        std::string answer = Answered(c.request.substr(0, kRequestHeadLimit), r);
        EXPECT_EQ(answer.rfind(c.statusLine, 0), 0u) << answer;
        EXPECT_EQ(answer.substr(answer.size() - std::string(c.body).size()), c.body);
        EXPECT_EQ(answer.find("Access-Control"), std::string::npos);
    }
    Answer overlay;
    std::string head = Answered("GET /overlay?x=<script> HTTP/1.1\r\n" + kHost + "\r\n", r, &overlay);
    EXPECT_NE(head.find("Content-Length: " + std::to_string(kOverlayPageLength) + "\r\n"), std::string::npos);
    EXPECT_EQ(overlay.bodyLength, kOverlayPageLength);
    std::string json = Answered("GET /status.json HTTP/1.1\r\n" + kHost + "\r\n", r);
    EXPECT_NE(json.find("Content-Type: application/json\r\n"), std::string::npos);
    EXPECT_NE(json.find("\r\n\r\n{\"state\":\"absent\""), std::string::npos);
}

}  // namespace
