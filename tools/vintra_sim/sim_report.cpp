// Counters out to a file and to stderr.
#include "sim_report.h"

#include <cstdio>

namespace {

// Appends one 'key value' line.
void add(std::string& out, const char* key, unsigned long long value) {
    out += key;
    out += ' ';
    out += std::to_string(value);
    out += '\n';
}

}  // namespace

std::string format_counts(const SimCounts& c, double elapsed, bool finished) {
    std::string out;
    add(out, "lines_sent", c.lines_sent);
    add(out, "wellformed_sent", c.wellformed_sent);
    add(out, "faults_injected", c.faults_injected);
    add(out, "s_sent", c.s_sent);
    add(out, "b_sent", c.b_sent);
    add(out, "x_sent", c.x_sent);
    add(out, "out_of_range_sent", c.out_of_range_sent);
    add(out, "noise_sent", c.noise_sent);
    add(out, "overlong_sent", c.overlong_sent);
    add(out, "nul_sent", c.nul_sent);
    add(out, "bare_lf_sent", c.bare_lf_sent);
    add(out, "split_sent", c.split_sent);
    add(out, "bytes_sent", c.bytes_sent);
    add(out, "elapsed_ms", static_cast<unsigned long long>(elapsed * 1000.0 + 0.5));
    add(out, "finished", finished ? 1 : 0);
    return out;
}

bool write_count_file(const std::string& path, const SimCounts& counts, double elapsed,
                      bool finished) {
    const std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (f == nullptr) return false;
    const std::string text = format_counts(counts, elapsed, finished);
    const bool wrote = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !wrote) return false;
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

std::string summary_line(const SimCounts& c, double elapsed, unsigned long long seed,
                         const std::string& why) {
    char buf[320];
    std::snprintf(buf, sizeof buf,
                  "vintra-sim: %s after %.2f s: %llu lines (%llu well-formed: %llu S, %llu B, "
                  "%llu X), %llu faults, %llu bytes, seed %llu",
                  why.c_str(), elapsed, static_cast<unsigned long long>(c.lines_sent),
                  static_cast<unsigned long long>(c.wellformed_sent),
                  static_cast<unsigned long long>(c.s_sent),
                  static_cast<unsigned long long>(c.b_sent),
                  static_cast<unsigned long long>(c.x_sent),
                  static_cast<unsigned long long>(c.faults_injected),
                  static_cast<unsigned long long>(c.bytes_sent), seed);
    return buf;
}
