#include "serial/parse_unsigned.h"

static bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

ParsedNumber ParseUnsigned(const char* text, size_t length, uint32_t* value, size_t* consumed) {
    size_t i = 0;
    while (i < length && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    size_t firstDigit = i;
    uint64_t magnitude = 0;
    bool tooLarge = false;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
        if (magnitude > UINT32_MAX) {
            tooLarge = true;
            magnitude = UINT32_MAX;  // keep consuming digits without overflowing
        }
    }
    if (i == firstDigit) {
        *consumed = 0;
        return ParsedNumber::None;
    }
    *consumed = i;
    if (tooLarge) return ParsedNumber::TooLarge;
    uint32_t result = static_cast<uint32_t>(magnitude);
    *value = negative ? 0u - result : result;
    return ParsedNumber::Value;
}
