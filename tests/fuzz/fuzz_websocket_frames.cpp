// Arbitrary bytes as what a WebSocket client sends after the handshake, in
// pieces the input chooses: never a crash, never a read past what arrived,
// and every frame the reader accepts is the one way to write it.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "web/websocket_frame.h"
#include "web/websocket_session.h"

namespace {

char gReplies[1 << 16];

// Checks the frame at the start of bytes[0..length) against its re-encoding.
void CheckOneFrame(const uint8_t* bytes, size_t length) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[length]);  // exactly `length`: reading past it is caught
    if (length > 0) std::memcpy(copy.get(), bytes, length);
    ClientFrame frame = ReadClientFrame(copy.get(), length);
    if (frame.verdict == FrameVerdict::Fail) {
        FUZZ_CHECK(frame.failCode == kWsCloseProtocolError || frame.failCode == kWsCloseTooBig);
        return;
    }
    if (frame.verdict != FrameVerdict::Frame) return;
    size_t frameLength = frame.headerLength + frame.payloadLength;
    FUZZ_CHECK(frameLength <= length && frame.payloadLength <= kClientPayloadLimit);
    std::vector<uint8_t> payload(frame.payloadLength);
    UnmaskPayload(frame, copy.get(), payload.data());
    std::vector<char> again(frameLength + 16);
    TextSink sink = SinkOver(again.data(), again.size());
    PutFrame(sink, frame.fin, frame.opcode, payload.data(), payload.size(), frame.mask);
    FUZZ_CHECK(sink.length == frameLength && std::memcmp(again.data(), copy.get(), frameLength) == 0);
    // A shorter piece of an accepted frame is only ever waited on.
    for (size_t cut : {frameLength - 1, frameLength / 2, static_cast<size_t>(1)}) {
        if (cut >= frameLength) continue;
        FUZZ_CHECK(ReadClientFrame(copy.get(), cut).verdict == FrameVerdict::Incomplete);
    }
}

}  // namespace

// Byte 0 chooses the size of each arrival; the rest is the stream of bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t step = data[0] % 32 + 1;
    const uint8_t* bytes = data + 1;
    size_t length = size - 1;
    CheckOneFrame(bytes, length);

    // The stream as the server holds it: a buffer the size of a request head.
    WsSession session = {};
    session.open = true;
    std::vector<uint8_t> held;
    TextSink replies = SinkOver(gReplies, sizeof gReplies);
    for (size_t at = 0; at < length && session.open; at += step) {
        size_t piece = length - at < step ? length - at : step;
        held.insert(held.end(), bytes + at, bytes + at + piece);
        std::unique_ptr<uint8_t[]> exact(new uint8_t[held.size()]);
        std::memcpy(exact.get(), held.data(), held.size());
        size_t left = held.size();
        WsReading reading = ReadClientFrames(session, exact.get(), left, replies);
        FUZZ_CHECK(left <= held.size());
        // What is left is less than one frame: the buffer never fills.
        FUZZ_CHECK(left < kClientFrameLimit);
        FUZZ_CHECK((reading == WsReading::Closing) == !session.open);
        held.assign(exact.get(), exact.get() + left);
    }
    return 0;
}
