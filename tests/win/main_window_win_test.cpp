// The main window's whole paint path on a real (Xvfb) screen: size events,
// the double-buffered paint, keys. What reaches the screen must be exactly
// what the panels draw off-screen for the same size and data.
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/win32_app_state.h"
#include "app/win32_event_loop.h"
#include "display/win32_draw_panels.h"
#include "display/win32_main_window.h"
#include "settings/win32_settings_window.h"
#include "tests/win/panel_canvas.h"
#include "tests/win/win_test_support.h"
#include "tests/win/window_classes.h"

namespace {

constexpr DWORD kMainWindowStyle = WS_SYSMENU | WS_THICKFRAME;

// Sizes the window so its client area is exactly this big. The frame is
// measured rather than computed: without a window manager Wine's frame
// differs from what AdjustWindowRectEx says.
void SetClientSize(HWND window, int clientWidth, int clientHeight) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        RECT outer, client;
        GetWindowRect(window, &outer);
        GetClientRect(window, &client);
        int dx = clientWidth - client.right, dy = clientHeight - client.bottom;
        if (dx == 0 && dy == 0) return;
        SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + dx, outer.bottom - outer.top + dy,
                     SWP_NOMOVE | SWP_NOZORDER);
        PumpMessages();
    }
}

// How many pixels two pictures of one size differ in; -1 for different sizes.
int DifferingPixels(const Canvas& a, const Canvas& b) {
    if (a.width != b.width || a.height != b.height) return -1;
    int differing = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) differing += a.pixels[i] != b.pixels[i];
    return differing;
}

class MainWindowTest : public ::testing::Test {
  protected:
    HWND window = nullptr;

