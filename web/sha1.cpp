#include "web/sha1.h"

#include <cstring>

static uint32_t RotateLeft(uint32_t value, int bits) { return (value << bits) | (value >> (32 - bits)); }

// One 64-byte block into the running state.
static void Sha1Block(uint32_t state[5], const uint8_t block[64]) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i) {
        w[i] = static_cast<uint32_t>(block[4 * i]) << 24 | static_cast<uint32_t>(block[4 * i + 1]) << 16 |
               static_cast<uint32_t>(block[4 * i + 2]) << 8 | block[4 * i + 3];
    }
    for (int i = 16; i < 80; ++i) w[i] = RotateLeft(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (int i = 0; i < 80; ++i) {
        uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d), k = 0x5A827999;
        } else if (i < 40) {
            f = b ^ c ^ d, k = 0x6ED9EBA1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d, k = 0xCA62C1D6;
        }
        uint32_t t = RotateLeft(a, 5) + f + e + k + w[i];
        e = d, d = c, c = RotateLeft(b, 30), b = a, a = t;
    }
    state[0] += a, state[1] += b, state[2] += c, state[3] += d, state[4] += e;
}

void Sha1(const uint8_t* bytes, size_t length, uint8_t digest[kSha1Bytes]) {
    uint32_t state[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    size_t whole = length / 64 * 64;
    for (size_t at = 0; at < whole; at += 64) Sha1Block(state, bytes + at);
    // The tail, the 0x80 marker and the bit length, in one block or two.
    uint8_t tail[128] = {};
    size_t rest = length - whole;
    if (rest > 0) std::memcpy(tail, bytes + whole, rest);
    tail[rest] = 0x80;
    size_t tailLength = rest + 1 + 8 <= 64 ? 64 : 128;
    uint64_t bits = static_cast<uint64_t>(length) * 8;
    for (int i = 0; i < 8; ++i) tail[tailLength - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
    for (size_t at = 0; at < tailLength; at += 64) Sha1Block(state, tail + at);
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<uint8_t>(state[i] >> (24 - 8 * j));
    }
}

void Base64(const uint8_t* bytes, size_t length, char* out) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t o = 0;
    for (size_t i = 0; i < length; i += 3) {
        uint32_t group = static_cast<uint32_t>(bytes[i]) << 16;
        if (i + 1 < length) group |= static_cast<uint32_t>(bytes[i + 1]) << 8;
        if (i + 2 < length) group |= bytes[i + 2];
        out[o++] = kAlphabet[group >> 18 & 63];
        out[o++] = kAlphabet[group >> 12 & 63];
        out[o++] = i + 1 < length ? kAlphabet[group >> 6 & 63] : '=';
        out[o++] = i + 2 < length ? kAlphabet[group & 63] : '=';
    }
    out[o] = '\0';
}
