#include "display/panel_layout.h"

constexpr int32_t kMargin = 4;        // around and between panels
constexpr int32_t kColumnWidth = 140;  // the right column: rate above history
constexpr int32_t kRateBottom = 100;

PanelLayout ComputePanelLayout(uint32_t width, uint32_t height) {
    int32_t w = static_cast<int32_t>(width);
    int32_t h = static_cast<int32_t>(height);
    int32_t columnLeft = w - kMargin - kColumnWidth;
    PanelLayout layout;
    layout.cornerSize = 10;
    layout.signal = {kMargin, kMargin, columnLeft - kMargin, h - kMargin};
    layout.rate = {columnLeft, kMargin, w - kMargin, kRateBottom};
    layout.textInset = 8;
    layout.history = {columnLeft, kRateBottom + kMargin, w - kMargin, h - kMargin};
    return layout;
}

int32_t RateFontHeight(const PanelLayout& layout) {
    return (layout.rate.bottom - layout.rate.top) - 2 * layout.textInset;
}

int32_t CentredTextLeft(const PanelRect& panel, int32_t textWidth) {
    return panel.left + (panel.right - panel.left - textWidth) / 2;
}
