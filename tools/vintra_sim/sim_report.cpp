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

// The counters in the order the file lists them, with their keys.
const struct {
    const char* key;             // name in the file
    uint64_t SimCounts::*field;  // counter it reports
} kCounters[] = {
    {"lines_sent", &SimCounts::lines_sent},               {"wellformed_sent", &SimCounts::wellformed_sent},
    {"faults_injected", &SimCounts::faults_injected},     {"s_sent", &SimCounts::s_sent},
    {"b_sent", &SimCounts::b_sent},                       {"x_sent", &SimCounts::x_sent},
    {"out_of_range_sent", &SimCounts::out_of_range_sent}, {"noise_sent", &SimCounts::noise_sent},
    {"overlong_sent", &SimCounts::overlong_sent},         {"nul_sent", &SimCounts::nul_sent},
    {"bare_lf_sent", &SimCounts::bare_lf_sent},           {"split_sent", &SimCounts::split_sent},
    {"bytes_sent", &SimCounts::bytes_sent},
};

}  // namespace

std::string format_counts(const SimCounts& c, double elapsed) {
    std::string out;
    for (const auto& counter : kCounters) add(out, counter.key, c.*counter.field);
    add(out, "elapsed_ms", static_cast<unsigned long long>(elapsed * 1000.0 + 0.5));
    return out;
}

bool write_count_file(const std::string& path, const SimCounts& counts, double elapsed) {
    const std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (f == nullptr) return false;
    const std::string text = format_counts(counts, elapsed);
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
