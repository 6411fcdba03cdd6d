// Where a frame's time goes: each of the program's own drawing steps timed on
// its own, with its tools and a full store. For finding causes; the figures
// that count are those of frame_bench.
#include <windows.h>

#include <cstdio>
#include <initializer_list>

#include "app/app_state.h"
#include "app/win32_app_state.h"
#include "display/win32_draw_panels.h"
#include "display/trace_math.h"
#include "tests/bench/win/bench_window.h"

constexpr int kWidth = 300;
constexpr int kHeight = 200;
constexpr int kFrames = 2000;

static double gSamples[kFrames];

// One step of a frame, drawn on `surface`.
struct Step {
    const char* name;
    void (*draw)(HDC surface);
};

static HBRUSH gGreen;

static void Fill(HDC surface) {
    RECT all = {0, 0, kWidth, kHeight};
    FillRect(surface, &all, gGreen);
}

static void Panels(HDC) { DrawPanels(gWin32.mainWindow.draw); }

static void RateText(HDC) { DrawRate(gWin32.mainWindow.draw, gApp.store); }

static void SignalLines(HDC) { DrawSignal(gWin32.mainWindow.draw, gApp.store.samples); }

static void GridAndLabels(HDC) {
    DrawContext& draw = gWin32.mainWindow.draw;
    DrawGrid(draw, ComputeHistoryTrace(gApp.store.beats, draw.layout.history));
}

static void HistoryLines(HDC) {
    const BeatRing& ring = gApp.store.beats;
    DrawHistory(gWin32.mainWindow.draw, ring, ComputeHistoryTrace(ring, gWin32.mainWindow.draw.layout.history));
}

static void WholeRender(HDC) { RenderPanels(gWin32.mainWindow.draw, gApp.store); }

// The same signal as one Polyline call: a cheaper-looking alternative that the
// platform turns out to make slower (it unions every segment's outline).
static void SignalPolyline(HDC surface) {
    const SampleRing& ring = gApp.store.samples;
    const PanelRect& panel = gWin32.mainWindow.draw.layout.signal;
    SelectObject(surface, gWin32.mainWindow.draw.tracePen);
    SignalTrace trace = ComputeSignalTrace(ring, panel);
    static POINT points[kSampleSlots];
    for (uint32_t i = 0; i < trace.count; ++i)
        points[i] = {panel.left + static_cast<int>(i), SignalY(trace, panel, ring.slots[(trace.start + i) % ring.capacity])};
    Polyline(surface, points, static_cast<int>(trace.count));
}

// The benchmark's main window, made on first use.
static HWND BenchWindow() {
    static HWND window = CreateBenchMainWindow(kWidth, kHeight);
    return window;
}

static void CopyToWindow(HDC surface) {
    static HDC screen = GetDC(BenchWindow());
    BitBlt(screen, 0, 0, kWidth, kHeight, surface, 0, 0, SRCCOPY);
}

// One request to the Wine server and its answer, the unit most window calls cost.
static void ServerRoundTrip(HDC) {
    RECT update;
    GetUpdateRect(BenchWindow(), &update, FALSE);
}

static void Invalidate(HDC) { InvalidateRect(BenchWindow(), nullptr, FALSE); }

// What the paint spends besides drawing: BeginPaint and EndPaint on a window
// whose client was invalidated, as every tick leaves it.
static void BeginEndPaint(HDC) {
    HWND window = BenchWindow();
    InvalidateRect(window, nullptr, FALSE);
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
}

static const Step kSteps[] = {
    {"fill green", Fill},
    {"3 panels (RoundRect)", Panels},
    {"rate text", RateText},
    {"signal (LineTo each)", SignalLines},
    {"signal (one Polyline, unclipped)", SignalPolyline},
    {"grid and labels", GridAndLabels},
    {"history (LineTo each)", HistoryLines},
    {"all of RenderPanels", WholeRender},
    {"copy to the window (BitBlt)", CopyToWindow},
    {"one Wine server round trip (GetUpdateRect)", ServerRoundTrip},
    {"InvalidateRect of the client", Invalidate},
    {"InvalidateRect, BeginPaint, EndPaint", BeginEndPaint},
};

int main() {
    FillRings(gApp.store, 1);
    HDC screen = GetDC(nullptr);
    HDC surface = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
    SelectObject(surface, bitmap);
    gGreen = CreateSolidBrush(kChromaGreen);
    gWin32.mainWindow.draw.layout = ComputePanelLayout(kWidth, kHeight);
    CreateDrawingTools(gWin32.mainWindow.draw);
    gWin32.mainWindow.draw.surface = surface;
    RenderPanels(gWin32.mainWindow.draw, gApp.store);  // makes the rate font
    SetBkColor(surface, kPanelGrey);
    for (const Step& step : kSteps) {
        for (int i = -100; i < kFrames; ++i) {
            LARGE_INTEGER start;
            QueryPerformanceCounter(&start);
            step.draw(surface);
            double took = MicrosecondsSince(start);
            if (i >= 0) gSamples[i] = took;
        }
        std::printf("step %-44s %8.1f us\n", step.name, Median(gSamples, kFrames));
    }
    return 0;
}
