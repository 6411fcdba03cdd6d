#include <gtest/gtest.h>

#include "display/repaint_decision.h"
#include "serial/record_decoder.h"

namespace {

enum class Step { PaintWhole, PaintPart, Sample, BeatRate, Ignored, Delete };

TEST(RepaintDecision, TheTickRepaintsExactlyWhenThePictureIsBehind) {
    struct Case {
        Step step;
        bool mustRepaint;  // what the next tick decides
    } steps[] = {
        {Step::Ignored, true},  // nothing painted yet
        {Step::PaintWhole, false},
        {Step::Ignored, false},  // a line that stores nothing changes nothing
        {Step::Sample, true},
        {Step::PaintWhole, false},
        {Step::Sample, true},
        {Step::PaintPart, true},  // part of the window still shows the older picture
        {Step::PaintWhole, false},
        {Step::BeatRate, true},
        {Step::PaintWhole, false},
        {Step::Delete, true},
        {Step::PaintWhole, false},
        {Step::Delete, true},  // cleared again: repainting once is cheap, missing a change is not
    };
    MeasurementStore store = {};
    InitMeasurementStore(store);
    PaintRecord painted = {};
    int index = 0;
    for (const Case& c : steps) {
        switch (c.step) {
            case Step::PaintWhole: NotePaint(painted, store, true); break;
            case Step::PaintPart: NotePaint(painted, store, false); break;
            case Step::Sample: StoreRecord(store, DecodeRecord("S500")); break;
            case Step::BeatRate: StoreRecord(store, DecodeRecord("B72")); break;
            case Step::Ignored: StoreRecord(store, DecodeRecord("X1")); break;
            case Step::Delete: ClearMeasurements(store); break;
        }
        EXPECT_EQ(TickMustRepaint(painted, store), c.mustRepaint) << "step " << index;
        ++index;
    }
}

}  // namespace
