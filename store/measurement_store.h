#pragma once
// The most recent measurements from the device: raw signal samples and beat
// rates, each in a fixed ring. Shared by the decoder (writer) and the renderer
// (reader); everything runs on one thread, so no locking.
#include <cstdint>

constexpr uint32_t kSampleSlots = 400;
constexpr uint32_t kBeatSlots = 200;

struct SampleRing {
    uint16_t slots[kSampleSlots];  // raw samples, 0..65534
    uint32_t capacity;             // 0 until start-up sets it; all index math divides by it
    uint32_t writeIndex;           // slot the next sample goes to, in [0, capacity)
};

struct BeatRing {
    uint8_t slots[kBeatSlots];  // beat rates in beats per minute, 0..254
    uint32_t capacity;          // 0 until start-up sets it
    uint32_t writeIndex;        // slot the next beat rate goes to
};

struct MeasurementStore {
    SampleRing samples;
    BeatRing beats;
    uint32_t changes;  // bumped by every append and every clear, so a reader can tell it has seen it all
};

// Sets the ring capacities; the very first step of start-up.
void InitMeasurementStore(MeasurementStore& store);

// Appends one raw sample (0..65534).
void AppendSample(MeasurementStore& store, uint16_t value);

// Appends one beat rate (0..254).
void AppendBeatRate(MeasurementStore& store, uint8_t value);

// The newest beat rate; before any append this reads the (zero) last slot.
uint8_t LatestBeatRate(const MeasurementStore& store);

// First slot of the window of the last `count` values, oldest first.
uint32_t RingWindowStart(uint32_t writeIndex, uint32_t capacity, uint32_t count);

// Zeroes every slot of both rings; write positions and capacities stay.
void ClearMeasurements(MeasurementStore& store);
