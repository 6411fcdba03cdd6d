#pragma once
// Draws the three panels with GDI: the surface, tools and geometry of the
// main window's paint, and the drawing steps.
#include <windows.h>

#include "display/panel_layout.h"
#include "display/trace_math.h"
#include "store/measurement_store.h"

struct DrawContext {
    HDC surface;         // off-screen surface of the current paint
    HBRUSH panelBrush;   // fill of the three panels
    HPEN tracePen;       // panel outlines and both traces
    HPEN gridPen;        // horizontal grid lines of the history
    HFONT rateFont;      // the big current-rate number; made on first render
    HFONT labelFont;     // grid labels
    PanelLayout layout;  // follows the window's client size
};

constexpr COLORREF kChromaGreen = RGB(0, 255, 0);
constexpr COLORREF kPanelGrey = RGB(180, 180, 180);
constexpr COLORREF kGridGrey = RGB(102, 102, 102);

// Creates whichever of the panel brush, pens and label font is still missing.
void CreateDrawingTools(DrawContext& context);

// Draws the three panels from the store onto the context's surface.
void RenderPanels(DrawContext& context, const MeasurementStore& store);

// The steps of RenderPanels, in its order; each keeps its drawing within its
// panel and leaves the surface without a clip region. Apart so that each can
// be timed on its own.
void DrawPanels(DrawContext& context);  // selects the panel brush and trace pen
void DrawRate(DrawContext& context, const MeasurementStore& store);
void DrawSignal(DrawContext& context, const SampleRing& ring);
void DrawGrid(DrawContext& context, const HistoryTrace& trace);
void DrawHistory(DrawContext& context, const BeatRing& ring, const HistoryTrace& trace);
