#include "web/osc_policy.h"

// The parameter names avatar tools already read.
constexpr const char* kRateIntAddress = "/avatar/parameters/HeartRateInt";
constexpr const char* kRateFloatAddress = "/avatar/parameters/HeartRateFloat";
constexpr const char* kRateFloat01Address = "/avatar/parameters/HeartRateFloat01";
constexpr const char* kRateShortAddress = "/avatar/parameters/HR";
constexpr const char* kBeatToggleAddress = "/avatar/parameters/HeartBeatToggle";
constexpr const char* kConnectedAddress = "/avatar/parameters/isHRConnected";

OscPolicy StartOscPolicy(uint32_t rateSerial) { return {false, 0, rateSerial, false}; }

// The next free message slot of the batch, with its room.
static char* NextSlot(OscBatch& batch) { return batch.bytes[batch.count]; }

// Each adds one message of its kind to the batch (it has room: the callers
// add at most kOscBatchLimit).
static void AddInt(OscBatch& batch, const char* address, int32_t value) {
    batch.lengths[batch.count] = EncodeOscInt(NextSlot(batch), kOscMessageLimit, address, value);
    ++batch.count;
}

// ... a float32 ...
static void AddFloat(OscBatch& batch, const char* address, float value) {
    batch.lengths[batch.count] = EncodeOscFloat(NextSlot(batch), kOscMessageLimit, address, value);
    ++batch.count;
}

// ... an OSC bool.
static void AddBool(OscBatch& batch, const char* address, bool value) {
    batch.lengths[batch.count] = EncodeOscBool(NextSlot(batch), kOscMessageLimit, address, value);
    ++batch.count;
}

// One full set: the rate four ways, the beat toggle and the connected flag.
static void AddSet(OscBatch& batch, uint8_t rate, bool toggle) {
    // Avatar parameters are floats in -1..1 or 0..1: 0..255 bpm spans them.
    AddInt(batch, kRateIntAddress, rate);
    AddFloat(batch, kRateFloatAddress, static_cast<float>(rate) / 127.5f - 1.0f);
    AddFloat(batch, kRateFloat01Address, static_cast<float>(rate) / 255.0f);
    AddInt(batch, kRateShortAddress, rate);
    AddBool(batch, kBeatToggleAddress, toggle);
    AddBool(batch, kConnectedAddress, true);
}

void PlanOsc(OscPolicy& policy, bool live, uint8_t rate, uint32_t rateSerial, uint64_t nowMs, OscBatch& batch) {
    batch.count = 0;
    // Unsigned difference: right across the serial's wrap.
    uint32_t newRates = rateSerial - policy.seenRateSerial;
    policy.seenRateSerial = rateSerial;
    if (!live) {
        // Receivers keep the last value they got: tell them once that it is
        // no longer current, then send nothing that could look like a rate.
        if (policy.wasLive) AddBool(batch, kConnectedAddress, false);
        policy.wasLive = false;
        return;
    }
    uint32_t sets = newRates < kOscSetsPerCall ? newRates : kOscSetsPerCall;
    for (uint32_t i = 0; i < sets; ++i) {
        policy.beatToggle = !policy.beatToggle;
        AddSet(batch, rate, policy.beatToggle);
    }
    bool repeatDue = !policy.wasLive || nowMs - policy.lastSetMs >= kOscRepeatMs;
    if (sets == 0 && repeatDue) AddSet(batch, rate, policy.beatToggle);
    if (batch.count > 0) policy.lastSetMs = nowMs;
    policy.wasLive = true;
}
