#pragma once
// WebSocket framing (RFC 6455 section 5): reading a client's frame header as
// bytes arrive, writing frames, and checking UTF-8 as text arrives. Clients
// must mask; the server never does.
#include <cstddef>
#include <cstdint>

#include "web/text_sink.h"

// The largest payload taken from a client, and the largest message: a client
// has nothing to tell us but pings and a close.
constexpr size_t kClientPayloadLimit = 4096;
// The largest client frame: a 14-byte header and the payload.
constexpr size_t kClientFrameLimit = 14 + kClientPayloadLimit;

enum WsOpcode : uint8_t {
    kWsContinuation = 0x0,
    kWsText = 0x1,
    kWsBinary = 0x2,
    kWsClose = 0x8,
    kWsPing = 0x9,
    kWsPong = 0xA,
};

// Close codes (RFC 6455 section 7.4.1).
constexpr uint16_t kWsCloseNormal = 1000;
constexpr uint16_t kWsCloseProtocolError = 1002;
constexpr uint16_t kWsCloseUnsupportedData = 1003;
constexpr uint16_t kWsCloseInvalidData = 1007;
constexpr uint16_t kWsCloseTooBig = 1009;

enum class FrameVerdict {
    Incomplete,  // not all of the frame has arrived: wait for more bytes
    Frame,       // a whole, well-formed frame
    Fail,        // the connection must close with `failCode`
};

struct ClientFrame {
    FrameVerdict verdict;
    uint16_t failCode;     // for Fail: the close code to send
    bool fin;              // the last frame of its message
    uint8_t opcode;        // WsOpcode
    uint8_t mask[4];       // the client's masking key
    size_t headerLength;   // bytes before the payload
    size_t payloadLength;  // payload bytes
};

// Reads the frame at bytes[0..length). A header that breaks a rule fails as
// soon as the bytes that break it have arrived, before its payload: an
// unmasked frame, reserved bits (no extension is agreed), an unknown opcode,
// a control frame that is fragmented or longer than 125 bytes, a length not
// written in the fewest bytes (1002); a payload over kClientPayloadLimit (1009).
ClientFrame ReadClientFrame(const uint8_t* bytes, size_t length);

// Copies the frame's payload out of `frameBytes` (the frame from its first
// byte), unmasked, into `out` (room for frame.payloadLength bytes).
void UnmaskPayload(const ClientFrame& frame, const uint8_t* frameBytes, uint8_t* out);

// Writes one frame with its length in the fewest bytes; `mask` null for the
// server's frames, a client's key to write what a client would send.
void PutFrame(TextSink& sink, bool fin, uint8_t opcode, const uint8_t* payload, size_t length,
              const uint8_t* mask = nullptr);

// UTF-8 checked byte by byte, across the frames of one message: rejects
// overlong forms, surrogates and code points above U+10FFFF as soon as the
// byte that makes them so arrives.
struct Utf8Check {
    uint8_t pending;  // continuation bytes still due for the current character
    uint8_t low;      // the lowest byte allowed next while pending
    uint8_t high;     // the highest
};

// Feeds bytes; false when they cannot be valid UTF-8 whatever follows.
bool FeedUtf8(Utf8Check& check, const uint8_t* bytes, size_t length);

// True when the text fed so far ends on a whole character.
bool Utf8Complete(const Utf8Check& check);
