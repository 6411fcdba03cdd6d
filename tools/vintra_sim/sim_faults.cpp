// Fault injection: each fault is decided independently per line with its own probability.
#include "sim_faults.h"

#include <algorithm>

namespace {

// A line of 1..10 random bytes. CR, LF and NUL are left out so it stays exactly one
// line, and it never starts with S, B or X so it cannot pass for a record.
WireLine make_noise_line(SimRng& rng) {
    WireLine w;
    const int length = rng_int(rng, 1, 10);
    for (int i = 0; i < length; ++i) {
        char c;
        do {
            c = static_cast<char>(rng_int(rng, 1, 255));
        } while (c == '\r' || c == '\n' || (i == 0 && (c == 'S' || c == 'B' || c == 'X')));
        w.text.push_back(c);
    }
    w.bytes = w.text + "\r\n";
    w.kind = LineKind::Noise;
    w.faults = kFaultNoise;
    return w;
}

// The record padded with digits to 18..58 characters (20..60 bytes with CR LF), so a
// receiver that failed to discard it would decode a wrong value rather than nothing.
std::string make_overlong(const std::string& text, SimRng& rng) {
    const size_t length = static_cast<size_t>(rng_int(rng, 18, 58));
    std::string s = text;
    while (s.size() < length) s.push_back(static_cast<char>('0' + rng_int(rng, 0, 9)));
    return s;
}

// An S or B record whose value is just beyond what the receiver stores.
std::string make_out_of_range(char type, SimRng& rng) {
    const int first = static_cast<int>(type == 'S' ? kMaxSample : kMaxBeatRate) + 1;
    const int value = rng_int(rng, first, type == 'S' ? 99999 : 999);
    return std::string(1, type) + std::to_string(value);
}

// Two or three write boundaries inside a line of `size` bytes.
std::vector<size_t> make_cuts(size_t size, SimRng& rng) {
    const int pieces = std::min(rng_int(rng, 2, 3), static_cast<int>(size));
    std::vector<size_t> cuts;
    while (static_cast<int>(cuts.size()) < pieces - 1) {
        const size_t at = static_cast<size_t>(rng_int(rng, 1, static_cast<int>(size) - 1));
        if (std::find(cuts.begin(), cuts.end(), at) == cuts.end()) cuts.push_back(at);
    }
    std::sort(cuts.begin(), cuts.end());
    return cuts;
}

}  // namespace

void build_wire_lines(const std::string& text, const FaultRates& rates, SimRng& rng,
                      std::vector<WireLine>& out) {
    out.clear();
    if (rng_chance(rng, rates.noise)) out.push_back(make_noise_line(rng));

    // The generator makes only well-formed lines, short enough with either line end.
    WireLine w;
    w.text = text;
    w.kind = LineKind::Wellformed;
    w.faults = 0;
    const bool is_record = !text.empty() && (text[0] == 'S' || text[0] == 'B');
    if (rng_chance(rng, rates.overlong)) {
        w.text = make_overlong(text, rng);
        w.kind = LineKind::Overlong;
        w.faults |= kFaultOverlong;
    } else if (is_record && rng_chance(rng, rates.range)) {
        w.text = make_out_of_range(text[0], rng);
        w.kind = LineKind::OutOfRange;
        w.faults |= kFaultRange;
    }
    std::string line_end = "\r\n";
    if (rng_chance(rng, rates.bare_lf)) {
        line_end = "\n";
        w.faults |= kFaultBareLf;
    }
    w.bytes = w.text + line_end;
    // The zero byte must not push a line over the receiver's limit, or the fault would
    // be an overlong line in disguise.
    if (w.kind != LineKind::Overlong && w.bytes.size() < kMaxLineBytes &&
        rng_chance(rng, rates.nul)) {
        const size_t at = static_cast<size_t>(rng_int(rng, 0, static_cast<int>(w.text.size())));
        // The receiver drops zero bytes, so the line keeps its kind.
        w.bytes.insert(at, 1, '\0');
        w.faults |= kFaultNul;
    }
    if (w.bytes.size() >= 2 && rng_chance(rng, rates.split)) {
        w.cuts = make_cuts(w.bytes.size(), rng);
        w.faults |= kFaultSplit;
    }
    out.push_back(w);
}
