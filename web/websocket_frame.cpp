#include "web/websocket_frame.h"

static ClientFrame Failed(uint16_t code) {
    ClientFrame frame = {};
    frame.verdict = FrameVerdict::Fail;
    frame.failCode = code;
    return frame;
}

ClientFrame ReadClientFrame(const uint8_t* bytes, size_t length) {
    ClientFrame frame = {};
    frame.verdict = FrameVerdict::Incomplete;
    if (length < 2) return frame;
    frame.fin = (bytes[0] & 0x80) != 0;
    frame.opcode = bytes[0] & 0x0F;
    if ((bytes[0] & 0x70) != 0) return Failed(kWsCloseProtocolError);
    bool control = (frame.opcode & 0x08) != 0;
    bool known = frame.opcode <= kWsBinary || (frame.opcode >= kWsClose && frame.opcode <= kWsPong);
    if (!known) return Failed(kWsCloseProtocolError);
    if ((bytes[1] & 0x80) == 0) return Failed(kWsCloseProtocolError);
    uint64_t payload = bytes[1] & 0x7F;
    if (control && (!frame.fin || payload > 125)) return Failed(kWsCloseProtocolError);
    size_t lengthBytes = payload == 126 ? 2 : payload == 127 ? 8 : 0;
    if (length < 2 + lengthBytes) return frame;
    if (lengthBytes > 0) {
        payload = 0;
        for (size_t i = 0; i < lengthBytes; ++i) payload = payload << 8 | bytes[2 + i];
        // The RFC asks for the fewest bytes; more would let one frame have
        // two spellings.
        uint64_t least = lengthBytes == 2 ? 126 : 65536;
        // The eight-byte form's top bit must be clear: set, it is no length
        // at all, so not a frame too big but a broken one.
        bool topBitSet = lengthBytes == 8 && (bytes[2] & 0x80) != 0;
        if (payload < least || topBitSet) return Failed(kWsCloseProtocolError);
    }
    if (payload > kClientPayloadLimit) return Failed(kWsCloseTooBig);
    frame.headerLength = 2 + lengthBytes + 4;
    frame.payloadLength = static_cast<size_t>(payload);
    if (length < frame.headerLength + frame.payloadLength) return frame;
    for (int i = 0; i < 4; ++i) frame.mask[i] = bytes[2 + lengthBytes + i];
    frame.verdict = FrameVerdict::Frame;
    return frame;
}

void UnmaskPayload(const ClientFrame& frame, const uint8_t* frameBytes, uint8_t* out) {
    const uint8_t* payload = frameBytes + frame.headerLength;
    for (size_t i = 0; i < frame.payloadLength; ++i) out[i] = payload[i] ^ frame.mask[i % 4];
}

void PutFrame(TextSink& sink, bool fin, uint8_t opcode, const uint8_t* payload, size_t length, const uint8_t* mask) {
    uint8_t header[14];
    size_t used = 0;
    header[used++] = static_cast<uint8_t>((fin ? 0x80 : 0) | (opcode & 0x0F));
    uint8_t maskBit = mask != nullptr ? 0x80 : 0;
    if (length < 126) {
        header[used++] = static_cast<uint8_t>(maskBit | length);
    } else if (length <= 0xFFFF) {
        header[used++] = static_cast<uint8_t>(maskBit | 126);
        header[used++] = static_cast<uint8_t>(length >> 8);
        header[used++] = static_cast<uint8_t>(length);
    } else {
        header[used++] = static_cast<uint8_t>(maskBit | 127);
        for (int i = 7; i >= 0; --i) header[used++] = static_cast<uint8_t>(static_cast<uint64_t>(length) >> (8 * i));
    }
    if (mask != nullptr) {
        for (int i = 0; i < 4; ++i) header[used++] = mask[i];
    }
    PutBytes(sink, reinterpret_cast<const char*>(header), used);
    if (mask == nullptr) {
        if (length > 0) PutBytes(sink, reinterpret_cast<const char*>(payload), length);
        return;
    }
    for (size_t i = 0; i < length; ++i) {
        char masked = static_cast<char>(payload[i] ^ mask[i % 4]);
        PutBytes(sink, &masked, 1);
    }
}

bool FeedUtf8(Utf8Check& check, const uint8_t* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        uint8_t b = bytes[i];
        if (check.pending > 0) {
            if (b < check.low || b > check.high) return false;
            --check.pending;
            check.low = 0x80, check.high = 0xBF;
            continue;
        }
        check.low = 0x80, check.high = 0xBF;
        if (b < 0x80) continue;
        if (b >= 0xC2 && b <= 0xDF) {
            check.pending = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            check.pending = 2;
            if (b == 0xE0) check.low = 0xA0;   // no overlong three-byte forms
            if (b == 0xED) check.high = 0x9F;  // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            check.pending = 3;
            if (b == 0xF0) check.low = 0x90;   // no overlong four-byte forms
            if (b == 0xF4) check.high = 0x8F;  // nothing above U+10FFFF
        } else {
            return false;  // a stray continuation byte, C0, C1, F5..FF
        }
    }
    return true;
}

bool Utf8Complete(const Utf8Check& check) { return check.pending == 0; }
