// The panels exactly as the program drew them before any change made for
// speed: a frozen copy of its rendering, kept as the reference that the
// pixel-identity check compares the program's rendering against. Never
// "improve" this file; it is the definition of the expected picture.
#include "tests/bench/win/reference_render.h"

#include "display/draw_context.h"
#include "display/format_short.h"
#include "display/trace_math.h"

// A bold fixed-pitch font of the platform's choosing, `height` pixels high.
static HFONT ReferencePanelFont(int height) {
    return CreateFontA(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, FIXED_PITCH, "");
}

void CreateReferenceTools(DrawContext& context) {
    if (!context.panelBrush) context.panelBrush = CreateSolidBrush(kPanelGrey);
    if (!context.tracePen) context.tracePen = CreatePen(PS_SOLID, 2, RGB(0, 0, 0));
    if (!context.gridPen) context.gridPen = CreatePen(PS_SOLID, 2, kGridGrey);
    if (!context.labelFont) context.labelFont = ReferencePanelFont(14);
}

static void ReferencePanel(HDC surface, const PanelRect& panel, int corner) {
    RoundRect(surface, panel.left, panel.top, panel.right, panel.bottom, corner, corner);
}

static void ReferenceRate(DrawContext& context, const MeasurementStore& store) {
    const PanelLayout& layout = context.layout;
    if (!context.rateFont) context.rateFont = ReferencePanelFont(RateFontHeight(layout));
    // Without the big font the rate still shows, small; the next paint retries.
    SelectObject(context.surface, context.rateFont ? context.rateFont : context.labelFont);
    char text[kShortTextSize];
    int length = FormatShort(text, "%d", static_cast<int32_t>(LatestBeatRate(store)));
    if (length < 0) return;
    SIZE extent = {};
    GetTextExtentPoint32A(context.surface, text, length, &extent);
    TextOutA(context.surface, CentredTextLeft(layout.rate, extent.cx), layout.textInset, text, length);
}

static void ReferenceSignal(DrawContext& context, const SampleRing& ring) {
    const PanelRect& panel = context.layout.signal;
    SignalTrace trace = ComputeSignalTrace(ring, panel);
    MoveToEx(context.surface, panel.left, SignalY(trace, panel, ring.slots[trace.start]), nullptr);
    for (uint32_t i = 1; i < trace.count; ++i) {
        uint32_t sample = ring.slots[(trace.start + i) % ring.capacity];
        LineTo(context.surface, panel.left + static_cast<int>(i), SignalY(trace, panel, sample));
    }
}

static void ReferenceGrid(DrawContext& context, const HistoryTrace& trace) {
    const PanelRect& panel = context.layout.history;
    SelectObject(context.surface, context.labelFont);
    for (int32_t label = trace.firstLabel; label <= trace.lastLabel; label += 10) {
        int y = HistoryY(trace, panel, label);
        SelectObject(context.surface, context.gridPen);
        MoveToEx(context.surface, panel.left + kLabelStrip, y, nullptr);
        LineTo(context.surface, panel.right - 3, y);
        char text[kShortTextSize];
        int length = FormatShort(text, "%d", label);
        SelectObject(context.surface, context.tracePen);
        if (length >= 0) TextOutA(context.surface, panel.left + 4, y - 7, text, length);
    }
}

static void ReferenceHistory(DrawContext& context, const BeatRing& ring, const HistoryTrace& trace) {
    const PanelRect& panel = context.layout.history;
    int left = panel.right - static_cast<int>(trace.count);
    MoveToEx(context.surface, left, HistoryY(trace, panel, ring.slots[trace.start]), nullptr);
    for (uint32_t k = 0; k < trace.count; ++k) {
        int32_t value = ring.slots[(trace.start + k) % ring.capacity];
        LineTo(context.surface, left + static_cast<int>(k), HistoryY(trace, panel, value));
    }
}

void RenderReferencePanels(DrawContext& context, const MeasurementStore& store) {
    const PanelLayout& layout = context.layout;
    SelectObject(context.surface, context.panelBrush);
    SelectObject(context.surface, context.tracePen);
    ReferencePanel(context.surface, layout.signal, layout.cornerSize);
    ReferencePanel(context.surface, layout.rate, layout.cornerSize);
    ReferencePanel(context.surface, layout.history, layout.cornerSize);

    ReferenceRate(context, store);
    ReferenceSignal(context, store.samples);

    HistoryTrace history = ComputeHistoryTrace(store.beats, layout.history);
    ReferenceGrid(context, history);
    ReferenceHistory(context, store.beats, history);
}
