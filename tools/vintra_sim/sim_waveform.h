// The simulated heart: beat timing with natural variation and a PPG-like pulse wave,
// turned into time-stamped S, B and X lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim_random.h"

// What the generator makes.
struct GenConfig {
    double rate = 50;               // S lines per second
    double mean_bpm = 72;           // centre of the beat rate
    double status_every = 0;        // seconds between X lines, 0 = none
    unsigned long long seed = 1;    // seed of the generator's own random stream
};

// One line of the protocol (text without line end) and the simulated time it is due.
struct TimedLine {
    double t;          // seconds since the start
    std::string text;  // e.g. "S512"
};

// Generator state between calls; lines come out in time order.
struct GenState {
    GenConfig cfg;              // what was asked for
    SimRng rng;                 // beat jitter, amplitude and sample noise
    uint64_t sample_index;      // index of the next S line, due at sample_index / rate
    uint64_t status_index;      // X lines already made
    double prev_beat_t;         // start of the pulse cycle now running
    double next_beat_t;         // when the next B line is due
    double next_beat_bpm;       // rate the next B line reports: the cycle that ends there
    double beat_amplitude;      // pulse height of the running cycle
    double drift_phase;         // random phase of the slow rate drift
    double breath_phase;        // random phase of the breathing-linked variation
};

// Starts a generator at simulated time 0.
void gen_init(GenState& gen, const GenConfig& cfg);

// Time of the earliest line not yet produced.
double gen_next_due(const GenState& gen);

// Appends every line due strictly before `limit`, in time order.
void gen_collect(GenState& gen, double limit, std::vector<TimedLine>& out);

// Normalised pulse shape over one beat cycle: phase 0..1 from one beat to the next,
// result about 0..1 (systolic peak, dicrotic notch, decay).
double pulse_shape(double phase);
