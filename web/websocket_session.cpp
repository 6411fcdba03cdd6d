#include "web/websocket_session.h"

#include <cstring>

#include "store/measurement_store.h"

void PutWsClose(TextSink& sink, uint16_t code) {
    uint8_t payload[2] = {static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code)};
    PutFrame(sink, true, kWsClose, payload, sizeof payload);
}

// Close codes a peer may send (RFC 6455 section 7.4): the defined ones that
// may appear on the wire, and the ranges kept for libraries and applications.
static bool IsSendableCloseCode(uint16_t code) {
    if (code >= 3000 && code <= 4999) return true;
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1014);
}

// Answers a client's close frame: its code echoed, or 1002/1007 for a
// malformed one.
static void AnswerClose(TextSink& replies, const uint8_t* payload, size_t length) {
    if (length == 0) {
        PutFrame(replies, true, kWsClose, nullptr, 0);
        return;
    }
    uint16_t code = length >= 2 ? static_cast<uint16_t>(payload[0] << 8 | payload[1]) : 0;
    if (length == 1 || !IsSendableCloseCode(code)) {
        PutWsClose(replies, kWsCloseProtocolError);
        return;
    }
    Utf8Check reason = {};
    if (!FeedUtf8(reason, payload + 2, length - 2) || !Utf8Complete(reason)) {
        PutWsClose(replies, kWsCloseInvalidData);
        return;
    }
    PutWsClose(replies, code);
}

// Fails the connection with `code`.
static WsReading Fail(WsSession& session, TextSink& replies, uint16_t code) {
    PutWsClose(replies, code);
    session.open = false;
    return WsReading::Closing;
}

// One whole frame; its payload already unmasked.
static WsReading TakeFrame(WsSession& session, const ClientFrame& frame, const uint8_t* payload, TextSink& replies) {
    switch (frame.opcode) {
        case kWsPing: PutFrame(replies, true, kWsPong, payload, frame.payloadLength); return WsReading::Open;
        case kWsPong: return WsReading::Open;  // unasked pongs are allowed, and mean nothing
        case kWsClose:
            AnswerClose(replies, payload, frame.payloadLength);
            session.open = false;
            return WsReading::Closing;
        case kWsBinary:
            return Fail(session, replies, session.inMessage ? kWsCloseProtocolError : kWsCloseUnsupportedData);
        case kWsText:
            if (session.inMessage) return Fail(session, replies, kWsCloseProtocolError);
            session.inMessage = true;
            session.messageLength = 0;
            session.utf8 = {};
            break;
        case kWsContinuation:
            if (!session.inMessage) return Fail(session, replies, kWsCloseProtocolError);
            break;
        default: return Fail(session, replies, kWsCloseProtocolError);
    }
    session.messageLength += frame.payloadLength;
    if (session.messageLength > kClientPayloadLimit) return Fail(session, replies, kWsCloseTooBig);
    if (!FeedUtf8(session.utf8, payload, frame.payloadLength)) return Fail(session, replies, kWsCloseInvalidData);
    if (frame.fin) {
        session.inMessage = false;
        if (!Utf8Complete(session.utf8)) return Fail(session, replies, kWsCloseInvalidData);
    }
    return WsReading::Open;
}

WsReading ReadClientFrames(WsSession& session, uint8_t* bytes, size_t& length, TextSink& replies) {
    size_t at = 0;
    WsReading reading = WsReading::Open;
    uint8_t payload[kClientPayloadLimit];
    while (reading == WsReading::Open && session.open) {
        ClientFrame frame = ReadClientFrame(bytes + at, length - at);
        if (frame.verdict == FrameVerdict::Incomplete) break;
        if (frame.verdict == FrameVerdict::Fail) {
            reading = Fail(session, replies, frame.failCode);
            break;
        }
        UnmaskPayload(frame, bytes + at, payload);
        at += frame.headerLength + frame.payloadLength;
        reading = TakeFrame(session, frame, payload, replies);
    }
    if (reading == WsReading::Closing) {
        length = 0;  // nothing after a close counts
        return reading;
    }
    std::memmove(bytes, bytes + at, length - at);
    length -= at;
    return reading;
}

// One JSON object as a text frame.
static void PutMessage(TextSink& sink, const TextSink& json) {
    PutFrame(sink, true, kWsText, reinterpret_cast<const uint8_t*>(json.data), json.length);
}

static void PutStateMessage(TextSink& sink, WsSession& session, LinkState state) {
    char text[48];
    TextSink json = SinkOver(text, sizeof text);
    PutText(json, "{\"type\":\"state\",\"state\":\"");
    PutText(json, LinkStateWord(state));
    PutText(json, "\"}");
    PutMessage(sink, json);
    session.stateSent = true;
    session.sentState = state;
    // The first live rate after a break places the zone afresh.
    if (state != LinkState::Live) session.zone = kNoZone;
}

// A rate, and its zone when it moved into another one while live.
static void PutRateMessages(TextSink& sink, WsSession& session, LinkState state, uint8_t rate) {
    char text[64];
    TextSink json = SinkOver(text, sizeof text);
    PutText(json, "{\"type\":\"rate\",\"bpm\":");
    PutNumber(json, rate);
    PutText(json, "}");
    PutMessage(sink, json);
    if (session.zones.count == 0 || state != LinkState::Live) return;
    int zone = NextZone(session.zones, session.zone, rate);
    if (zone == session.zone) return;
    session.zone = zone;
    json = SinkOver(text, sizeof text);
    PutText(json, "{\"type\":\"zone\",\"zone\":");
    PutNumber(json, static_cast<uint64_t>(zone));
    PutText(json, ",\"bpm\":");
    PutNumber(json, rate);
    PutText(json, "}");
    PutMessage(sink, json);
}

void PutWsOpening(TextSink& sink, WsSession& session, LinkState state, const LiveFeed& feed) {
    session.zone = kNoZone;
    PutStateMessage(sink, session, state);
    if (state == LinkState::Live && feed.hasRate && feed.newRateCount == 0) {
        PutRateMessages(sink, session, state, feed.rate);
    }
}

// Room for a tick's samples as JSON: up to kTickSampleLimit values of five
// digits and a comma each.
constexpr size_t kSamplesJsonLimit = 48 + kTickSampleLimit * 6;

static void PutSamplesMessage(TextSink& sink, const LiveFeed& feed) {
    NewsWindow samples = NewSamples(feed);
    if (samples.count == 0) return;
    char text[kSamplesJsonLimit];
    TextSink json = SinkOver(text, sizeof text);
    PutText(json, "{\"type\":\"samples\",\"values\":[");
    PutNumberList(json, feed.newSamples, kTickSampleLimit, samples.start, samples.count);
    PutText(json, "]}");
    PutMessage(sink, json);
}

void PutWsNews(TextSink& sink, WsSession& session, LinkState state, const LiveFeed& feed, bool tick) {
    if (!session.stateSent || state != session.sentState) PutStateMessage(sink, session, state);
    NewsWindow rates = NewRates(feed);
    for (uint32_t i = 0; i < rates.count; ++i) {
        PutRateMessages(sink, session, state, feed.newRates[(rates.start + i) % kTickRateLimit]);
    }
    if (tick && session.wantsSamples) PutSamplesMessage(sink, feed);
}
