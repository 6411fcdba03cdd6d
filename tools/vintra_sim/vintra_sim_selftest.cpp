// Unit checks of the simulator's generator, faults and command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <unistd.h>

#include "sim_emit.h"
#include "sim_faults.h"
#include "sim_line.h"
#include "sim_options.h"
#include "sim_waveform.h"
#include "vintra_sim_test_receiver.h"

// Path of the built vintra-sim, given on the command line (used by the end-to-end cases).
std::string g_sim_binary;

namespace {

// Runs a generator for `seconds` of simulated time.
std::vector<TimedLine> generate(double rate, double bpm, double seconds, unsigned long long seed,
                                double status_every = 0) {
    GenState gen;
    gen_init(gen, GenConfig{rate, bpm, status_every, seed});
    std::vector<TimedLine> out;
    gen_collect(gen, seconds, out);
    return out;
}

// Whole contents of an open stdio file.
std::string read_all(FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    return s;
}

TEST(Generator, RatesCountsAndRangesHoldAcrossSettings) {
    struct Case { double rate, bpm, seconds; };
    const Case cases[] = {{50, 72, 300}, {4000, 60, 60}, {250, 180, 120}, {100, 40, 300}, {1000, 100, 120}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "rate " << c.rate << " bpm " << c.bpm);
        const std::vector<TimedLine> lines = generate(c.rate, c.bpm, c.seconds, 11);
        size_t samples = 0, beats = 0;
        double prev_t = -1, prev_beat = -1;
        for (const TimedLine& l : lines) {
            ASSERT_LE(l.text.size() + 2, kMaxLineBytes) << l.text;
            ASSERT_GE(l.t, prev_t);
            prev_t = l.t;
            const long value = std::stol(l.text.substr(1));
            if (l.text[0] == 'S') {
                ++samples;
                ASSERT_TRUE(value >= 0 && value <= 1023) << l.text;
            } else {
                ASSERT_EQ(l.text[0], 'B');
                ++beats;
                ASSERT_GE(value, std::floor(c.bpm * 0.8));
                ASSERT_LE(value, std::ceil(c.bpm * 1.2));
                // A B line comes at its beat and reports the cycle that just ended.
                if (prev_beat >= 0) {
                    EXPECT_NEAR(60.0 / (l.t - prev_beat), value, 0.51);
                }
                prev_beat = l.t;
            }
        }
        EXPECT_EQ(samples, static_cast<size_t>(std::llround(c.rate * c.seconds)));
        const double per_minute = beats * 60.0 / c.seconds;
        EXPECT_NEAR(per_minute, c.bpm, c.bpm * 0.05);
    }
}

TEST(Generator, BeatRateVariesNaturally) {
    std::vector<long> rates;
    for (const TimedLine& l : generate(50, 72, 300, 5)) {
        if (l.text[0] == 'B') rates.push_back(std::stol(l.text.substr(1)));
    }
    const auto [lo, hi] = std::minmax_element(rates.begin(), rates.end());
    EXPECT_GE(*hi - *lo, 6) << "no drift";
    size_t changed = 0;
    for (size_t i = 1; i < rates.size(); ++i) {
        EXPECT_LE(std::labs(rates[i] - rates[i - 1]), 9) << "jump at beat " << i;
        changed += rates[i] != rates[i - 1];
    }
    EXPECT_GT(changed, rates.size() / 3) << "no beat-to-beat jitter";
}

TEST(Generator, PulsePeaksEarlyInEachBeatCycle) {
    const std::vector<TimedLine> lines = generate(500, 72, 60, 3);
    double cycle_start = -1, peak_t = 0, next_start;
    long peak = -1, trough = 2000;
    size_t cycles = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const TimedLine& l = lines[i];
        if (l.text[0] == 'B') {
            next_start = l.t;
            if (cycle_start >= 0) {
                const double phase = (peak_t - cycle_start) / (next_start - cycle_start);
                EXPECT_GT(phase, 0.05);
                EXPECT_LT(phase, 0.3);
                EXPECT_GT(peak - trough, 150);
                ++cycles;
            }
            cycle_start = next_start;
            peak = -1;
            trough = 2000;
            continue;
        }
        const long v = std::stol(l.text.substr(1));
        if (v > peak) { peak = v; peak_t = l.t; }
        trough = std::min(trough, v);
    }
    EXPECT_GT(cycles, 60u);
}

TEST(Generator, PulseShapeHasNotchAndDicroticWave) {
    std::vector<double> v;
    for (int i = 0; i <= 1000; ++i) v.push_back(pulse_shape(i / 1000.0));
    const size_t peak = std::max_element(v.begin(), v.end()) - v.begin();
    EXPECT_NEAR(peak / 1000.0, 0.15, 0.02);
    std::vector<size_t> minima, maxima;
    for (size_t i = 1; i + 1 < v.size(); ++i) {
        if (v[i] < v[i - 1] && v[i] < v[i + 1]) minima.push_back(i);
        if (v[i] > v[i - 1] && v[i] > v[i + 1]) maxima.push_back(i);
    }
    ASSERT_EQ(minima.size(), 1u);
    ASSERT_EQ(maxima.size(), 2u);
    EXPECT_GT(minima[0], maxima[0]);
    EXPECT_LT(minima[0], maxima[1]);
    EXPECT_LT(v[maxima[1]], v[maxima[0]] * 0.6);
    // Both ends near the baseline so consecutive cycles join without a step.
    EXPECT_LT(v.front(), 0.05);
    EXPECT_LT(v.back(), 0.05);
}