    // A main window with some data, shown, with a 300x240 client area.
    void SetUp() override {
        RegisterVintraWindowClasses();
        gApp.store = {};
        InitMeasurementStore(gApp.store);
        for (int k = 0; k < 300; ++k) AppendSample(gApp.store, static_cast<uint16_t>(100 + (k * 37) % 800));
        for (uint8_t b : {64, 71, 83, 77}) AppendBeatRate(gApp.store, b);
        window = CreateWindowExA(0, kMainWindowClass, "Vintra", kMainWindowStyle, 20, 20, 320, 240, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        SetClientSize(window, 300, 240);
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
        PumpMessages();
    }

    void TearDown() override {
        if (SettingsWindowHandle()) DestroyWindow(SettingsWindowHandle());
        if (window) DestroyWindow(window);
        PumpMessages();
    }

    // Repaints now and compares the screen with an off-screen rendering.
    void ExpectScreenMatchesOffScreen(int clientWidth, int clientHeight) {
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        PumpMessages();
        Canvas screen = CaptureClient(window);
        ASSERT_EQ(screen.width, clientWidth);
        ASSERT_EQ(screen.height, clientHeight);
        EXPECT_EQ(screen.At(1, 1), kGreen);
        EXPECT_EQ(screen.At(clientWidth - 2, clientHeight - 2), kGreen);
        Canvas reference = RenderOffScreen(clientWidth, clientHeight, gApp.store);
        EXPECT_EQ(DifferingPixels(screen, reference), 0);
    }

    // What the screen shows now, without asking for a paint, must be the
    // store drawn afresh: the window's own choice of when to repaint (ticks
    // that skip an unchanged picture, the kept back buffer) must never leave
    // anything stale.
    void ExpectScreenShowsStore(const char* when) {
        SCOPED_TRACE(when);
        Canvas screen = CaptureClient(window);
        EXPECT_EQ(DifferingPixels(screen, RenderOffScreen(screen.width, screen.height, gApp.store)), 0);
    }

    // A timer tick and whatever paint it asks for.
    void Tick() {
        SendMessageA(window, WM_TIMER, 0, 0);
        UpdateWindow(window);
        PumpMessages();
    }
};

// Store contents a tick may find. Each replaces what the store held the way
// the program can: after a Delete, or by overwriting every slot.
void Empty(MeasurementStore& store) { ClearMeasurements(store); }

void FirstData(MeasurementStore& store) {
    ClearMeasurements(store);
    for (uint16_t v : {400, 420, 900, 300}) AppendSample(store, v);
    AppendBeatRate(store, 71);
}

void FullRings(MeasurementStore& store) { FillRings(store, 1); }
void FullRingsOtherPhase(MeasurementStore& store) { FillRings(store, 5); }

// Every value a sample or beat rate can take, past the rings' ends.
void OffScale(MeasurementStore& store) {
    for (uint32_t i = 0; i < kSampleSlots + 37; ++i) AppendSample(store, static_cast<uint16_t>(i * 2654435761u >> 16));
    for (uint32_t i = 0; i < kBeatSlots + 11; ++i) AppendBeatRate(store, static_cast<uint8_t>(1 + i * 97 % 254));
}

// Gaps (zero beat rates) between ordinary rates.
void WithGaps(MeasurementStore& store) {
    FillRings(store, 2);
    for (uint32_t i = 0; i < kBeatSlots; ++i) AppendBeatRate(store, static_cast<uint8_t>(i % 9 ? 40 + i % 120 : 0));
}

void Flat(MeasurementStore& store) {
    for (uint32_t i = 0; i < kSampleSlots; ++i) AppendSample(store, 500);
    for (uint32_t i = 0; i < kBeatSlots; ++i) AppendBeatRate(store, 72);
}

void AfterDelete(MeasurementStore& store) {
    FillRings(store, 2);
    ClearMeasurements(store);
    AppendSample(store, 650);
    AppendBeatRate(store, 90);
}

TEST_F(MainWindowTest, EveryTickShowsTheStoreAsItIsNow) {
    const struct {
        const char* name;
        void (*build)(MeasurementStore& store);
    } stores[] = {{"empty", Empty},       {"first data", FirstData}, {"full rings", FullRings},
                  {"full rings, other phase", FullRingsOtherPhase}, {"off scale", OffScale},
                  {"gaps in the history", WithGaps}, {"flat", Flat}, {"after Delete", AfterDelete}};
    for (const auto& store : stores) {
        store.build(gApp.store);
        Tick();
        ExpectScreenShowsStore(store.name);
        Tick();
        ExpectScreenShowsStore("the same store a tick later");
    }
}

TEST_F(MainWindowTest, DataAfterAPartialExposeShowsAtTheNextTick) {
    FillRings(gApp.store, 7);
    Tick();
    AppendSample(gApp.store, 20);
    AppendBeatRate(gApp.store, 200);
    RECT corner = {0, 0, 40, 30};
    RedrawWindow(window, &corner, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Tick();
    ExpectScreenShowsStore("a tick after data and a partial expose");
}

TEST_F(MainWindowTest, ExposedAndResizedWindowsAreRepaintedWhole) {
    FillRings(gApp.store, 6);
    Tick();
    // What the platform does when something uncovered the window.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
    UpdateWindow(window);
    PumpMessages();
    ExpectScreenShowsStore("after an expose");
    SetClientSize(window, 420, 330);
    ExpectScreenShowsStore("after a resize, before the next tick");
    Tick();
    ExpectScreenShowsStore("after a resize and a tick");
}

TEST_F(MainWindowTest, PaintsThePanelsForItsClientSize) {
    RECT client;
    GetClientRect(window, &client);
    ASSERT_EQ(client.right, 300);
    ASSERT_EQ(client.bottom, 240);
    ExpectScreenMatchesOffScreen(300, 240);

    // Resized: the layout follows the size event.
    SetClientSize(window, 420, 280);
    PanelLayout expected = ComputePanelLayout(420, 280);
    EXPECT_EQ(gWin32.mainWindow.draw.layout.history.right, expected.history.right);
    EXPECT_EQ(gWin32.mainWindow.draw.layout.signal.bottom, expected.signal.bottom);
    ExpectScreenMatchesOffScreen(420, 280);
}

TEST_F(MainWindowTest, DeleteClearsTheDataButKeepsTheWritePositions) {
    uint32_t sampleIndex = gApp.store.samples.writeIndex;
    uint32_t beatIndex = gApp.store.beats.writeIndex;
    SendMessageA(window, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(gApp.store.samples.writeIndex, sampleIndex);
    EXPECT_EQ(gApp.store.beats.writeIndex, beatIndex);
    for (uint16_t s : gApp.store.samples.slots) ASSERT_EQ(s, 0);
    for (uint8_t b : gApp.store.beats.slots) ASSERT_EQ(b, 0);
    Tick();
    ExpectScreenShowsStore("at the tick after Delete");
}

TEST_F(MainWindowTest, F6OpensTheSettingsWindow) {
    ASSERT_EQ(SettingsWindowHandle(), nullptr);
    SendMessageA(window, WM_KEYDOWN, VK_F6, 0);
    PumpMessages();
    ASSERT_NE(SettingsWindowHandle(), nullptr);
    EXPECT_TRUE(IsWindowVisible(SettingsWindowHandle()));
}

// What a menu's loop saw of data sent while it ran.
struct MenuLoopWatch {
    HANDLE device;        // the device end of COM3
    int ticks;            // calls of the watching timer
    bool sent;            // the data went out
    bool arrived;         // it reached the rings and "bpm.txt" inside the loop
};

MenuLoopWatch gMenuWatch;

// Runs inside the menu's loop: sends once, then closes the menu as soon as
// the data has arrived (or after about three seconds).
void CALLBACK WatchFromInsideTheMenu(HWND, UINT, UINT_PTR, DWORD) {
    MenuLoopWatch& w = gMenuWatch;
    ++w.ticks;
    if (!w.sent) w.sent = SendFromDevice(w.device, "S321\r\nB93\r\n");
    std::string beatFile;
    w.arrived = LatestBeatRate(gApp.store) == 93 && ReadWholeFile("bpm.txt", &beatFile) && beatFile == "93";
    if (w.arrived || w.ticks > 150) EndMenu();
}

TEST_F(MainWindowTest, DataSentWhileAMenuIsOpenArrivesBeforeItCloses) {
    OpenPort(gApp.link, 3, 115200);
    ASSERT_NE(gApp.link.device, kNoDevice);
    // Opened after COM3: Wine flushes a terminal when it opens it.
    gMenuWatch = {CreateFileA("com3-device", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), 0, false, false};
    ASSERT_NE(gMenuWatch.device, INVALID_HANDLE_VALUE) << GetLastError();
    DeleteFileA("bpm.txt");
    SetTimer(window, 0, kRepaintPeriodMs, nullptr);
    gWin32.eventLoop.drainedSinceTick = true;  // as left by the main loop

    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 1, "Item");
    UINT_PTR watch = SetTimer(nullptr, 0, 20, WatchFromInsideTheMenu);
    TrackPopupMenu(menu, TPM_RETURNCMD, 40, 40, 0, window, nullptr);
    KillTimer(nullptr, watch);
    DestroyMenu(menu);
    KillTimer(window, 0);
    CloseHandle(gMenuWatch.device);
    ClosePort(gApp.link);

    EXPECT_TRUE(gMenuWatch.sent);
    EXPECT_TRUE(gMenuWatch.arrived) << "after " << gMenuWatch.ticks << " ticks of the watch";
}

}  // namespace
