#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "web/sha1.h"
#include "web/websocket_frame.h"
#include "web/websocket_handshake.h"
#include "web/websocket_session.h"
#include "web/zones.h"

namespace {

std::string Hex(const uint8_t* bytes, size_t length) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) text += {kDigits[bytes[i] >> 4], kDigits[bytes[i] & 15]};
    return text;
}

std::string Sha1Hex(const std::string& text) {
    uint8_t digest[kSha1Bytes];
    Sha1(reinterpret_cast<const uint8_t*>(text.data()), text.size(), digest);
    return Hex(digest, sizeof digest);
}

TEST(Sha1, StandardVectorsAndTheHandshakeExample) {
    // FIPS 180 examples, and lengths around the padding's block edge.
    EXPECT_EQ(Sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Sha1Hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(Sha1Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(Sha1Hex(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(Sha1Hex(std::string(55, 'a')), "c1c8bbdc22796e28c0e15163d20899b65621d65a");
    EXPECT_EQ(Sha1Hex(std::string(64, 'a')), "0098ba824b5c16427bd7a1122a5a442a25ec644d");

    char accept[29];
    WebSocketAccept("dGhlIHNhbXBsZSBub25jZQ==", 24, accept);
    EXPECT_STREQ(accept, "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");

    const struct {
        const char* bytes;
        const char* base64;
    } kBase64[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}};
    for (const auto& c : kBase64) {
        char out[16];
        Base64(reinterpret_cast<const uint8_t*>(c.bytes), std::strlen(c.bytes), out);
        EXPECT_STREQ(out, c.base64) << c.bytes;
    }
}

const char kKey[] = "dGhlIHNhbXBsZSBub25jZQ==";

std::string Handshake(const std::string& target, const std::string& extra) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:8725\r\nUpgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n"
           "Sec-WebSocket-Key: " + kKey + "\r\n" + extra + "\r\n";
}

// `head` with its first `from` replaced by `to`.
std::string With(std::string head, const std::string& from, const std::string& to) {
    return head.replace(head.find(from), from.size(), to);
}

TEST(WebSocketHandshake, AcceptsOwnOriginOrNoneAndRefusesTheRest) {
    const std::string v13 = "Sec-WebSocket-Version: 13\r\n";
    const struct {
        std::string head;
        UpgradeVerdict verdict;
        const char* status;
    } kCases[] = {
        {Handshake("/ws", v13), UpgradeVerdict::Accepted, "HTTP/1.1 101 "},
        {Handshake("/ws", v13 + "Origin: http://127.0.0.1:8725\r\n"), UpgradeVerdict::Accepted, "HTTP/1.1 101 "},
        {Handshake("/ws", v13 + "Origin: http://localhost:8725\r\n"), UpgradeVerdict::Accepted, "HTTP/1.1 101 "},
        {Handshake("/ws", v13 + "Origin: http://127.0.0.2:8725\r\n"), UpgradeVerdict::ForeignOrigin, "HTTP/1.1 403 "},
        {Handshake("/ws", v13 + "Origin: http://127.0.0.1:8726\r\n"), UpgradeVerdict::ForeignOrigin, "HTTP/1.1 403 "},
        {Handshake("/ws", v13 + "Origin: http://127.0.0.1:8725.evil.example\r\n"), UpgradeVerdict::ForeignOrigin,
         "HTTP/1.1 403 "},
        {Handshake("/ws", v13 + "Origin: null\r\n"), UpgradeVerdict::ForeignOrigin, "HTTP/1.1 403 "},
        // The bare name is its own only on port 80, and another scheme is another origin.
        {Handshake("/ws", v13 + "Origin: http://127.0.0.1\r\n"), UpgradeVerdict::ForeignOrigin, "HTTP/1.1 403 "},
        {Handshake("/ws", v13 + "Origin: https://127.0.0.1:8725\r\n"), UpgradeVerdict::ForeignOrigin, "HTTP/1.1 403 "},
        {Handshake("/ws", v13 + "Origin: http://127.0.0.1:8725\r\nOrigin: http://evil.example\r\n"),
         UpgradeVerdict::ForeignOrigin, "HTTP/1.1 403 "},
        {Handshake("/ws", "Sec-WebSocket-Version: 8\r\n"), UpgradeVerdict::OtherVersion, "HTTP/1.1 426 "},
        {Handshake("/ws", ""), UpgradeVerdict::OtherVersion, "HTTP/1.1 426 "},
        {"GET /ws HTTP/1.1\r\nHost: 127.0.0.1:8725\r\n\r\n", UpgradeVerdict::Bad, "HTTP/1.1 400 "},
        {Handshake("/ws", v13 + "Sec-WebSocket-Key: AAAAAAAAAAAAAAAAAAAAAA==\r\n"), UpgradeVerdict::Bad,
         "HTTP/1.1 400 "},
        {With(Handshake("/ws", v13), "Q==", "Q"), UpgradeVerdict::Bad, "HTTP/1.1 400 "},
        {With(Handshake("/ws", v13), "HTTP/1.1", "HTTP/1.0"), UpgradeVerdict::Bad, "HTTP/1.1 400 "},
        {With(Handshake("/ws", v13), "keep-alive, Upgrade", "keep-alive"), UpgradeVerdict::Bad, "HTTP/1.1 400 "},
        {With(Handshake("/ws", v13), "Upgrade: websocket", "Upgrade: h2c"), UpgradeVerdict::Bad, "HTTP/1.1 400 "},
        {Handshake("/ws?zones=140,100", v13), UpgradeVerdict::Bad, "HTTP/1.1 400 "},
        {Handshake("/ws?samples=yes", v13), UpgradeVerdict::Bad, "HTTP/1.1 400 "},
    };
    // One session throughout, as a server reuses a client's slot: nothing of
    // an earlier client may outlive the next handshake.
    WsSession session = {};
    for (const auto& c : kCases) {
        char out[1024];
        TextSink sink = SinkOver(out, sizeof out);
        EXPECT_EQ(PutUpgradeAnswer(sink, c.head.data(), c.head.size(), 8725, session), c.verdict) << c.head;
        std::string answer(out, sink.length);
        EXPECT_EQ(answer.rfind(c.status, 0), 0u) << answer;
        EXPECT_EQ(session.open, c.verdict == UpgradeVerdict::Accepted);
        if (c.verdict == UpgradeVerdict::Accepted) {
            EXPECT_NE(answer.find("\r\nSec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"), std::string::npos);
            EXPECT_EQ(answer.substr(answer.size() - 4), "\r\n\r\n");
        } else {
            EXPECT_EQ(answer.find("Sec-WebSocket-Accept"), std::string::npos);
        }
    }

    std::string withQuery = Handshake("/ws?samples=1&zones=100%2C140&x=y", v13);
    char out[512];
    TextSink sink = SinkOver(out, sizeof out);
    ASSERT_EQ(PutUpgradeAnswer(sink, withQuery.data(), withQuery.size(), 8725, session), UpgradeVerdict::Accepted);
    EXPECT_TRUE(session.wantsSamples);
    ASSERT_EQ(session.zones.count, 2u);
    EXPECT_EQ(session.zones.thresholds[1], 140u);
    std::string plain = Handshake("/ws", v13);
    sink = SinkOver(out, sizeof out);
    ASSERT_EQ(PutUpgradeAnswer(sink, plain.data(), plain.size(), 8725, session), UpgradeVerdict::Accepted);
    EXPECT_FALSE(session.wantsSamples);
    EXPECT_EQ(session.zones.count, 0u);
}

TEST(Zones, ParsingAndHysteresis) {
    const struct {
        const char* text;
        uint32_t count;
    } kParse[] = {{"100", 1}, {"100,140", 2}, {"60,80,100,120,140", 5}, {"60,80,100,120,140,160", 0}, {"140,100", 0},
                  {"100,100", 0}, {"0", 0}, {"255", 0}, {"254", 1}, {"", 0}, {"100,", 0}, {",100", 0},
                  {"1000", 0}, {"10a", 0}, {"-5", 0}, {"100%2c140", 2}, {"100%2", 0}};
    for (const auto& c : kParse) {
        Zones zones;
        EXPECT_EQ(ParseZones(c.text, std::strlen(c.text), zones), c.count > 0) << c.text;
        EXPECT_EQ(zones.count, c.count) << c.text;
    }

    // Each walk: thresholds, then rates and the zone after each.
    const struct {
        const char* thresholds;
        std::vector<std::pair<uint32_t, int>> walk;
    } kWalks[] = {
        {"100", {{90, 0}, {101, 1}, {99, 1}, {98, 1}, {96, 0}, {104, 1}}},
        {"100", {{97, 0}, {100, 1}, {97, 1}, {96, 0}, {99, 0}}},
        {"100", {{120, 1}}},  // the first rate lands straight in its zone
        {"100,140", {{150, 2}, {137, 2}, {136, 1}, {90, 0}, {141, 2}, {98, 1}}},
        {"100,140", {{141, 2}, {96, 0}}},  // a fall past two thresholds leaves both
    };
    for (const auto& w : kWalks) {
        Zones zones;
        ASSERT_TRUE(ParseZones(w.thresholds, std::strlen(w.thresholds), zones));
        int zone = kNoZone;
        for (auto [bpm, expected] : w.walk) {
            zone = NextZone(zones, zone, bpm);
            EXPECT_EQ(zone, expected) << w.thresholds << " at " << bpm;
        }
    }
}

std::vector<uint8_t> ClientFrameBytes(bool fin, uint8_t opcode, const std::string& payload) {
    const uint8_t mask[4] = {0x37, 0xfa, 0x21, 0x3d};
    std::vector<uint8_t> out(payload.size() + 16);
    TextSink sink = SinkOver(reinterpret_cast<char*>(out.data()), out.size());
    PutFrame(sink, fin, opcode, reinterpret_cast<const uint8_t*>(payload.data()), payload.size(), mask);
    out.resize(sink.length);
    return out;
}

// Feeds `bytes` to a fresh session one byte at a time, as they might arrive;
// returns the replies and whether it is closing.
std::string Replies(const std::vector<uint8_t>& bytes, WsReading& reading) {
    WsSession session = {};
    session.open = true;
    std::vector<uint8_t> pending;
    char out[8192];
    TextSink replies = SinkOver(out, sizeof out);
    reading = WsReading::Open;
    for (uint8_t b : bytes) {
        pending.push_back(b);
        size_t length = pending.size();
        reading = ReadClientFrames(session, pending.data(), length, replies);
        pending.resize(length);
        if (reading == WsReading::Closing) break;
    }
    return std::string(out, replies.length);
}

std::string CloseBytes(uint16_t code) { return {'\x88', '\x02', static_cast<char>(code >> 8), static_cast<char>(code)}; }

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(WebSocketFrames, PingCloseAndTheCloseCodes) {
    const std::string pong = {'\x8a', '\x05', 'h', 'e', 'l', 'l', 'o'};
    std::vector<uint8_t> unmasked = {0x81, 0x02, 'h', 'i'};
    std::vector<uint8_t> rsv = ClientFrameBytes(true, kWsText, "hi");
    rsv[0] |= 0x40;
    std::vector<uint8_t> rsv3 = ClientFrameBytes(true, kWsText, "hi");
    rsv3[0] |= 0x10;
    std::vector<uint8_t> longLength = ClientFrameBytes(true, kWsText, "hi");
    longLength[1] = 0x80 | 126;
    longLength.insert(longLength.begin() + 2, {0x00, 0x02});  // 2 in two bytes: not the fewest
    std::vector<uint8_t> longerLength = ClientFrameBytes(true, kWsText, std::string(200, 'x'));
    longerLength[1] = 0x80 | 127;
    longerLength.insert(longerLength.begin() + 2, 6, 0x00);  // 200 in eight bytes, not two
    std::vector<uint8_t> topBitLength = {0x81, 0x80 | 127, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 1, 2, 3, 4};
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        std::string replies;
        bool closing;
    } kCases[] = {
        {"ping", ClientFrameBytes(true, kWsPing, "hello"), pong, false},
        {"text ignored", ClientFrameBytes(true, kWsText, "{\"hi\":\"\xc3\xa9\"}"), "", false},
        {"unasked pong", ClientFrameBytes(true, kWsPong, ""), "", false},
        {"fragmented text, ping between",
         Join({ClientFrameBytes(false, kWsText, "a\xc3"), ClientFrameBytes(true, kWsPing, "hello"),
               ClientFrameBytes(true, kWsContinuation, "\xa9")}),
         pong, false},
        {"close echoed", ClientFrameBytes(true, kWsClose, CloseBytes(1001).substr(2) + "bye"), CloseBytes(1001), true},
        {"empty close", ClientFrameBytes(true, kWsClose, ""), {'\x88', '\x00'}, true},
        {"close of one byte", ClientFrameBytes(true, kWsClose, "x"), CloseBytes(1002), true},
        {"close with bad UTF-8 reason", ClientFrameBytes(true, kWsClose, CloseBytes(1000).substr(2) + "\xff"),
         CloseBytes(1007), true},
        {"unmasked", unmasked, CloseBytes(1002), true},
        {"reserved bit", rsv, CloseBytes(1002), true},
        {"third reserved bit", rsv3, CloseBytes(1002), true},
        {"length not in fewest bytes", longLength, CloseBytes(1002), true},
        {"eight-byte length under 64 KB", longerLength, CloseBytes(1002), true},
        {"eight-byte length with its top bit set", topBitLength, CloseBytes(1002), true},
        {"reserved opcode", ClientFrameBytes(true, 0x3, ""), CloseBytes(1002), true},
        {"fragmented ping", ClientFrameBytes(false, kWsPing, ""), CloseBytes(1002), true},
        {"long ping", ClientFrameBytes(true, kWsPing, std::string(126, 'p')), CloseBytes(1002), true},
        {"continuation with no message", ClientFrameBytes(true, kWsContinuation, "a"), CloseBytes(1002), true},
        {"text inside a text", Join({ClientFrameBytes(false, kWsText, "a"), ClientFrameBytes(true, kWsText, "b")}),
         CloseBytes(1002), true},
        {"binary", ClientFrameBytes(true, kWsBinary, "\x01"), CloseBytes(1003), true},
        {"binary inside a text", Join({ClientFrameBytes(false, kWsText, "a"), ClientFrameBytes(true, kWsBinary, "b")}),
         CloseBytes(1002), true},
        {"bad UTF-8", ClientFrameBytes(true, kWsText, "a\xc0\xaf"), CloseBytes(1007), true},
        {"overlong three-byte form", ClientFrameBytes(true, kWsText, "\xe0\x80\xaf"), CloseBytes(1007), true},
        {"overlong four-byte form", ClientFrameBytes(true, kWsText, "\xf0\x80\x80\xaf"), CloseBytes(1007), true},
        {"surrogate", ClientFrameBytes(true, kWsText, "\xed\xa0\x80"), CloseBytes(1007), true},
        {"above U+10FFFF", ClientFrameBytes(true, kWsText, "\xf4\x90\x80\x80"), CloseBytes(1007), true},
        {"text ends mid-character", ClientFrameBytes(true, kWsText, "\xe2\x82"), CloseBytes(1007), true},
        {"4 KB text", ClientFrameBytes(true, kWsText, std::string(4096, 'x')), "", false},
        {"frame over 4 KB", ClientFrameBytes(true, kWsText, std::string(4097, 'x')), CloseBytes(1009), true},
        {"message over 4 KB",
         Join({ClientFrameBytes(false, kWsText, std::string(4000, 'x')),
               ClientFrameBytes(true, kWsContinuation, std::string(97, 'x'))}),
         CloseBytes(1009), true},
    };
    for (const auto& c : kCases) {
        WsReading reading;
        EXPECT_EQ(Replies(c.bytes, reading), c.replies) << c.name;
        EXPECT_EQ(reading == WsReading::Closing, c.closing) << c.name;
    }

    // The codes a peer may send come back; reserved ones, and those never
    // sent on the wire (1005, 1006), are answered with 1002.
    const std::pair<uint16_t, uint16_t> kCloseCodes[] = {
        {999, 1002},  {1000, 1000}, {1003, 1003}, {1004, 1002}, {1005, 1002}, {1006, 1002}, {1007, 1007},
        {1014, 1014}, {1015, 1002}, {2999, 1002}, {3000, 3000}, {4999, 4999}, {5000, 1002}};
    for (auto [code, answer] : kCloseCodes) {
        WsReading reading;
        EXPECT_EQ(Replies(ClientFrameBytes(true, kWsClose, CloseBytes(code).substr(2)), reading), CloseBytes(answer))
            << code;
    }
}

// The text of each server frame in `bytes` (all unmasked, unfragmented text).
std::vector<std::string> Messages(const char* bytes, size_t length) {
    std::vector<std::string> texts;
    for (size_t at = 0; at + 2 <= length;) {
        EXPECT_EQ(static_cast<uint8_t>(bytes[at]), 0x81);
        size_t payload = static_cast<uint8_t>(bytes[at + 1]);
        size_t header = 2;
        if (payload == 126) {
            payload = static_cast<uint8_t>(bytes[at + 2]) << 8 | static_cast<uint8_t>(bytes[at + 3]);
            header = 4;
        }
        texts.emplace_back(bytes + at + header, payload);
        at += header + payload;
    }
    return texts;
}

TEST(WebSocketMessages, OpeningThenStateRatesZonesAndSamples) {
    LiveFeed feed = {};
    WsSession session = {};
    session.open = true;
    session.wantsSamples = true;
    ASSERT_TRUE(ParseZones("100", 3, session.zones));
    char out[16384];
    // What a new client gets on opening, its session a copy of `from`.
    auto openingFor = [&](const WsSession& from, LinkState state) {
        WsSession fresh = from;
        TextSink sink = SinkOver(out, sizeof out);
        PutWsOpening(sink, fresh, state, feed);
        return Messages(out, sink.length);
    };
    // Each step: rates stored (and samples), the state then, a tick or not, and the messages.
    const struct {
        std::vector<uint8_t> rates;
        std::vector<uint16_t> samples;
        LinkState state;
        bool tick;
        std::vector<std::string> messages;
    } kSteps[] = {
        {{90}, {}, LinkState::Live, false,
         {"{\"type\":\"state\",\"state\":\"live\"}", "{\"type\":\"rate\",\"bpm\":90}",
          "{\"type\":\"zone\",\"zone\":0,\"bpm\":90}"}},
        {{101, 99}, {512, 530}, LinkState::Live, true,
         {"{\"type\":\"rate\",\"bpm\":101}", "{\"type\":\"zone\",\"zone\":1,\"bpm\":101}",
          "{\"type\":\"rate\",\"bpm\":99}", "{\"type\":\"samples\",\"values\":[512,530]}"}},
        {{}, {}, LinkState::Live, true, {}},
        {{96}, {}, LinkState::Live, false, {"{\"type\":\"rate\",\"bpm\":96}", "{\"type\":\"zone\",\"zone\":0,\"bpm\":96}"}},
        {{}, {}, LinkState::Stale, true, {"{\"type\":\"state\",\"state\":\"stale\"}"}},
        // Live again: the zone is placed afresh, even the same one.
        {{97}, {}, LinkState::Live, false,
         {"{\"type\":\"state\",\"state\":\"live\"}", "{\"type\":\"rate\",\"bpm\":97}",
          "{\"type\":\"zone\",\"zone\":0,\"bpm\":97}"}},
    };
    // No rate yet: the state alone.
    EXPECT_EQ(openingFor(session, LinkState::Live),
              std::vector<std::string>{"{\"type\":\"state\",\"state\":\"live\"}"});
    TextSink opening = SinkOver(out, sizeof out);
    PutWsOpening(opening, session, LinkState::Stale, feed);
    EXPECT_EQ(Messages(out, opening.length), std::vector<std::string>{"{\"type\":\"state\",\"state\":\"stale\"}"});
    for (const auto& step : kSteps) {
        for (uint8_t r : step.rates) NoteLine(feed, {RecordKind::BeatRate, r}, 0, 1000);
        for (uint16_t s : step.samples) NoteLine(feed, {RecordKind::Sample, s}, 0, 1000);
        TextSink sink = SinkOver(out, sizeof out);
        PutWsNews(sink, session, step.state, feed, step.tick);
        EXPECT_EQ(Messages(out, sink.length), step.messages);
        StartNextTick(feed);
    }

    // A client connecting while live gets the state, the latest rate and its
    // zone; while not live, the state alone.
    EXPECT_EQ(openingFor(session, LinkState::Live),
              (std::vector<std::string>{"{\"type\":\"state\",\"state\":\"live\"}", "{\"type\":\"rate\",\"bpm\":97}",
                                        "{\"type\":\"zone\",\"zone\":0,\"bpm\":97}"}));
    EXPECT_EQ(openingFor(session, LinkState::Stale),
              std::vector<std::string>{"{\"type\":\"state\",\"state\":\"stale\"}"});

    // One connecting while a rate waits for the news gets that rate once, with the news.
    NoteLine(feed, {RecordKind::BeatRate, 120}, 0, 1000);
    WsSession early = {};
    TextSink sink = SinkOver(out, sizeof out);
    PutWsOpening(sink, early, LinkState::Live, feed);
    PutWsNews(sink, early, LinkState::Live, feed, false);
    EXPECT_EQ(Messages(out, sink.length),
              (std::vector<std::string>{"{\"type\":\"state\",\"state\":\"live\"}", "{\"type\":\"rate\",\"bpm\":120}"}));
}

}  // namespace
