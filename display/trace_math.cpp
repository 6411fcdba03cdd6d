#include "display/trace_math.h"

// The float-to-int conversions truncate toward zero, as the drawing expects.
static int32_t Truncate(float value) { return static_cast<int32_t>(value); }

SignalTrace ComputeSignalTrace(const SampleRing& ring, const PanelRect& panel) {
    SignalTrace trace;
    uint32_t width = static_cast<uint32_t>(panel.right - panel.left);
    trace.count = width < ring.capacity ? width : ring.capacity;
    trace.start = RingWindowStart(ring.writeIndex, ring.capacity, trace.count);
    trace.scale = static_cast<float>(panel.bottom - panel.top) / -1000.0f;
    return trace;
}

int32_t SignalY(const SignalTrace& trace, const PanelRect& panel, uint32_t sample) {
    float offset = static_cast<float>(sample) * trace.scale;
    return Truncate(offset + static_cast<float>(panel.bottom));
}

HistoryTrace ComputeHistoryTrace(const BeatRing& ring, const PanelRect& panel) {
    HistoryTrace trace;
    uint32_t width = static_cast<uint32_t>(panel.right - panel.left - kLabelStrip);
    uint32_t count = width < ring.capacity ? width : ring.capacity;
    uint32_t start = ring.capacity - count + ring.writeIndex;
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t slot = (start + k) % ring.capacity;
        if (ring.slots[slot] != 0) {
            start = slot;
            count -= k;
            break;
        }
    }
    start %= ring.capacity;

    int32_t minimum = 2147483647;
    int32_t maximum = 0;
    for (uint32_t k = 0; k < count; ++k) {
        int32_t value = ring.slots[(start + k) % ring.capacity];
        if (value < minimum) minimum = value;
        if (value > maximum) maximum = value;
    }
    trace.start = start;
    trace.count = count;
    trace.lo = ((minimum + 5) / 10) * 10 - 5;
    trace.hi = ((maximum + 5) / 10) * 10 + 5;
    trace.scale = static_cast<float>(panel.bottom - panel.top) / static_cast<float>(trace.lo - trace.hi);
    trace.firstLabel = (trace.lo / 10 + 1) * 10;
    trace.lastLabel = (trace.hi / 10) * 10;
    return trace;
}

int32_t HistoryY(const HistoryTrace& trace, const PanelRect& panel, int32_t value) {
    float offset = static_cast<float>(value - trace.lo) * trace.scale;
    return Truncate(offset + static_cast<float>(panel.bottom));
}