TEST(Generator, SeedMakesRunsRepeatable) {
    auto texts = [](unsigned long long seed) {
        std::vector<std::string> t;
        for (const TimedLine& l : generate(200, 72, 20, seed)) t.push_back(l.text);
        return t;
    };
    EXPECT_EQ(texts(42), texts(42));
    EXPECT_NE(texts(42), texts(43));
}

TEST(Generator, StatusLinesComeOnTheirSchedule) {
    std::vector<std::pair<double, std::string>> status;
    for (const TimedLine& l : generate(10, 72, 10, 1, 2.5)) {
        if (l.text[0] == 'X') status.push_back({l.t, l.text});
    }
    const std::vector<std::pair<double, std::string>> want = {{2.5, "X2.5"}, {5, "X5"}, {7.5, "X7.5"}};
    EXPECT_EQ(status, want);
}

// Sends `seconds` of generated lines through the fault injector into a temporary file and
// returns the stream; the well-formed and echo logs come back in `log` and `echoed_log`.
std::string send_through_faults(const FaultRates& rates, double seconds, std::string& log,
                                std::string& echoed_log) {
    FILE* out = std::tmpfile();
    g_emit = EmitState();
    g_emit.fd = fileno(out);
    g_emit.faults = rates;
    g_emit.rng.seed(99);
    g_emit.split_pauses = false;
    g_emit.wellformed_log = std::tmpfile();
    g_emit.echoed_log = std::tmpfile();
    for (const TimedLine& l : generate(200, 72, seconds, 8, 1.0)) {
        EXPECT_EQ(emit_text_line(l.text), WriteStatus::Ok);
    }
    log = read_all(g_emit.wellformed_log);
    echoed_log = read_all(g_emit.echoed_log);
    const std::string stream = read_all(out);
    std::fclose(out);
    std::fclose(g_emit.wellformed_log);
    std::fclose(g_emit.echoed_log);
    g_emit.wellformed_log = g_emit.echoed_log = nullptr;
    return stream;
}

TEST(Faults, WellformedLogMatchesWhatTheReceiverExtracts) {
    struct Case { const char* name; FaultRates rates; };
    const Case cases[] = {
        {"none", {}},
        {"bare-lf", {0.2, 0, 0, 0, 0, 0}},
        {"overlong", {0, 0.2, 0, 0, 0, 0}},
        {"nul", {0, 0, 0.2, 0, 0, 0}},
        {"noise", {0, 0, 0, 0.2, 0, 0}},
        {"range", {0, 0, 0, 0, 0.2, 0}},
        {"split", {0, 0, 0, 0, 0, 0.2}},
        {"all", {0.15, 0.15, 0.15, 0.15, 0.15, 0.15}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string log, echoed_log;
        const std::string stream = send_through_faults(c.rates, 30, log, echoed_log);
        const SimCounts& n = g_emit.counts;
        const std::vector<ReceivedLine> echoed = receiver_lines(stream);
        // Everything except the overlong lines reaches the receiver as a line, and each
        // of those fits its buffer.
        EXPECT_EQ(echoed.size(), n.lines_sent - n.overlong_sent);
        size_t with_nul = 0;
        for (const ReceivedLine& l : echoed) {
            ASSERT_LE(l.wire_bytes, kMaxLineBytes);
            with_nul += l.had_nul;
        }
        EXPECT_EQ(with_nul, n.nul_sent);
        EXPECT_EQ(n.bytes_sent, stream.size());
        const std::vector<std::string> stored = valid_records(echoed);
        EXPECT_EQ(split_log(log), stored);
        // The echo log holds every line the receiver cuts, in order, well-formed or not.
        std::vector<std::string> texts, wellformed;
        for (const std::string& entry : split_log(echoed_log)) {
            texts.push_back(entry.substr(2));
            if (entry[0] == 'W') wellformed.push_back(entry.substr(2));
        }
        std::vector<std::string> received;
        for (const ReceivedLine& l : echoed) received.push_back(l.text);
        EXPECT_EQ(texts, received);
        EXPECT_EQ(wellformed, stored);
        EXPECT_EQ(n.wellformed_sent, stored.size());
        EXPECT_EQ(n.lines_sent, n.wellformed_sent + n.out_of_range_sent + n.noise_sent + n.overlong_sent);
        const bool any_fault = c.rates.bare_lf + c.rates.overlong + c.rates.nul + c.rates.noise +
                                   c.rates.range + c.rates.split > 0;
        EXPECT_EQ(n.faults_injected > 0, any_fault);
        EXPECT_EQ(n.lines_sent, n.s_sent + n.b_sent + n.x_sent + n.out_of_range_sent +
                                    n.noise_sent + n.overlong_sent);
    }
}

TEST(Faults, EachFaultShapesTheWireBytesAsIntended) {
    SimRng rng(4);
    std::map<unsigned, int> seen;
    for (int i = 0; i < 5000; ++i) {
        const std::string text = i % 3 == 0 ? "B71" : "S" + std::to_string(i % 1024);
        std::vector<WireLine> lines;
        build_wire_lines(text, {0.2, 0.2, 0.2, 0.2, 0.2, 0.2}, rng, lines);
        ASSERT_FALSE(lines.empty());
        for (const WireLine& w : lines) {
            for (unsigned bit = 1; bit <= kFaultSplit; bit <<= 1) seen[bit] += (w.faults & bit) != 0;
            std::string bytes = w.bytes;
            bytes.erase(std::remove(bytes.begin(), bytes.end(), '\0'), bytes.end());
            EXPECT_EQ(std::count(w.bytes.begin(), w.bytes.end(), '\0'), (w.faults & kFaultNul) ? 1 : 0);
            EXPECT_EQ(bytes, w.text + ((w.faults & kFaultBareLf) ? "\n" : "\r\n"));
            EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 1);
            if (w.faults & kFaultOverlong) {
                EXPECT_GE(w.bytes.size(), 19u);
                EXPECT_LE(w.bytes.size(), 60u);
            } else {
                EXPECT_LE(w.bytes.size(), kMaxLineBytes);
            }
            if (w.faults & kFaultNoise) {
                EXPECT_TRUE(w.text[0] != 'S' && w.text[0] != 'B' && w.text[0] != 'X');
                EXPECT_EQ(w.text.find('\r'), std::string::npos);
            }
            EXPECT_EQ(w.kind == LineKind::OutOfRange, (w.faults & kFaultRange) != 0);
            if (w.faults & kFaultRange) {
                EXPECT_FALSE(valid_record(w.text)) << w.text;
            }
            EXPECT_EQ(w.cuts.empty(), (w.faults & kFaultSplit) == 0);
            for (size_t k = 0; k < w.cuts.size(); ++k) {
                EXPECT_GT(w.cuts[k], k == 0 ? 0 : w.cuts[k - 1]);
                EXPECT_LT(w.cuts[k], w.bytes.size());
            }
            EXPECT_LE(w.cuts.size(), 2u);
        }
    }
    for (unsigned bit = 1; bit <= kFaultSplit; bit <<= 1) EXPECT_GT(seen[bit], 300) << "fault bit " << bit;
}

