#include "tests/fuzz/reference_lines.h"

#include "tests/fuzz/reference_number.h"

constexpr size_t kLongestLineBeforeLf = 14;  // 15 bytes with the LF

std::vector<std::string> ReferenceLines(const std::string& stream) {
    std::vector<std::string> lines;
    std::string line;
    bool overlong = false;
    for (char byte : stream) {
        if (byte == '\0') continue;
        if (byte != '\n') {
            if (line.size() == kLongestLineBeforeLf) overlong = true;
            if (!overlong) line += byte;
            continue;
        }
        if (!overlong) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        line.clear();
        overlong = false;
    }
    return lines;
}

ExpectedRecord ReferenceRecord(const std::string& line) {
    ExpectedRecord none = {ExpectedKind::Nothing, 0};
    if (line.empty() || (line[0] != 'S' && line[0] != 'B')) return none;
    uint32_t value = 0;
    const char* end = nullptr;
    if (ReferenceReadUnsigned(line.c_str() + 1, &value, &end) != ReferenceNumber::Value) return none;
    if (line[0] == 'S' && value < 65535) return {ExpectedKind::Sample, value};
    if (line[0] == 'B' && value < 255) return {ExpectedKind::BeatRate, value};
    return none;
}
