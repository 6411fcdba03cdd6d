// Line classification matching the receiver's "%u" decoding and its 15-byte buffer.
#include "sim_line.h"

#include <cstdint>

namespace {

// Whitespace as the C library's isspace sees it in the "C" locale.
bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads the value the way "%u" does: blanks, an optional sign, digits. Returns false
// when no digits follow or the number overflows 32 bits, where C libraries disagree.
bool scan_unsigned(const std::string& text, size_t pos, uint32_t& out) {
    while (pos < text.size() && is_c_space(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    uint64_t value = 0;
    size_t digits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + static_cast<uint64_t>(text[pos] - '0');
        if (value > UINT32_MAX) return false;
        ++pos;
        ++digits;
    }
    if (digits == 0) return false;
    out = negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(value))
                   : static_cast<uint32_t>(value);
    return true;
}

}  // namespace

LineKind classify_line(const std::string& text, size_t line_end_bytes) {
    if (text.size() + line_end_bytes > kMaxLineBytes) return LineKind::Overlong;
    if (text.empty()) return LineKind::Other;
    const char type = text[0];
    if (type == 'X') return LineKind::Wellformed;
    if (type != 'S' && type != 'B') return LineKind::Other;
    uint32_t value = 0;
    if (!scan_unsigned(text, 1, value)) return LineKind::Other;
    const unsigned long limit = type == 'S' ? kMaxSample : kMaxBeatRate;
    return value <= limit ? LineKind::Wellformed : LineKind::OutOfRange;
}
