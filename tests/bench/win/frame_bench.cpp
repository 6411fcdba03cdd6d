// Frame cost under the platform: RenderPanels alone on an off-screen surface,
// and the whole paint of the real main window (BeginPaint, back buffer, render,
// copy, EndPaint), with full rings on the default 300x200 client.
// Prints "render_us <median>", "paint_us <median>" and the tick shares.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app_state.h"
#include "app/win32_app_state.h"
#include "display/win32_draw_panels.h"
#include "tests/bench/win/bench_window.h"

constexpr int kClientWidth = 300;
constexpr int kClientHeight = 200;
constexpr double kTickMicroseconds = 1e6 / 60;  // the 16.7 ms of one frame at 60 Hz
constexpr int kWarmupFrames = 200;

static double gSamples[100000];

// Median microseconds of RenderPanels onto a client-sized off-screen surface.
static double TimeRenderPanels(HWND window, int frames) {
    HDC screen = GetDC(window);
    HDC surface = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kClientWidth, kClientHeight);
    SelectObject(surface, bitmap);
    RECT client = {0, 0, kClientWidth, kClientHeight};
    HBRUSH green = CreateSolidBrush(kChromaGreen);
    gWin32.mainWindow.draw.layout = ComputePanelLayout(kClientWidth, kClientHeight);
    CreateDrawingTools(gWin32.mainWindow.draw);
    gWin32.mainWindow.draw.surface = surface;
    SetBkColor(surface, kPanelGrey);
    for (int i = -kWarmupFrames; i < frames; ++i) {
        FillRect(surface, &client, green);
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        RenderPanels(gWin32.mainWindow.draw, gApp.store);
        double took = MicrosecondsSince(start);
        if (i >= 0) gSamples[i] = took;
    }
    DeleteObject(green);
    DeleteDC(surface);
    DeleteObject(bitmap);
    ReleaseDC(window, screen);
    return Median(gSamples, frames);
}

// Median microseconds of one whole paint of the main window, driven the way
// a tick drives it: the client invalidated, then WM_PAINT taken from the
// message queue and handled (BeginPaint, off-screen surface, render, copy, EndPaint).
static double TimeWholePaint(HWND window, int frames) {
    for (int i = -kWarmupFrames; i < frames; ++i) {
        PumpMessages();
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        InvalidateRect(window, nullptr, FALSE);
        MSG message;
        bool painted = PeekMessageA(&message, window, WM_PAINT, WM_PAINT, PM_REMOVE) != 0;
        if (painted) DispatchMessageA(&message);
        double took = MicrosecondsSince(start);
        if (!painted) return -1;  // the platform did not queue the paint: no figure
        if (i >= 0) gSamples[i] = took;
    }
    return Median(gSamples, frames);
}

int main(int argc, char** argv) {
    int frames = 3000;
    bool render = true, paint = true;  // --only render|paint, for profiling one of them
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) frames = std::atoi(argv[++i]);
        if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            ++i;
            render = std::strcmp(argv[i], "render") == 0;
            paint = std::strcmp(argv[i], "paint") == 0;
        }
    }
    if (frames < 1 || frames > 100000) frames = 3000;
    FillRings(gApp.store, 1);
    HWND window = CreateBenchMainWindow(kClientWidth, kClientHeight);
    if (!window) {
        std::printf("error cannot create the main window\n");
        return 1;
    }
    RECT client;
    GetClientRect(window, &client);
    std::printf("client %ldx%ld\n", client.right, client.bottom);
    std::printf("frames %d\n", frames);
    if (render) {
        double took = TimeRenderPanels(window, frames);
        std::printf("render_us %.1f\nrender_tick_pct %.2f\n", took, 100 * took / kTickMicroseconds);
    }
    if (paint) {
        double took = TimeWholePaint(window, frames);
        if (took < 0) {
            std::printf("error no WM_PAINT after invalidating\n");
            return 1;
        }
        std::printf("paint_us %.1f\npaint_tick_pct %.2f\n", took, 100 * took / kTickMicroseconds);
    }
    DestroyWindow(window);
    return 0;
}
