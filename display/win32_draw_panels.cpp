// Draws the panels, the rate number and both traces with GDI.
#include "display/win32_draw_panels.h"
#include "display/format_short.h"
#include "display/trace_math.h"

// A bold fixed-pitch font of the platform's choosing, `height` pixels high.
static HFONT CreatePanelFont(int height) {
    return CreateFontA(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, FIXED_PITCH, "");
}

void CreateDrawingTools(DrawContext& context) {
    if (!context.panelBrush) context.panelBrush = CreateSolidBrush(kPanelGrey);
    if (!context.tracePen) context.tracePen = CreatePen(PS_SOLID, 2, RGB(0, 0, 0));
    if (!context.gridPen) context.gridPen = CreatePen(PS_SOLID, 2, kGridGrey);
    if (!context.labelFont) context.labelFont = CreatePanelFont(14);
}

static void DrawPanel(HDC surface, const PanelRect& panel, int corner) {
    RoundRect(surface, panel.left, panel.top, panel.right, panel.bottom, corner, corner);
}

// The 2-pixel outline lies on rows top-1..top and bottom-2..bottom-1 (columns
// likewise): what it encloses, outline included, is the panel as it is seen.
static RECT PanelBounds(const PanelRect& panel) { return {panel.left - 1, panel.top - 1, panel.right, panel.bottom}; }

// The grey inside the outline, where text and grid go.
static RECT InsideOutline(const PanelRect& panel) {
    return {panel.left + 1, panel.top + 1, panel.right - 2, panel.bottom - 2};
}

// Keeps what is drawn until EndClip within `area`. A trace at the ends of its
// range lies on the panel's edge, and a grid label near it is taller than the
// room left: uncut, they reach onto the green that the streaming software
// keys out, or over the outline.
static void BeginClip(HDC surface, const RECT& area) {
    IntersectClipRect(surface, area.left, area.top, area.right, area.bottom);
}

// The paint's surfaces have no clip region of their own (a paint's update
// region is the system's, apart from it), so dropping it restores them; the
// selected tools stay as they are.
static void EndClip(HDC surface) { SelectClipRgn(surface, nullptr); }

void DrawPanels(DrawContext& context) {
    const PanelLayout& layout = context.layout;
    SelectObject(context.surface, context.panelBrush);
    SelectObject(context.surface, context.tracePen);
    DrawPanel(context.surface, layout.signal, layout.cornerSize);
    DrawPanel(context.surface, layout.rate, layout.cornerSize);
    DrawPanel(context.surface, layout.history, layout.cornerSize);
}

void DrawRate(DrawContext& context, const MeasurementStore& store) {
    const PanelLayout& layout = context.layout;
    BeginClip(context.surface, InsideOutline(layout.rate));
    if (!context.rateFont) context.rateFont = CreatePanelFont(RateFontHeight(layout));
    // Without the big font the rate still shows, small; the next paint retries.
    SelectObject(context.surface, context.rateFont ? context.rateFont : context.labelFont);
    char text[kShortTextSize];
    int length = FormatShort(text, "%d", static_cast<int32_t>(LatestBeatRate(store)));
    if (length >= 0) {
        SIZE extent = {};
        GetTextExtentPoint32A(context.surface, text, length, &extent);
        TextOutA(context.surface, CentredTextLeft(layout.rate, extent.cx), layout.textInset, text, length);
    }
    EndClip(context.surface);
}

void DrawSignal(DrawContext& context, const SampleRing& ring) {
    const PanelRect& panel = context.layout.signal;
    BeginClip(context.surface, PanelBounds(panel));
    SignalTrace trace = ComputeSignalTrace(ring, panel);
    MoveToEx(context.surface, panel.left, SignalY(trace, panel, ring.slots[trace.start]), nullptr);
    for (uint32_t i = 1; i < trace.count; ++i) {
        uint32_t sample = ring.slots[(trace.start + i) % ring.capacity];
        LineTo(context.surface, panel.left + static_cast<int>(i), SignalY(trace, panel, sample));
    }
    EndClip(context.surface);
}

void DrawGrid(DrawContext& context, const HistoryTrace& trace) {
    const PanelRect& panel = context.layout.history;
    BeginClip(context.surface, InsideOutline(panel));
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
    EndClip(context.surface);
}

void DrawHistory(DrawContext& context, const BeatRing& ring, const HistoryTrace& trace) {
    const PanelRect& panel = context.layout.history;
    BeginClip(context.surface, PanelBounds(panel));
    int left = panel.right - static_cast<int>(trace.count);
    MoveToEx(context.surface, left, HistoryY(trace, panel, ring.slots[trace.start]), nullptr);
    for (uint32_t k = 0; k < trace.count; ++k) {
        int32_t value = ring.slots[(trace.start + k) % ring.capacity];
        LineTo(context.surface, left + static_cast<int>(k), HistoryY(trace, panel, value));
    }
    EndClip(context.surface);
}

void RenderPanels(DrawContext& context, const MeasurementStore& store) {
    DrawPanels(context);
    DrawRate(context, store);
    DrawSignal(context, store.samples);
    HistoryTrace history = ComputeHistoryTrace(store.beats, context.layout.history);
    DrawGrid(context, history);
    DrawHistory(context, store.beats, history);
}
