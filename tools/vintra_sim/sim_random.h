// Seeded random numbers built only on the raw 64-bit engine output, so a seed gives the
// same stream with any standard library.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>

using SimRng = std::mt19937_64;

// Uniform in [0, 1).
inline double rng_unit(SimRng& rng) {
    return static_cast<double>(rng() >> 11) * (1.0 / 9007199254740992.0);
}

// Uniform in [low, high).
inline double rng_uniform(SimRng& rng, double low, double high) {
    return low + (high - low) * rng_unit(rng);
}

// Uniform integer in [low, high].
inline int rng_int(SimRng& rng, int low, int high) {
    return low + static_cast<int>(rng() % static_cast<uint64_t>(high - low + 1));
}

// True with probability p; draws nothing when p is 0 so an unused fault does not
// shift the stream of the others.
inline bool rng_chance(SimRng& rng, double p) {
    return p > 0 && rng_unit(rng) < p;
}

// Normal with mean 0 and the given deviation (Box-Muller).
inline double rng_gauss(SimRng& rng, double sigma) {
    const double u1 = 1.0 - rng_unit(rng);
    const double u2 = rng_unit(rng);
    return sigma * std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}
