// The panels as GDI really draws them: rendered onto a 32-bit DIB prepared
// the way the main window's paint prepares its surface, then read back pixel
// by pixel. Fonts are Wine's, so text is checked by where its ink lies, not
// by glyph shapes.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "display/win32_draw_panels.h"
#include "tests/win/panel_canvas.h"

namespace {

// A store holding these samples and beat rates, appended in order.
MeasurementStore StoreWith(const std::vector<uint16_t>& samples, const std::vector<uint8_t>& beats) {
    MeasurementStore store = {};
    InitMeasurementStore(store);
    for (uint16_t s : samples) AppendSample(store, s);
    for (uint8_t b : beats) AppendBeatRate(store, b);
    return store;
}

struct Box {
    int left, top, right, bottom;  // right and bottom exclusive; empty when right <= left
};

// Bounding box of the pixels in `area` that are not `background`.
Box InkBox(const Canvas& c, const Box& area, uint32_t background) {
    Box box = {area.right, area.bottom, area.left, area.top};
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            if (c.At(x, y) == background) continue;
            box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1), std::max(box.bottom, y + 1)};
        }
    }
    return box;
}

// How many pixels in `area` are exactly `colour`.
int CountColour(const Canvas& c, const Box& area, uint32_t colour) {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) count += c.At(x, y) == colour;
    }
    return count;
}

// Inside a panel, clear of its outline.
Box Interior(const PanelRect& p) { return {p.left + 3, p.top + 3, p.right - 3, p.bottom - 3}; }

// Whether column x has a black pixel between the two rows (inclusive).
bool BlackInRows(const Canvas& c, int x, int fromY, int toY) {
    for (int y = fromY; y <= toY; ++y) {
        if (c.At(x, y) == kBlack) return true;
    }
    return false;
}

// Walks from a green pixel outside a panel inwards: green, then a thin black
// outline, then the grey fill.
void ExpectOutlineCrossing(const Canvas& c, int x, int y, int dx, int dy) {
    SCOPED_TRACE(testing::Message() << "from (" << x << "," << y << ") step (" << dx << "," << dy << ")");
    ASSERT_EQ(c.At(x, y), kGreen);
    for (int steps = 0; c.At(x, y) == kGreen && steps < 6; ++steps) {
        x += dx;
        y += dy;
    }
    int black = 0;
    for (; c.At(x, y) == kBlack && black < 8; ++black) {
        x += dx;
        y += dy;
    }
    EXPECT_GE(black, 1) << "no outline";
    EXPECT_LE(black, 3) << "outline too thick";
    EXPECT_EQ(c.At(x, y), kGrey) << "no grey fill inside the outline";
}

// Row the trace of a value crosses a column at, on an axis from `low` (bottom
// edge) to `high` (top edge); worked out apart from the product's arithmetic,
// so it may differ from it by one row.
int AxisRow(const PanelRect& p, double value, double low, double high) {
    return static_cast<int>(p.bottom - (value - low) * (p.bottom - p.top) / (high - low));
}

// A trace of one value per column: each column's ink must touch the value's
// row (the 2-pixel pen covers it and the row above) and stay between its
// neighbours' rows, which the joining segments span.
void ExpectTrace(const Canvas& c, const PanelRect& p, int firstX, const std::vector<int>& rows) {
    for (size_t i = 1; i + 1 < rows.size(); ++i) {
        int x = firstX + static_cast<int>(i);
        if (x < p.left + 3 || x >= p.right - 3) continue;  // the outline is black too
        SCOPED_TRACE(testing::Message() << "column " << x << ", value #" << i);
        EXPECT_TRUE(BlackInRows(c, x, rows[i] - 2, rows[i] + 1)) << "expected near row " << rows[i];
        int low = std::min({rows[i - 1], rows[i], rows[i + 1]}) - 3;
        int high = std::max({rows[i - 1], rows[i], rows[i + 1]}) + 2;
        for (int y = p.top + 3; y < p.bottom - 3; ++y) {
            if (c.At(x, y) == kBlack) {
                EXPECT_TRUE(y >= low && y <= high) << "stray ink at row " << y;
            }
        }
    }
}

