#include <gtest/gtest.h>

#include "store/measurement_store.h"

namespace {

MeasurementStore NewStore() {
    MeasurementStore store = {};
    InitMeasurementStore(store);
    return store;
}

TEST(MeasurementStore, RingsWrapAtTheirCapacity) {
    MeasurementStore store = NewStore();
    for (uint32_t i = 0; i < kSampleSlots; ++i) AppendSample(store, static_cast<uint16_t>(i + 1));
    for (uint32_t i = 0; i < kBeatSlots; ++i) AppendBeatRate(store, static_cast<uint8_t>(i % 250 + 1));
    EXPECT_EQ(store.samples.writeIndex, 0u);
    EXPECT_EQ(store.beats.writeIndex, 0u);
    AppendSample(store, 9999);
    AppendBeatRate(store, 77);
    EXPECT_EQ(store.samples.slots[0], 9999);
    EXPECT_EQ(store.samples.slots[1], 2);
    EXPECT_EQ(store.beats.slots[0], 77);
    EXPECT_EQ(store.beats.writeIndex, 1u);
}

TEST(MeasurementStore, LatestBeatRateBeforeAndAfterAppends) {
    MeasurementStore store = NewStore();
    EXPECT_EQ(LatestBeatRate(store), 0);
    store.beats.slots[kBeatSlots - 1] = 5;  // "before anything" reads the last slot
    EXPECT_EQ(LatestBeatRate(store), 5);
    AppendBeatRate(store, 72);
    EXPECT_EQ(LatestBeatRate(store), 72);
    AppendBeatRate(store, 0);
    EXPECT_EQ(LatestBeatRate(store), 0);
}

TEST(MeasurementStore, WindowStartCountsBackFromTheWritePosition) {
    struct Case {
        uint32_t writeIndex, capacity, count, start;
    } cases[] = {{0, 400, 400, 0}, {0, 400, 10, 390}, {5, 200, 120, 85}, {150, 200, 120, 30}, {7, 200, 0, 7}};
    for (const Case& c : cases) {
        EXPECT_EQ(RingWindowStart(c.writeIndex, c.capacity, c.count), c.start) << c.writeIndex << " " << c.count;
    }
}

TEST(MeasurementStore, ClearKeepsWritePositionsAndRingsStayIndependent) {
    MeasurementStore store = NewStore();
    for (int i = 0; i < 5; ++i) AppendSample(store, 100);
    for (int i = 0; i < 3; ++i) AppendBeatRate(store, 60);
    EXPECT_EQ(store.samples.writeIndex, 5u);
    EXPECT_EQ(store.beats.writeIndex, 3u);

    ClearMeasurements(store);
    for (uint16_t v : store.samples.slots) ASSERT_EQ(v, 0);
    for (uint8_t v : store.beats.slots) ASSERT_EQ(v, 0);
    EXPECT_EQ(store.samples.capacity, kSampleSlots);
    EXPECT_EQ(store.beats.capacity, kBeatSlots);

    AppendBeatRate(store, 61);
    AppendBeatRate(store, 62);
    AppendBeatRate(store, 63);
    EXPECT_EQ(store.beats.slots[3], 61);
    EXPECT_EQ(store.beats.slots[5], 63);
    EXPECT_EQ(LatestBeatRate(store), 63);
    EXPECT_EQ(store.samples.writeIndex, 5u);  // appending beats left the samples alone
    AppendSample(store, 1);
    EXPECT_EQ(store.beats.writeIndex, 6u);
}

}  // namespace
