// Test-side model of the receiving program's line framing, kept apart from how the
// simulator marks the lines it sends so the two can catch each other's mistakes.
#pragma once

#include <string>
#include <vector>

#include "sim_line.h"

// One line as the receiver cut it.
struct ReceivedLine {
    std::string text;  // without its line end
    size_t wire_bytes; // bytes it took on the wire, line end and zero bytes included
    bool had_nul;      // a zero byte was skipped inside it
};

// Lines as the receiver cuts them from a byte stream: LF ends a line, one CR before it
// is dropped, 15 pending bytes without LF start a discard up to the next LF, and zero
// bytes are dropped without costing the bytes around them.
inline std::vector<ReceivedLine> receiver_lines(const std::string& stream) {
    std::vector<ReceivedLine> lines;
    ReceivedLine pending = {"", 0, false};
    bool discarding = false;
    for (char c : stream) {
        ++pending.wire_bytes;
        if (c == '\0') {
            pending.had_nul = true;
            continue;
        }
        if (c == '\n') {
            if (!discarding) {
                if (!pending.text.empty() && pending.text.back() == '\r') pending.text.pop_back();
                lines.push_back(pending);
            }
            pending = {"", 0, false};
            discarding = false;
            continue;
        }
        if (discarding) continue;
        pending.text.push_back(c);
        if (pending.text.size() >= 15) {
            pending.text.clear();
            discarding = true;
        }
    }
    return lines;
}

// True for a record the receiver stores (S up to kMaxSample, B up to kMaxBeatRate, plain
// digits) or an X line.
inline bool valid_record(const std::string& line) {
    if (line.empty()) return false;
    if (line[0] == 'X') return true;
    if ((line[0] != 'S' && line[0] != 'B') || line.size() < 2 || line.size() > 7) return false;
    for (size_t i = 1; i < line.size(); ++i) {
        if (line[i] < '0' || line[i] > '9') return false;
    }
    const long value = std::stol(line.substr(1));
    return static_cast<unsigned long>(value) <= (line[0] == 'S' ? kMaxSample : kMaxBeatRate);
}

// The valid records among the lines, in order.
inline std::vector<std::string> valid_records(const std::vector<ReceivedLine>& lines) {
    std::vector<std::string> out;
    for (const ReceivedLine& l : lines) {
        if (valid_record(l.text)) out.push_back(l.text);
    }
    return out;
}

// Splits text into its '\n'-separated lines (the well-formed log format).
inline std::vector<std::string> split_log(const std::string& text) {
    std::vector<std::string> out;
    size_t from = 0;
    while (from < text.size()) {
        size_t nl = text.find('\n', from);
        if (nl == std::string::npos) nl = text.size();
        out.push_back(text.substr(from, nl - from));
        from = nl + 1;
    }
    return out;
}
