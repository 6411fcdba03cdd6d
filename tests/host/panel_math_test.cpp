#include <gtest/gtest.h>

#include <vector>

#include "display/format_short.h"
#include "display/panel_layout.h"
#include "display/trace_math.h"

namespace {

const PanelLayout kDefault = ComputePanelLayout(300, 200);

TEST(PanelLayout, FollowsTheClientSize) {
    struct Case {
        uint32_t w, h;
        PanelRect signal, rate, history;
    } cases[] = {
        {300, 200, {4, 4, 152, 196}, {156, 4, 296, 100}, {156, 104, 296, 196}},
        {800, 600, {4, 4, 652, 596}, {656, 4, 796, 100}, {656, 104, 796, 596}},
        {0, 0, {4, 4, -148, -4}, {-144, 4, -4, 100}, {-144, 104, -4, -4}},
        {65535, 65535, {4, 4, 65387, 65531}, {65391, 4, 65531, 100}, {65391, 104, 65531, 65531}},
    };
    for (const Case& c : cases) {
        PanelLayout l = ComputePanelLayout(c.w, c.h);
        auto same = [](PanelRect a, PanelRect b) {
            return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
        };
        EXPECT_TRUE(same(l.signal, c.signal)) << c.w << "x" << c.h;
        EXPECT_TRUE(same(l.rate, c.rate)) << c.w << "x" << c.h;
        EXPECT_TRUE(same(l.history, c.history)) << c.w << "x" << c.h;
        EXPECT_EQ(l.cornerSize, 10);
        EXPECT_EQ(l.textInset, 8);
    }
    EXPECT_EQ(RateFontHeight(kDefault), 80);
    EXPECT_EQ(CentredTextLeft(kDefault.rate, 40), 156 + 50);
    EXPECT_EQ(CentredTextLeft(kDefault.rate, 41), 156 + 49);  // division truncates
}

BeatRing Beats(const std::vector<uint8_t>& newestLast, uint32_t writeIndex = 0) {
    BeatRing ring = {};
    ring.capacity = kBeatSlots;
    ring.writeIndex = writeIndex;
    uint32_t slot = (writeIndex + kBeatSlots - newestLast.size()) % kBeatSlots;
    for (uint8_t v : newestLast) ring.slots[slot++ % kBeatSlots] = v;
    return ring;
}

TEST(HistoryTrace, AxisGridAndWindowForTypicalRings) {
    std::vector<uint8_t> climbing;
    for (int v = 62; v <= 88; ++v) climbing.push_back(static_cast<uint8_t>(v));
    // The ring full, so no slot of the window is empty; its oldest value is
    // the lowest, so it must be part of the trace and of the axis.
    std::vector<uint8_t> full(kBeatSlots, 70);
    full[kBeatSlots - 120] = 41;
    struct Case {
        const char* name;
        BeatRing ring;
        uint32_t count;
        int32_t lo, hi, firstLabel, lastLabel;
    } cases[] = {
        {"empty", Beats({}), 120, -5, 5, 10, 0},
        {"60 61 64", Beats({60, 61, 64}, 17), 3, 55, 65, 60, 60},
        {"62..88", Beats(climbing, 199), 27, 55, 95, 60, 90},
        {"zero after the first value", Beats({70, 0, 72}), 3, -5, 75, 10, 70},
        {"min 65 max 85", Beats({65, 85}), 2, 65, 95, 70, 90},
        {"top of range", Beats({254, 254}), 2, 245, 255, 250, 250},
        {"full window, oldest lowest", Beats(full, 150), 120, 35, 75, 40, 70},
    };
    for (const Case& c : cases) {
        HistoryTrace t = ComputeHistoryTrace(c.ring, kDefault.history);
        EXPECT_EQ(t.count, c.count) << c.name;
        EXPECT_EQ(t.lo, c.lo) << c.name;
        EXPECT_EQ(t.hi, c.hi) << c.name;
        EXPECT_EQ(t.firstLabel, c.firstLabel) << c.name;
        EXPECT_EQ(t.lastLabel, c.lastLabel) << c.name;
        EXPECT_EQ(t.start, (c.ring.writeIndex + kBeatSlots - t.count) % kBeatSlots) << c.name;
    }
}

TEST(HistoryTrace, ARunOfZerosLooksLikeAnEmptyRing) {
    std::vector<uint8_t> values(60, 80);
    values.insert(values.end(), 120, 0);
    HistoryTrace t = ComputeHistoryTrace(Beats(values, 40), kDefault.history);
    EXPECT_EQ(t.count, 120u);
    EXPECT_EQ(t.lo, -5);
    EXPECT_EQ(t.hi, 5);
    EXPECT_GT(t.firstLabel, t.lastLabel);
    EXPECT_EQ(HistoryY(t, kDefault.history, 0), 150);  // halfway up the 92-pixel panel
}

TEST(HistoryTrace, RowsPutLoOnTheBottomAndHiOnTheTop) {
    HistoryTrace t = ComputeHistoryTrace(Beats({60, 61, 64}), kDefault.history);
    // scale = 92 / (55 - 65) = -9.2
    struct Case {
        int32_t value, y;
    } cases[] = {{55, 196}, {60, 150}, {61, 140}, {64, 113}, {65, 104}};
    for (const Case& c : cases) EXPECT_EQ(HistoryY(t, kDefault.history, c.value), c.y) << c.value;
}

TEST(SignalTrace, OnePixelPerSampleUpToTheRingCapacity) {
    SampleRing ring = {};
    ring.capacity = kSampleSlots;
    ring.writeIndex = 10;
    struct Case {
        PanelRect panel;
        uint32_t count;
    } cases[] = {{kDefault.signal, 148}, {{4, 4, 404, 596}, 400}, {{4, 4, 1000, 596}, 400}, {{4, 4, 4, 596}, 0}};
    for (const Case& c : cases) {
        SignalTrace t = ComputeSignalTrace(ring, c.panel);
        EXPECT_EQ(t.count, c.count);
        EXPECT_EQ(t.start, (10 + kSampleSlots - c.count) % kSampleSlots);
    }
    // A minimised window's negative width, read unsigned, still stays within the ring.
    EXPECT_EQ(ComputeSignalTrace(ring, ComputePanelLayout(0, 0).signal).count, 400u);
}

TEST(SignalTrace, RowsScaleZeroToBottomAndThousandToTop) {
    SampleRing ring = {};
    ring.capacity = kSampleSlots;
    SignalTrace t = ComputeSignalTrace(ring, kDefault.signal);  // 192 high: scale -0.192
    struct Case {
        uint32_t sample;
        int32_t y;
    } cases[] = {{0, 196}, {1000, 4}, {500, 100}, {1, 195}, {999, 4}, {2000, -188}, {65534, -12386}};
    for (const Case& c : cases) EXPECT_EQ(SignalY(t, kDefault.signal, c.sample), c.y) << c.sample;
}

TEST(FormatShort, FitsEightBytesOrGivesMinusOne) {
    struct Case {
        const char* format;
        int32_t value;
        int length;
        const char* text;
    } cases[] = {{"%d", 0, 1, "0"},           {"%d", 254, 3, "254"},         {"%d", -5, 2, "-5"},
                 {"%d", 9999999, 7, "9999999"}, {"%d", 10000000, -1, ""},     {"%d", -2147483647 - 1, -1, ""}};
    for (const Case& c : cases) {
        char text[kShortTextSize];
        EXPECT_EQ(FormatShort(text, c.format, c.value), c.length) << c.value;
        EXPECT_STREQ(text, c.text);
    }
    char text[kShortTextSize];
    EXPECT_EQ(FormatShort(text, "%u", 4294967295u), -1);
    EXPECT_EQ(FormatShort(text, "%u", 256000u), 6);
    EXPECT_STREQ(text, "256000");
}

}  // namespace