TEST(RenderPanels, PanelsAreOutlinedGreyBoxesWithRoundedCornersOnGreen) {
    for (auto size : {std::pair<int, int>{300, 200}, {460, 300}}) {
        SCOPED_TRACE(testing::Message() << size.first << "x" << size.second);
        Canvas c = RenderOffScreen(size.first, size.second, StoreWith({}, {}));
        ASSERT_FALSE(c.pixels.empty());
        const PanelLayout layout = ComputePanelLayout(size.first, size.second);
        const int w = c.width, h = c.height;

        // Margins, the gap between the columns and the gap between rate and history.
        for (int x = 0; x < w; ++x) {
            for (int y : {0, 1, h - 2, h - 1}) ASSERT_EQ(c.At(x, y), kGreen) << x << "," << y;
        }
        for (int y = 0; y < h; ++y) {
            for (int x : {0, 1, w - 2, w - 1, layout.rate.left - 3}) ASSERT_EQ(c.At(x, y), kGreen) << x << "," << y;
        }
        for (int x = layout.rate.left - 3; x < w; ++x) ASSERT_EQ(c.At(x, layout.rate.bottom + 1), kGreen) << x;

        for (const PanelRect& p : {layout.signal, layout.rate, layout.history}) {
            SCOPED_TRACE(testing::Message() << "panel " << p.left << "," << p.top << "," << p.right << "," << p.bottom);
            // A third of the way along each edge: clear of the corners, the
            // empty history line (halfway up) and the rate text.
            int alongX = p.left + (p.right - p.left) / 3, alongY = p.top + (p.bottom - p.top) / 3;
            ExpectOutlineCrossing(c, p.left - 3, alongY, 1, 0);
            ExpectOutlineCrossing(c, p.right + 1, alongY, -1, 0);
            ExpectOutlineCrossing(c, alongX, p.top - 3, 0, 1);
            ExpectOutlineCrossing(c, alongX, p.bottom + 1, 0, -1);
            for (int x : {p.left + 6, p.right - 7}) {
                for (int y : {p.top + 6, p.bottom - 7}) EXPECT_EQ(c.At(x, y), kGrey) << x << "," << y;
            }
            // Rounded: the very corners stay green. (The signal panel's
            // bottom corners carry the empty trace.)
            EXPECT_EQ(c.At(p.left, p.top), kGreen);
            EXPECT_EQ(c.At(p.right - 1, p.top), kGreen);
            if (p.left != layout.signal.left) {
                EXPECT_EQ(c.At(p.left, p.bottom - 1), kGreen);
                EXPECT_EQ(c.At(p.right - 1, p.bottom - 1), kGreen);
            }
        }
    }
}

TEST(RenderPanels, TheRateNumberIsCentredInItsPanelBelowItsTop) {
    const PanelLayout layout = ComputePanelLayout(300, 200);
    const PanelRect& rate = layout.rate;
    int previousWidth = 0, previousDigits = 0;
    for (uint8_t beat : {0, 7, 72, 188}) {
        SCOPED_TRACE(static_cast<int>(beat));
        // 0 is also what an empty store shows.
        Canvas c = RenderOffScreen(300, 200, beat == 0 ? StoreWith({}, {}) : StoreWith({}, {60, beat}));
        ASSERT_FALSE(c.pixels.empty());
        Box ink = InkBox(c, Interior(rate), kGrey);
        ASSERT_GT(ink.right, ink.left) << "no rate text";
        int panelCentre2 = rate.left + rate.right;  // doubled, to stay in integers
        EXPECT_NEAR(ink.left + ink.right, panelCentre2, 6) << "ink spans " << ink.left << ".." << ink.right;
        // Drawn from y = 8 in a font filling the panel less its insets.
        EXPECT_GE(ink.top, layout.textInset);
        EXPECT_LE(ink.top, layout.textInset + 20);
        EXPECT_GE(ink.bottom, layout.textInset + 40) << "text far smaller than the panel";
        EXPECT_LE(ink.bottom, rate.bottom - 3);
        int digits = beat >= 100 ? 3 : beat >= 10 ? 2 : 1;
        if (digits > previousDigits) {
            EXPECT_GT(ink.right - ink.left, previousWidth) << "more digits, wider text";
        }
        previousWidth = ink.right - ink.left;
        previousDigits = digits;
        // The text cell is filled with the panel grey, not white.
        for (int y = rate.top + 3; y < rate.bottom - 3; ++y) {
            for (int x = rate.left + 3; x < rate.right - 3; ++x) ASSERT_LE(c.At(x, y) & 0xFF, 0xB4u) << x << "," << y;
        }
    }
}

