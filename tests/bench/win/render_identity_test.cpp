// The speed work on the paint (a kept back buffer, ticks that repaint only
// when the rings changed) must not change a single pixel: what the window
// shows is compared with a fresh off-screen rendering of the same store.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "app/app_state.h"
#include "display/win32_draw_context.h"
#include "display/win32_main_window.h"
#include "tests/bench/win/bench_window.h"

namespace {

// A 32-bit top-down picture with a memory surface to draw on.
struct Picture {
    HDC surface = nullptr;
    HBITMAP bitmap = nullptr;
    uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;

    Picture(int w, int h) : width(w), height(h) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        surface = CreateCompatibleDC(nullptr);
        bitmap = CreateDIBSection(surface, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        pixels = static_cast<uint32_t*>(bits);
        SelectObject(surface, bitmap);
    }
    ~Picture() {
        DeleteDC(surface);
        DeleteObject(bitmap);
    }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;
};

// Prepares a surface the way the paint does before rendering.
void ClearToGreen(HDC surface, int width, int height) {
    RECT all = {0, 0, width, height};
    HBRUSH green = CreateSolidBrush(kChromaGreen);
    FillRect(surface, &all, green);
    DeleteObject(green);
    SetBkColor(surface, kPanelGrey);
}

// The expected picture: `store` rendered afresh onto an off-screen surface,
// with drawing tools of its own.
void DrawReference(Picture& picture, const MeasurementStore& store) {
    static DrawContext reference = {};
    CreateDrawingTools(reference);
    reference.layout = ComputePanelLayout(static_cast<uint32_t>(picture.width), static_cast<uint32_t>(picture.height));
    reference.surface = picture.surface;
    ClearToGreen(picture.surface, picture.width, picture.height);
    RenderPanels(reference, store);
    GdiFlush();
}

// How many pixels differ, and where the first one is.
struct Difference {
    int count = 0;
    int x = -1;
    int y = -1;
};

Difference Compare(const Picture& expected, const Picture& actual) {
    Difference difference;
    for (int y = 0; y < expected.height; ++y) {
        for (int x = 0; x < expected.width; ++x) {
            uint32_t a = expected.pixels[y * expected.width + x] & 0xFFFFFF;
            uint32_t b = actual.pixels[y * actual.width + x] & 0xFFFFFF;
            if (a == b) continue;
            if (difference.count++ == 0) {
                difference.x = x;
                difference.y = y;
            }
        }
    }
    return difference;
}

// A small deterministic generator, so every run draws the same stores.
uint32_t NextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// One store content to draw, built from scratch.
struct StoreCase {
    const char* name;
    void (*build)(MeasurementStore& store);
};

void Empty(MeasurementStore& store) { InitMeasurementStore(store); }

void FirstData(MeasurementStore& store) {
    InitMeasurementStore(store);
    for (uint16_t v : {400, 420, 900, 300}) AppendSample(store, v);
    AppendBeatRate(store, 71);
}

void FullPulse(MeasurementStore& store) { FillRings(store, 1); }
void FullPulseOther(MeasurementStore& store) { FillRings(store, 5); }

void OffScale(MeasurementStore& store) {
    InitMeasurementStore(store);
    uint32_t state = 3;
    for (uint32_t i = 0; i < kSampleSlots + 37; ++i) AppendSample(store, static_cast<uint16_t>(NextRandom(state) % 65535));
    for (uint32_t i = 0; i < kBeatSlots + 11; ++i) AppendBeatRate(store, static_cast<uint8_t>(1 + NextRandom(state) % 254));
}

void RandomMidRange(MeasurementStore& store) {
    InitMeasurementStore(store);
    uint32_t state = 17;
    for (uint32_t i = 0; i < kSampleSlots * 2 + 5; ++i) AppendSample(store, static_cast<uint16_t>(NextRandom(state) % 1200));
    for (uint32_t i = 0; i < kBeatSlots + 60; ++i) {
        uint32_t r = NextRandom(state) % 40;
        AppendBeatRate(store, static_cast<uint8_t>(r == 0 ? 0 : 40 + NextRandom(state) % 120));
    }
}

void SquareAndSteps(MeasurementStore& store) {
    InitMeasurementStore(store);
    for (uint32_t i = 0; i < kSampleSlots; ++i) {
        uint32_t phase = i % 40;
        AppendSample(store, static_cast<uint16_t>(phase < 10 ? 1000 : (phase < 20 ? 0 : (phase - 20) * 37)));
    }
    for (uint32_t i = 0; i < kBeatSlots; ++i) AppendBeatRate(store, static_cast<uint8_t>(i % 2 ? 254 : 1));
}

void FlatHistory(MeasurementStore& store) {
    InitMeasurementStore(store);
    for (uint32_t i = 0; i < kSampleSlots; ++i) AppendSample(store, 500);
    for (uint32_t i = 0; i < kBeatSlots; ++i) AppendBeatRate(store, 72);
}

void AfterDelete(MeasurementStore& store) {
    FillRings(store, 2);
    ClearMeasurements(store);
    AppendSample(store, 650);
    AppendBeatRate(store, 90);
}

const StoreCase kStores[] = {
    {"empty", Empty},
    {"first data", FirstData},
    {"full pulse", FullPulse},
    {"full pulse, other phase", FullPulseOther},
    {"off scale, full range", OffScale},
    {"random mid range with gaps", RandomMidRange},
    {"square wave and steps, history extremes", SquareAndSteps},
    {"flat", FlatHistory},
    {"after Delete", AfterDelete},
};

// ---------------------------------------------------------------- the whole paint

// The client area as the screen shows it.
void CaptureClient(HWND window, Picture& picture) {
    HDC screen = GetDC(window);
    BitBlt(picture.surface, 0, 0, picture.width, picture.height, screen, 0, 0, SRCCOPY);
    ReleaseDC(window, screen);
    GdiFlush();
}

// Lets the window handle a timer tick and whatever paint it asks for.
void Tick(HWND window) {
    SendMessageA(window, WM_TIMER, 0, 0);
    UpdateWindow(window);
    PumpMessages();
}

class WholePaint : public testing::Test {
protected:
    void SetUp() override {
        window = CreateBenchMainWindow(300, 200);
        if (!window) GTEST_SKIP() << "no window can be made here (no display)";
    }
    void TearDown() override {
        if (window) DestroyWindow(window);
        PumpMessages();
    }
    // What the window shows now against the reference picture of the store.
    void ExpectScreenShowsStore(const char* when) {
        SCOPED_TRACE(when);
        RECT client;
        GetClientRect(window, &client);
        Picture expected(client.right, client.bottom);
        Picture actual(client.right, client.bottom);
        DrawReference(expected, gApp.store);
        CaptureClient(window, actual);
        Difference difference = Compare(expected, actual);
        EXPECT_EQ(difference.count, 0) << "first at (" << difference.x << ", " << difference.y << ")";
    }
    HWND window = nullptr;
};

TEST_F(WholePaint, EveryTickShowsTheStoreAsTheReferenceDrawsIt) {
    for (const StoreCase& store : kStores) {
        store.build(gApp.store);
        Tick(window);
        ExpectScreenShowsStore(store.name);
    }
}

TEST_F(WholePaint, DataArrivingBetweenTicksShowsAtTheNextTick) {
    FillRings(gApp.store, 3);
    Tick(window);
    AppendSample(gApp.store, 999);
    AppendBeatRate(gApp.store, 140);
    Tick(window);
    ExpectScreenShowsStore("one sample and one beat rate later");
    Tick(window);
    ExpectScreenShowsStore("a tick without data");
}

TEST_F(WholePaint, APartialExposeBetweenTicksLeavesNothingStale) {
    FillRings(gApp.store, 7);
    Tick(window);
    AppendSample(gApp.store, 20);
    AppendBeatRate(gApp.store, 200);
    RECT corner = {0, 0, 40, 30};
    RedrawWindow(window, &corner, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Tick(window);
    ExpectScreenShowsStore("a tick after data and a partial expose");
}

TEST_F(WholePaint, DeleteClearsThePictureAtTheNextTick) {
    FillRings(gApp.store, 4);
    Tick(window);
    SendMessageA(window, WM_KEYDOWN, VK_DELETE, 0);
    Tick(window);
    ExpectScreenShowsStore("after Delete");
}

TEST_F(WholePaint, ExposedAndResizedWindowsAreRepaintedWhole) {
    FillRings(gApp.store, 6);
    Tick(window);
    // What the platform does when something uncovered the window.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
    UpdateWindow(window);
    PumpMessages();
    ExpectScreenShowsStore("after an expose");
    RECT outer;
    GetWindowRect(window, &outer);
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + 120, outer.bottom - outer.top + 90,
                 SWP_NOMOVE | SWP_NOZORDER);
    UpdateWindow(window);
    PumpMessages();
    ExpectScreenShowsStore("after a resize, before the next tick");
    Tick(window);
    ExpectScreenShowsStore("after a resize and a tick");
}

}  // namespace
