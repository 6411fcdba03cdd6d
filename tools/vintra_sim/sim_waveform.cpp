// Beat timing and pulse waveform of the simulated device.
#include "sim_waveform.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const double kTwoPi = 6.283185307179586;

// Signal levels in ADC counts of a 10-bit device.
const double kBaseline = 470;        // level between pulses
const double kPulseHeight = 280;     // systolic peak above the baseline
const double kBreathWander = 12;     // baseline swing with breathing
const double kSampleNoise = 2.5;     // deviation of the sample noise
const double kBreathHz = 0.25;       // one breath every 4 s

// Beat-rate variation in bpm: a slow drift, a breathing-linked swing and beat-to-beat jitter.
const double kDriftBpm = 4.0;
const double kDriftPeriod = 45.0;
const double kBreathBpm = 1.5;
const double kJitterBpm = 1.2;
const double kJitterLimit = 4.0;

// Gaussian bump with separate widths left and right of its centre.
double skewed_bump(double x, double centre, double left_width, double right_width) {
    const double w = x < centre ? left_width : right_width;
    const double z = (x - centre) / w;
    return std::exp(-0.5 * z * z);
}

// Rate of the beat cycle that starts at time t.
double plan_bpm(GenState& gen, double t) {
    const double mean = gen.cfg.mean_bpm;
    double bpm = mean + kDriftBpm * std::sin(kTwoPi * t / kDriftPeriod + gen.drift_phase) +
                 kBreathBpm * std::sin(kTwoPi * kBreathHz * t + gen.breath_phase);
    bpm += std::clamp(rng_gauss(gen.rng, kJitterBpm), -kJitterLimit, kJitterLimit);
    // Stay near the requested mean and inside what a resting or exercising heart does.
    const double low = std::max(20.0, mean * 0.8);
    const double high = std::min(240.0, mean * 1.2);
    return std::clamp(bpm, low, high);
}

// Moves to the cycle starting at the beat due now and returns its B line text.
std::string take_beat(GenState& gen) {
    const double t = gen.next_beat_t;
    const std::string text = "B" + std::to_string(static_cast<int>(std::lround(gen.next_beat_bpm)));
    const double bpm = plan_bpm(gen, t);
    gen.prev_beat_t = t;
    gen.next_beat_t = t + 60.0 / bpm;
    gen.next_beat_bpm = bpm;
    gen.beat_amplitude = kPulseHeight * rng_uniform(gen.rng, 0.93, 1.07);
    return text;
}

// The S line text for simulated time t.
std::string make_sample(GenState& gen, double t) {
    const double cycle = gen.next_beat_t - gen.prev_beat_t;
    const double phase = std::clamp((t - gen.prev_beat_t) / cycle, 0.0, 1.0);
    double v = kBaseline + kBreathWander * std::sin(kTwoPi * kBreathHz * t + gen.breath_phase) +
               gen.beat_amplitude * pulse_shape(phase) + rng_gauss(gen.rng, kSampleNoise);
    v = std::clamp(std::round(v), 0.0, 1023.0);
    return "S" + std::to_string(static_cast<int>(v));
}

// X line text for time t: seconds with up to three decimals, trailing zeros dropped.
std::string make_status(double t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", t);
    std::string s = buf;
    s.erase(s.find_last_not_of('0') + 1);
    if (!s.empty() && s.back() == '.') s.pop_back();
    return "X" + s;
}

double sample_due(const GenState& gen) {
    return static_cast<double>(gen.sample_index) / gen.cfg.rate;
}

double status_due(const GenState& gen) {
    if (gen.cfg.status_every <= 0) return HUGE_VAL;
    return static_cast<double>(gen.status_index + 1) * gen.cfg.status_every;
}

}  // namespace

double pulse_shape(double phase) {
    // Steep systolic upstroke, slower fall, the dicrotic wave after the notch, then the
    // slow diastolic run-off back to the baseline.
    const double systolic = skewed_bump(phase, 0.15, 0.05, 0.09);
    const double dicrotic = 0.26 * skewed_bump(phase, 0.42, 0.05, 0.06);
    const double runoff = phase < 0.42 ? 0.14 * skewed_bump(phase, 0.42, 0.1, 1)
                                       : 0.14 * std::exp(-(phase - 0.42) / 0.18);
    return systolic + dicrotic + runoff;
}

void gen_init(GenState& gen, const GenConfig& cfg) {
    gen.cfg = cfg;
    gen.rng.seed(cfg.seed);
    gen.sample_index = 0;
    gen.status_index = 0;
    gen.drift_phase = rng_uniform(gen.rng, 0, kTwoPi);
    gen.breath_phase = rng_uniform(gen.rng, 0, kTwoPi);
    // Start a little into a cycle so the first B line is not at time 0 with the first S.
    const double first_bpm = plan_bpm(gen, 0);
    gen.next_beat_t = 0.3 * 60.0 / first_bpm;
    gen.prev_beat_t = gen.next_beat_t - 60.0 / first_bpm;
    gen.next_beat_bpm = first_bpm;
    gen.beat_amplitude = kPulseHeight;
}

double gen_next_due(const GenState& gen) {
    return std::min({sample_due(gen), gen.next_beat_t, status_due(gen)});
}

void gen_collect(GenState& gen, double limit, std::vector<TimedLine>& out) {
    for (;;) {
        const double beat = gen.next_beat_t;
        const double status = status_due(gen);
        const double sample = sample_due(gen);
        // On equal times the beat goes first so the sample at a beat starts the new cycle.
        if (beat < limit && beat <= status && beat <= sample) {
            out.push_back({beat, take_beat(gen)});
        } else if (status < limit && status <= sample) {
            out.push_back({status, make_status(status)});
            ++gen.status_index;
        } else if (sample < limit) {
            out.push_back({sample, make_sample(gen, sample)});
            ++gen.sample_index;
        } else {
            return;
        }
    }
}