TEST(RenderPanels, TheSignalTraceShowsTheNewestSamplesAtTheRight) {
    // A sawtooth that rises slowly and drops at once, appended past the
    // ring's end, so a mirrored or shifted window cannot pass.
    std::vector<uint16_t> samples;
    for (int k = 0; k < 450; ++k) samples.push_back(static_cast<uint16_t>(150 + (k % 50) * 14));
    Canvas c = RenderOffScreen(300, 200, StoreWith(samples, {}));
    ASSERT_FALSE(c.pixels.empty());
    const PanelRect& signal = ComputePanelLayout(300, 200).signal;
    const size_t shown = signal.right - signal.left;  // one column per sample
    std::vector<int> rows;
    for (size_t i = samples.size() - shown; i < samples.size(); ++i) {
        rows.push_back(AxisRow(signal, samples[i], 0, 1000));
    }
    ExpectTrace(c, signal, signal.left, rows);
}

TEST(RenderPanels, AWideSignalPanelShowsOneRingOfSamplesFromItsLeftEdge) {
    const int width = 700;  // signal panel 548 wide, the ring holds 400
    std::vector<uint16_t> samples;
    for (int k = 0; k < 400; ++k) samples.push_back(static_cast<uint16_t>(200 + k));
    Canvas c = RenderOffScreen(width, 200, StoreWith(samples, {}));
    ASSERT_FALSE(c.pixels.empty());
    const PanelRect& signal = ComputePanelLayout(width, 200).signal;
    ASSERT_GT(signal.right - signal.left, 400 + 10);
    std::vector<int> rows;
    for (uint16_t s : samples) rows.push_back(AxisRow(signal, s, 0, 1000));
    ExpectTrace(c, signal, signal.left, rows);
    Box beyond = {signal.left + 402, signal.top + 3, signal.right - 3, signal.bottom - 3};
    EXPECT_EQ(CountColour(c, beyond, kBlack), 0) << "ink right of the 400th column";
}

TEST(RenderPanels, HistoryGridAndLabelsFollowTheBeatRange) {
    const std::vector<uint8_t> beats = {62, 75, 88, 70, 66, 81, 79, 64, 85, 72,
                                        62, 75, 88, 70, 66, 81, 79, 64, 85, 72};
    Canvas c = RenderOffScreen(300, 200, StoreWith({}, beats));
    ASSERT_FALSE(c.pixels.empty());
    const PanelRect& history = ComputePanelLayout(300, 200).history;
    // 62..88 gives an axis from 55 to 95: grid lines at 60, 70, 80 and 90.
    const double low = 55, high = 95;
    const int gridStart = history.left + 20, gridEnd = history.right - 3;
    const int traceStart = history.right - static_cast<int>(beats.size());
    for (int label : {60, 70, 80, 90}) {
        SCOPED_TRACE(label);
        int y = AxisRow(history, label, low, high);
        int gridded = 0;
        for (int x = gridStart + 1; x < traceStart - 2; ++x) {
            gridded += c.At(x, y) == kGrid || c.At(x, y - 1) == kGrid || c.At(x, y + 1) == kGrid;
        }
        EXPECT_EQ(gridded, traceStart - 3 - gridStart) << "grid line near row " << y;
        Box labelArea = {history.left + 3, y - 8, gridStart, y + 9};
        EXPECT_GE(CountColour(c, labelArea, kBlack), 10) << "no label text left of the grid line";
    }
    // Exactly those four lines (2 pixels each), and none left of the label strip's end.
    int column = (gridStart + traceStart) / 2;
    EXPECT_EQ(CountColour(c, {column, history.top, column + 1, history.bottom}, kGrid), 8);
    EXPECT_EQ(CountColour(c, {history.left, history.top, gridStart - 2, history.bottom}, kGrid), 0);
    EXPECT_EQ(CountColour(c, {gridEnd + 1, history.top, history.right, history.bottom}, kGrid), 0);

    // The trace covers only the values there are, at the right.
    std::vector<int> rows;
    for (uint8_t b : beats) rows.push_back(AxisRow(history, b, low, high));
    ExpectTrace(c, history, traceStart, rows);
    EXPECT_EQ(CountColour(c, {gridStart + 1, history.top + 3, traceStart - 2, history.bottom - 3}, kBlack), 0);
}

