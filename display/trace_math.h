#pragma once
// The arithmetic of the two traces: which ring slots they show and at which
// heights. All in single precision with truncation, so every build draws the
// same pixels.
#include <cstdint>

#include "display/panel_layout.h"
#include "store/measurement_store.h"

// The raw signal window: one pixel per sample, newest at the right.
struct SignalTrace {
    uint32_t start;  // ring slot of the oldest sample shown
    uint32_t count;  // samples shown: the panel width, at most the ring capacity
    float scale;     // pixels per sample unit (negative: larger is higher)
};

SignalTrace ComputeSignalTrace(const SampleRing& ring, const PanelRect& panel);

// Row of a sample: 0 on the bottom edge, 1000 on the top edge, larger above it.
int32_t SignalY(const SignalTrace& trace, const PanelRect& panel, uint32_t sample);

constexpr int32_t kLabelStrip = 20;  // room for grid labels left of the history

// The beat-rate history window with its self-scaling axis.
struct HistoryTrace {
    uint32_t start;      // ring slot of the oldest value drawn
    uint32_t count;      // values drawn, at least 1
    int32_t lo;          // axis value on the bottom edge (ends in 5)
    int32_t hi;          // axis value on the top edge (ends in 5)
    float scale;         // pixels per beat (negative)
    int32_t firstLabel;  // first grid label; no grid when above lastLabel
    int32_t lastLabel;
};

// Leading empty (zero) slots are skipped, so a ring that is still filling is
// drawn only where it has data; a window of zeros is drawn whole.
HistoryTrace ComputeHistoryTrace(const BeatRing& ring, const PanelRect& panel);

// Row of a value (or grid label) on the history axis.
int32_t HistoryY(const HistoryTrace& trace, const PanelRect& panel, int32_t value);
