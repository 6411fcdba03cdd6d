#include "web/osc_message.h"

#include <cstring>

// Writes `text` with its terminating zero, padded with zeros to a multiple of
// 4 bytes, as OSC strings are; false when it does not fit.
static bool PutOscString(char* out, size_t capacity, size_t& at, const char* text) {
    size_t length = std::strlen(text);
    size_t padded = (length + 4) & ~static_cast<size_t>(3);
    if (padded > capacity - at) return false;
    std::memcpy(out + at, text, length);
    std::memset(out + at + length, 0, padded - length);
    at += padded;
    return true;
}

// Writes 32 bits most significant byte first (OSC's byte order, whatever the machine's).
static bool PutBigEndian32(char* out, size_t capacity, size_t& at, uint32_t bits) {
    if (capacity - at < 4) return false;
    for (int shift = 24; shift >= 0; shift -= 8) out[at++] = static_cast<char>((bits >> shift) & 0xFF);
    return true;
}

// The address and the type tag string, shared by every kind of message.
static bool PutOscHead(char* out, size_t capacity, size_t& at, const char* address, const char* tags) {
    return PutOscString(out, capacity, at, address) && PutOscString(out, capacity, at, tags);
}

size_t EncodeOscInt(char* out, size_t capacity, const char* address, int32_t value) {
    size_t at = 0;
    bool fits = PutOscHead(out, capacity, at, address, ",i") &&
                PutBigEndian32(out, capacity, at, static_cast<uint32_t>(value));
    return fits ? at : 0;
}

size_t EncodeOscFloat(char* out, size_t capacity, const char* address, float value) {
    static_assert(sizeof(float) == 4, "OSC floats are IEEE 754 single precision");
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    size_t at = 0;
    bool fits = PutOscHead(out, capacity, at, address, ",f") && PutBigEndian32(out, capacity, at, bits);
    return fits ? at : 0;
}

size_t EncodeOscBool(char* out, size_t capacity, const char* address, bool value) {
    size_t at = 0;
    return PutOscHead(out, capacity, at, address, value ? ",T" : ",F") ? at : 0;
}
