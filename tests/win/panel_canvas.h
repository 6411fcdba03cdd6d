#pragma once
// Pictures of the panels read back pixel by pixel: drawn off-screen the way
// the main window's paint prepares its surface, or captured from a window.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "store/measurement_store.h"

constexpr uint32_t kGreen = 0x00FF00;
constexpr uint32_t kGrey = 0xB4B4B4;
constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kGrid = 0x666666;

// A picture; empty when it could not be made. Pixels are 0xRRGGBB.
struct Canvas {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;

    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// RenderPanels onto a fresh 32-bit surface: green fill, grey text background,
// the drawing tools and the layout for this size in the main window's draw
// context, whose layout and surface are put back afterwards.
Canvas RenderOffScreen(int width, int height, const MeasurementStore& store);

// The client area of a window as it is on the screen now.
Canvas CaptureClient(HWND window);

// Fills both rings completely: a pulse-shaped signal and beat rates that wander
// over several grid lines. `seed` varies the shapes.
void FillRings(MeasurementStore& store, uint32_t seed);