TEST(Options, AcceptsEverySpellingAndRejectsNonsense) {
    struct Case { std::vector<std::string> args; ParseResult want; };
    const Case cases[] = {
        {{}, ParseResult::Ok},
        {{"--stdout", "--rate", "4000", "--bpm", "60.5", "--duration", "0.25"}, ParseResult::Ok},
        {{"--pty", "--link", "/tmp/l", "--seed", "123"}, ParseResult::Ok},
        {{"-h"}, ParseResult::Help},
        {{"--rate", "0"}, ParseResult::Error},
        {{"--rate", "abc"}, ParseResult::Error},
        {{"--rate"}, ParseResult::Error},
        {{"--bpm", "300"}, ParseResult::Error},
        {{"--fault-nul", "1.5"}, ParseResult::Error},
        {{"--seed", "-4"}, ParseResult::Error},
        {{"--stdout", "--pty"}, ParseResult::Error},
        {{"--stdout", "--link", "/tmp/l"}, ParseResult::Error},
        {{"--bogus"}, ParseResult::Error},
    };
    for (const Case& c : cases) {
        std::vector<char*> argv = {const_cast<char*>("vintra-sim")};
        for (const std::string& a : c.args) argv.push_back(const_cast<char*>(a.c_str()));
        SimOptions opt;
        std::string error;
        const ParseResult got = parse_options(static_cast<int>(argv.size()), argv.data(), opt, error);
        EXPECT_EQ(static_cast<int>(got), static_cast<int>(c.want)) << c.args.size() << " args, " << error;
    }
}

TEST(Options, ValuesLandInTheirFields) {
    const char* args[] = {"vintra-sim", "--fault-split", "0.5", "--faults-all", "0.1", "--stdout",
                          "--rate", "4000", "--status-every", "2", "--seed", "18446744073709551615"};
    SimOptions opt;
    std::string error;
    ASSERT_EQ(parse_options(12, const_cast<char**>(args), opt, error), ParseResult::Ok) << error;
    EXPECT_EQ(opt.sink, SinkKind::Stdout);
    EXPECT_EQ(opt.rate, 4000);
    EXPECT_EQ(opt.status_every, 2);
    EXPECT_EQ(opt.seed, 18446744073709551615ull);
    // A single fault switch wins over --faults-all whatever their order.
    EXPECT_EQ(opt.faults.split, 0.5);
    EXPECT_EQ(opt.faults.bare_lf, 0.1);
    EXPECT_EQ(opt.faults.nul, 0.1);
    EXPECT_EQ(opt.duration, -1);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc > 1) g_sim_binary = argv[1];
    return RUN_ALL_TESTS();
}
