#pragma once
// Where the three panels stand for a given client size.
#include <cstdint>

struct PanelRect {
    int32_t left, top, right, bottom;
};

struct PanelLayout {
    int32_t cornerSize;  // width and height of the ellipse rounding each corner
    PanelRect signal;    // raw signal trace, filling the left side
    PanelRect rate;      // current beat rate, top of the right column
    int32_t textInset;   // rate number's top edge and its font's margin
    PanelRect history;   // beat-rate history, below the rate
};

// Layout for a client area `width` by `height` (as the size event reports
// them, unsigned 16-bit; a minimised window gives 0 by 0).
PanelLayout ComputePanelLayout(uint32_t width, uint32_t height);

// Height of the big rate font: the rate panel's height less the insets.
int32_t RateFontHeight(const PanelLayout& layout);

// Left edge of a text `textWidth` wide, centred in `panel`.
int32_t CentredTextLeft(const PanelRect& panel, int32_t textWidth);
