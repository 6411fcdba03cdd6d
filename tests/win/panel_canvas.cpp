#include "tests/win/panel_canvas.h"

#include "app/win32_app_state.h"
#include "display/win32_draw_panels.h"

namespace {

// A top-down 32-bit surface whose pixels can be read directly.
struct Surface {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    const uint32_t* bits = nullptr;
};

// A fresh surface selected into its own memory DC.
Surface MakeSurface(int width, int height) {
    Surface s;
    s.dc = CreateCompatibleDC(nullptr);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    s.bitmap = CreateDIBSection(s.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    s.bits = static_cast<const uint32_t*>(bits);
    if (s.dc && s.bitmap) s.previous = SelectObject(s.dc, s.bitmap);
    return s;
}

// Copies the pixels out and releases the surface.
Canvas ReadAndFree(Surface& s, int width, int height) {
    Canvas canvas;
    if (s.dc && s.bitmap && s.bits) {
        GdiFlush();
        canvas.width = width;
        canvas.height = height;
        canvas.pixels.assign(s.bits, s.bits + static_cast<size_t>(width) * height);
        for (uint32_t& p : canvas.pixels) p &= 0xFFFFFF;
    }
    if (s.previous) SelectObject(s.dc, s.previous);
    if (s.bitmap) DeleteObject(s.bitmap);
    if (s.dc) DeleteDC(s.dc);
    return canvas;
}

}  // namespace

Canvas RenderOffScreen(int width, int height, const MeasurementStore& store) {
    Surface s = MakeSurface(width, height);
    if (!s.bits) return ReadAndFree(s, width, height);
    RECT all = {0, 0, width, height};
    HBRUSH green = CreateSolidBrush(kChromaGreen);
    FillRect(s.dc, &all, green);
    DeleteObject(green);
    SetBkColor(s.dc, kPanelGrey);

    PanelLayout savedLayout = gWin32.mainWindow.draw.layout;
    HDC savedSurface = gWin32.mainWindow.draw.surface;
    CreateDrawingTools(gWin32.mainWindow.draw);
    gWin32.mainWindow.draw.layout = ComputePanelLayout(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
    gWin32.mainWindow.draw.surface = s.dc;
    RenderPanels(gWin32.mainWindow.draw, store);
    gWin32.mainWindow.draw.layout = savedLayout;
    gWin32.mainWindow.draw.surface = savedSurface;
    return ReadAndFree(s, width, height);
}

Canvas CaptureClient(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    int width = client.right - client.left, height = client.bottom - client.top;
    Surface s = MakeSurface(width, height);
    HDC screen = GetDC(window);
    if (s.bits && screen) BitBlt(s.dc, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    if (screen) ReleaseDC(window, screen);
    return ReadAndFree(s, width, height);
}

void FillRings(MeasurementStore& store, uint32_t seed) {
    InitMeasurementStore(store);
    for (uint32_t i = 0; i < kSampleSlots; ++i) {
        uint32_t phase = (i + seed * 7) % 50;
        uint32_t pulse = phase < 6 ? phase * 120 : (phase < 30 ? 720 - (phase - 6) * 28 : 50);
        AppendSample(store, static_cast<uint16_t>(150 + pulse + (i * 7919u + seed) % 31));
    }
    for (uint32_t i = 0; i < kBeatSlots; ++i) {
        uint32_t wander = (i * 3 + seed * 11) % 80;
        AppendBeatRate(store, static_cast<uint8_t>(60 + (wander < 40 ? wander : 80 - wander)));
    }
}
