#include "store/measurement_store.h"

#include <cstring>

void InitMeasurementStore(MeasurementStore& store) {
    store.samples.capacity = kSampleSlots;
    store.beats.capacity = kBeatSlots;
}

void AppendSample(MeasurementStore& store, uint16_t value) {
    SampleRing& ring = store.samples;
    ring.slots[ring.writeIndex % ring.capacity] = value;
    ring.writeIndex = (ring.writeIndex + 1) % ring.capacity;
    ++store.changes;
}

void AppendBeatRate(MeasurementStore& store, uint8_t value) {
    BeatRing& ring = store.beats;
    ring.slots[ring.writeIndex % ring.capacity] = value;
    ring.writeIndex = (ring.writeIndex + 1) % ring.capacity;
    ++store.changes;
}

uint8_t LatestBeatRate(const MeasurementStore& store) {
    const BeatRing& ring = store.beats;
    return ring.slots[(ring.writeIndex + ring.capacity - 1) % ring.capacity];
}

uint32_t RingWindowStart(uint32_t writeIndex, uint32_t capacity, uint32_t count) {
    return (writeIndex + capacity - count) % capacity;
}

void ClearMeasurements(MeasurementStore& store) {
    std::memset(store.samples.slots, 0, sizeof store.samples.slots);
    std::memset(store.beats.slots, 0, sizeof store.beats.slots);
    ++store.changes;
}
