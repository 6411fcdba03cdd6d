// Script mode for tests: no simulated time, every line goes out as soon as it is read.
#include "sim_script.h"

#include <cstdlib>

#include "sim_emit.h"
#include "sim_signals.h"

namespace {

// Script lines starting with this carry hex bytes to send as they are.
const std::string kRawPrefix = "raw:";

// Value of one hex digit, or -1.
int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Sends one script line: exact bytes for 'raw:', otherwise a record with its line end.
WriteStatus send_script_line(const std::string& line, bool& bad) {
    if (line.compare(0, kRawPrefix.size(), kRawPrefix) != 0) return emit_text_line(line);
    std::string bytes;
    if (!parse_hex_bytes(line.substr(kRawPrefix.size()), bytes)) {
        bad = true;
        return WriteStatus::Ok;
    }
    return emit_raw(bytes);
}

}  // namespace

bool parse_hex_bytes(const std::string& hex, std::string& out) {
    out.clear();
    int high = -1;
    for (char c : hex) {
        if (c == ' ' || c == '\t') {
            if (high >= 0) return false;  // a blank may not split a pair
            continue;
        }
        const int d = hex_digit(c);
        if (d < 0) return false;
        if (high < 0) {
            high = d;
        } else {
            out.push_back(static_cast<char>(high * 16 + d));
            high = -1;
        }
    }
    return high < 0;
}

RunEnd run_script(FILE* in) {
    char* buf = nullptr;
    size_t cap = 0;
    RunEnd end = RunEnd::Finished;
    for (;;) {
        if (stop_requested()) {
            end = RunEnd::Signalled;
            break;
        }
        const ssize_t n = getline(&buf, &cap, in);
        if (n < 0) {
            end = stop_requested() ? RunEnd::Signalled : RunEnd::Finished;
            break;
        }
        std::string line(buf, static_cast<size_t>(n));
        // The input's own line end is not part of the line; CR LF input files work too.
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        bool bad = false;
        const WriteStatus st = send_script_line(line, bad);
        if (bad) {
            std::fprintf(stderr, "vintra-sim: bad raw line '%s'\n", line.c_str());
            end = RunEnd::BadInput;
            break;
        }
        if (st != WriteStatus::Ok) {
            end = run_end_for(st);
            break;
        }
        run_tick();
    }
    std::free(buf);
    return end;
}
