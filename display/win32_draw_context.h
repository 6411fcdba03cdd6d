#pragma once
// The surface, drawing tools and panel geometry of the main window's paint.
#include <windows.h>

#include "display/panel_layout.h"
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

extern DrawContext gDraw;

constexpr COLORREF kChromaGreen = RGB(0, 255, 0);
constexpr COLORREF kPanelGrey = RGB(180, 180, 180);
constexpr COLORREF kGridGrey = RGB(102, 102, 102);

// Creates whichever of the panel brush, pens and label font is still missing.
void CreateDrawingTools(DrawContext& context);

// Draws the three panels from the store onto the context's surface.
void RenderPanels(DrawContext& context, const MeasurementStore& store);