TEST(RenderPanels, AnEmptyStoreDrawsFlatLinesAndNoGrid) {
    Canvas c = RenderOffScreen(300, 200, StoreWith({}, {}));
    ASSERT_FALSE(c.pixels.empty());
    const PanelLayout layout = ComputePanelLayout(300, 200);
    const PanelRect& signal = layout.signal;
    const PanelRect& history = layout.history;
    // Zero sits on the signal panel's bottom edge; the pen's lower row would
    // fall below the outline and is cut off, as below the history panel.
    for (int x = signal.left + 1; x < signal.right - 2; ++x) {
        ASSERT_EQ(c.At(x, signal.bottom - 1), kBlack) << x;
        ASSERT_EQ(c.At(x, signal.bottom), kGreen) << x;
    }
    EXPECT_EQ(c.At((history.left + history.right) / 2, history.bottom), kGreen);
    EXPECT_EQ(CountColour(c, Interior(signal), kBlack), 0);

    // All-zero history: an axis from -5 to 5, the line halfway up, all across.
    const int middle = (history.top + history.bottom) / 2;
    const int traceStart = history.right - (history.right - history.left - 20);
    for (int x = traceStart; x < history.right - 3; ++x) {
        ASSERT_TRUE(BlackInRows(c, x, middle - 1, middle)) << x;
    }
    EXPECT_EQ(CountColour(c, {history.left + 3, history.top + 3, traceStart - 2, history.bottom - 3}, kBlack), 0);
    EXPECT_EQ(CountColour(c, {0, 0, c.width, c.height}, kGrid), 0) << "no grid without a range";
}

// Whatever the data, a panel's drawing stays within what its outline
// encloses (the 2-pixel outline lies on rows top-1..top and bottom-2..bottom-1,
// columns likewise), and nothing covers the outline: the green around the
// panels is keyed out on stream, so a stray pixel there floats in the picture.
TEST(RenderPanels, NothingIsDrawnOutsideThePanelsOrOverTheirOutlines) {
    struct Case {
        const char* name;
        int width, height;
        std::vector<uint16_t> samples;
        std::vector<uint8_t> beats;
    };
    std::vector<uint16_t> extremes, sawtooth;
    for (int k = 0; k < 400; ++k) extremes.push_back(k % 3 == 0 ? 0 : (k % 3 == 1 ? 1000 : 65535));
    for (int k = 0; k < 400; ++k) sawtooth.push_back(static_cast<uint16_t>(k * 3));
    std::vector<uint8_t> everyRate, wide, topLabels, onTheLowEdge;
    for (int k = 0; k < 300; ++k) everyRate.push_back(static_cast<uint8_t>(1 + (k * 37) % 254));
    for (int k = 0; k < 120; ++k) wide.push_back(static_cast<uint8_t>(40 + (k * 13) % 161));
    for (int k = 0; k < 120; ++k) topLabels.push_back(static_cast<uint8_t>(k % 2 ? 250 : 60));
    for (int k = 0; k < 120; ++k) onTheLowEdge.push_back(static_cast<uint8_t>(k % 4 ? 65 : 84));
    const Case cases[] = {
        {"history spanning every rate, signal at 0, 1000 and off scale", 300, 200, extremes, everyRate},
        {"lowest label just above the bottom edge", 300, 200, sawtooth, wide},
        {"three-digit labels at the top of the range", 300, 200, sawtooth, topLabels},
        {"history values on the bottom edge", 300, 200, extremes, onTheLowEdge},
        {"a larger window", 460, 300, extremes, everyRate},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        // The outline alone, with the signal trace clear of its edges.
        Canvas bare = RenderOffScreen(test.width, test.height, StoreWith(std::vector<uint16_t>(400, 500), {}));
        Canvas c = RenderOffScreen(test.width, test.height, StoreWith(test.samples, test.beats));
        ASSERT_FALSE(c.pixels.empty());
        const PanelLayout layout = ComputePanelLayout(test.width, test.height);
        const PanelRect panels[] = {layout.signal, layout.rate, layout.history};
        int outside = 0, outlineCovered = 0;
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                bool inPanel = false, onOutline = false;
                for (const PanelRect& p : panels) {
                    bool in = x >= p.left - 1 && x < p.right && y >= p.top - 1 && y < p.bottom;
                    inPanel = inPanel || in;
                    onOutline = onOutline || (in && (x <= p.left || x >= p.right - 2 || y <= p.top || y >= p.bottom - 2));
                }
                outside += !inPanel && c.At(x, y) != kGreen;
                outlineCovered += onOutline && bare.At(x, y) == kBlack && c.At(x, y) != kBlack;
            }
        }
        EXPECT_EQ(outside, 0) << "pixels drawn on the green around the panels";
        EXPECT_EQ(outlineCovered, 0) << "outline pixels painted over";
    }
}

}  // namespace
