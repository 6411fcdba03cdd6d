#pragma once
// When the avatar parameters go out over OSC, and what they say: the whole
// set on each stored rate while the state is live and at least once a second
// while live; "isHRConnected" false once on leaving live, then silence.
#include <cstddef>
#include <cstdint>

#include "web/osc_message.h"

// Messages in one full set of avatar parameters.
constexpr uint32_t kOscSetMessages = 6;
// Sets sent in one call at most. A device that stores more rates than this
// between two calls (a flood, not a heart) gets the rest of its beats merged
// rather than hold up the drain.
constexpr uint32_t kOscSetsPerCall = 4;
constexpr uint32_t kOscBatchLimit = kOscSetMessages * kOscSetsPerCall;
// A receiver that starts late, or lost a datagram, hears the rate within this.
constexpr uint64_t kOscRepeatMs = 1000;

struct OscPolicy {
    bool wasLive;             // the last call saw the state live
    uint64_t lastSetMs;       // when the last full set went out
    uint32_t seenRateSerial;  // the feed's rate serial already answered
    bool beatToggle;          // HeartBeatToggle's value: flipped with every set a stored rate sends
};

struct OscBatch {
    uint32_t count;                             // messages to send, each one datagram
    size_t lengths[kOscBatchLimit];             // their lengths
    char bytes[kOscBatchLimit][kOscMessageLimit];  // their bytes
};

// Starts the policy at `rateSerial`: rates stored before OSC was on are not news.
OscPolicy StartOscPolicy(uint32_t rateSerial);

// Decides what goes out now. `live` is the state word's verdict, `rate` the
// latest stored rate and `rateSerial` how many rates were stored since start.
// Fills `batch` with the messages to send in order (count 0: nothing).
void PlanOsc(OscPolicy& policy, bool live, uint8_t rate, uint32_t rateSerial, uint64_t nowMs, OscBatch& batch);
