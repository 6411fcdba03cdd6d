// Monotonic time for scheduling lines and bounding stalls.
#pragma once

#include <cmath>
#include <ctime>

// Monotonic clock in seconds.
inline double mono_seconds() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Sleeps until the monotonic time `when`; a signal cuts it short.
inline void sleep_until(double when) {
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(std::floor(when));
    ts.tv_nsec = static_cast<long>((when - std::floor(when)) * 1e9);
    if (ts.tv_nsec >= 1000000000L) ts.tv_nsec = 999999999L;
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
}
