#pragma once
// What the device stream should turn into, worked out from the framing and
// record rules directly rather than through the line buffer.
#include <cstdint>
#include <string>
#include <vector>

// Complete lines of `stream`: NUL bytes dropped, LF ends a line, one CR before
// it is stripped, a line of more than 15 bytes with its line end is dropped
// whole. Bytes after the last LF are not a line yet.
std::vector<std::string> ReferenceLines(const std::string& stream);

enum class ExpectedKind { Nothing, Sample, BeatRate };

struct ExpectedRecord {
    ExpectedKind kind;
    uint32_t value;
};

// What one line should store: `S` + "%u" number below 65535, `B` + "%u"
// number below 255, otherwise nothing.
ExpectedRecord ReferenceRecord(const std::string& line);
