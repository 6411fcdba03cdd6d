// The real settings window under Wine, driven through its child windows as a
// user's choices would be. The prefix maps exactly COM3 to COM6 and COM12
// (plus the machine's own serial ports, VINTRA_HOST_PORTS); a pseudo-terminal
// stands behind COM3 (run-win-test.sh window).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "settings/win32_settings_window.h"
#include "tests/win/win_test_support.h"
#include "tests/win/window_classes.h"

namespace {

using Strings = std::vector<std::string>;

struct SettingsLists {
    HWND ports;
    HWND bauds;
};

// The two drop-down lists, told apart by position: ports above bauds.
SettingsLists FindLists(HWND window) {
    HWND first = FindWindowExA(window, nullptr, "ComboBox", nullptr);
    HWND second = first ? FindWindowExA(window, first, "ComboBox", nullptr) : nullptr;
    if (!first || !second) return {nullptr, nullptr};
    RECT a, b;
    GetWindowRect(first, &a);
    GetWindowRect(second, &b);
    return a.top < b.top ? SettingsLists{first, second} : SettingsLists{second, first};
}

// A drop-down list's item texts, in order.
Strings Items(HWND list) {
    Strings items;
    LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[64] = {};
        if (SendMessageA(list, CB_GETLBTEXTLEN, i, 0) < static_cast<LRESULT>(sizeof text)) {
            SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        }
        items.push_back(text);
    }
    return items;
}

// The selected item's text; "" when nothing is selected.
std::string Selected(HWND list) {
    LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return "";
    return Items(list).at(static_cast<size_t>(index));
}

// Selects `item` and tells the window, as the list does when the user picks it.
void Choose(HWND window, HWND list, const std::string& item) {
    Strings items = Items(list);
    auto found = std::find(items.begin(), items.end(), item);
    ASSERT_NE(found, items.end()) << item;
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(found - items.begin()), 0);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(0, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

// What "vintra.config" holds now.
std::string ConfigFile() {
    std::string content;
    return ReadWholeFile("vintra.config", &content) ? content : "<missing>";
}

// How many top-level settings windows exist.
int CountSettingsWindows() {
    int count = 0;
    for (HWND w = FindWindowExA(nullptr, nullptr, kSettingsWindowClass, nullptr); w;
         w = FindWindowExA(nullptr, w, kSettingsWindowClass, nullptr)) {
        ++count;
    }
    return count;
}

// The mapped ports and the machine's own, in number order, named as the
// probe names them: gaps skipped, two digits in the device namespace form.
Strings ExpectedPorts() {
    std::set<unsigned> numbers = {3, 4, 5, 6, 12};
    const char* host = std::getenv("VINTRA_HOST_PORTS");
    std::istringstream extra(host ? host : "");
    unsigned n;
    while (extra >> n) numbers.insert(n);
    Strings names;
    for (unsigned number : numbers) {
        names.push_back((number < 10 ? "COM" : "\\\\.\\COM") + std::to_string(number));
    }
    return names;
}

// The line speed Linux sees on a port's pseudo-terminal.
int Speed(const char* end) {
    LineView view = {};
    std::string error;
    EXPECT_TRUE(ReadLineView(end, &view, &error)) << error;
    return view.speed;
}

const Strings kBaudItems = {"110",   "300",   "600",   "1200",  "2400",  "4800",   "9600",
                            "14400", "19200", "38400", "57600", "115200", "128000", "256000"};

class SettingsWindowTest : public ::testing::Test {
  protected:
    // No port or rate chosen, nothing open, no settings file.
    void SetUp() override {
        RegisterVintraWindowClasses();
        gApp.settings = {0, 0};
        ClosePort(gApp.link);
        DeleteFileA("vintra.config");
    }

    void TearDown() override {
        if (SettingsWindowHandle()) DestroyWindow(SettingsWindowHandle());
        PumpMessages();
        ClosePort(gApp.link);
    }

    // F6: the window, with its lists.
    HWND Open(SettingsLists* lists) {
        RunSettingsCommand();
        PumpMessages();
        HWND window = SettingsWindowHandle();
        *lists = window ? FindLists(window) : SettingsLists{nullptr, nullptr};
        return window;
    }
};

TEST_F(SettingsWindowTest, ShowsThePresentPortsInNumberOrderWithNoneSelected) {
    SettingsLists lists;
    HWND window = Open(&lists);
    ASSERT_NE(window, nullptr);
    ASSERT_NE(lists.ports, nullptr);
    char title[64] = {};
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "Vintra | Settings");
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(Items(lists.ports), ExpectedPorts());
    EXPECT_EQ(Selected(lists.ports), "");
}

TEST_F(SettingsWindowTest, TheBaudListOpensOnTheCurrentRate) {
    struct Case {
        uint32_t settingsBaud;
        const char* shown;
    };
    const Case cases[] = {{0, "115200"}, {9600, "9600"}, {256000, "256000"}, {12345, "115200"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settingsBaud);
        gApp.settings.baudRate = c.settingsBaud;
        SettingsLists lists;
        HWND window = Open(&lists);
        ASSERT_NE(lists.bauds, nullptr);
        EXPECT_EQ(Items(lists.bauds), kBaudItems);
        EXPECT_EQ(Selected(lists.bauds), c.shown);
        // Closed and opened again: a fresh window that reads the rate anew.
        DestroyWindow(window);
        PumpMessages();
        EXPECT_EQ(SettingsWindowHandle(), nullptr);
    }
}

TEST_F(SettingsWindowTest, AChangeWithNothingSelectedChangesNothing) {
    SettingsLists lists;
    HWND window = Open(&lists);
    ASSERT_NE(lists.ports, nullptr);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(0, CBN_SELCHANGE), reinterpret_cast<LPARAM>(lists.ports));
    EXPECT_FALSE(FileExists("vintra.config"));
    EXPECT_EQ(gApp.settings.port, 0u);
    EXPECT_EQ(gApp.settings.baudRate, 0u);
    EXPECT_EQ(gApp.link.port, 0u);
}

TEST_F(SettingsWindowTest, ChoosingAPortSavesItWithTheShownRateAndOpensIt) {
    SettingsLists lists;
    HWND window = Open(&lists);
    ASSERT_NE(lists.ports, nullptr);
    Choose(window, lists.ports, "COM3");
    EXPECT_EQ(ConfigFile(), "3 115200");
    EXPECT_EQ(gApp.settings.port, 3u);
    EXPECT_EQ(gApp.settings.baudRate, 115200u);
    EXPECT_EQ(gApp.link.port, 3u);
    ASSERT_NE(gApp.link.device, kNoDevice);
    EXPECT_EQ(Speed("com3"), 115200);

    // A new rate applies to the open port at once, without reopening it.
    DeviceHandle device = gApp.link.device;
    Choose(window, lists.bauds, "57600");
    EXPECT_EQ(ConfigFile(), "3 57600");
    EXPECT_EQ(gApp.link.port, 3u);
    EXPECT_EQ(gApp.link.device, device);
    EXPECT_EQ(Speed("com3"), 57600);

    // A port of two digits, listed in the device namespace form.
    Choose(window, lists.ports, "\\\\.\\COM12");
    EXPECT_EQ(ConfigFile(), "12 57600");
    EXPECT_EQ(gApp.settings.port, 12u);
    EXPECT_EQ(CountOpeners("com3"), 0) << "the old port must be released";
}

TEST_F(SettingsWindowTest, ChoosingTheOpenPortAgainAppliesTheShownRate) {
    ASSERT_TRUE(PresetLine("COM3", 38400, 8, NOPARITY, ONESTOPBIT));
    gApp.settings = {3, 0};  // opened keeping the device's own rate
    OpenPort(gApp.link, 3, 0);
    ASSERT_EQ(Speed("com3"), 38400);
    DeviceHandle device = gApp.link.device;
    SettingsLists lists;
    HWND window = Open(&lists);
    ASSERT_NE(lists.ports, nullptr);
    Choose(window, lists.ports, "COM3");
    EXPECT_EQ(ConfigFile(), "3 115200");
    EXPECT_EQ(gApp.link.device, device);
    EXPECT_EQ(Speed("com3"), 115200);
}

TEST_F(SettingsWindowTest, ARateChosenBeforeAnyPortIsKeptForThePort) {
    SettingsLists lists;
    HWND window = Open(&lists);
    ASSERT_NE(lists.bauds, nullptr);
    Choose(window, lists.bauds, "9600");
    EXPECT_EQ(ConfigFile(), "0 9600");
    EXPECT_EQ(gApp.link.port, 0u);
    Choose(window, lists.ports, "COM3");
    EXPECT_EQ(ConfigFile(), "3 9600");
    EXPECT_EQ(gApp.link.port, 3u);
    EXPECT_EQ(Speed("com3"), 9600);
}

TEST_F(SettingsWindowTest, RunningTheCommandAgainRefreshesTheSameWindow) {
    SettingsLists lists;
    HWND window = Open(&lists);
    ASSERT_NE(lists.ports, nullptr);
    Choose(window, lists.ports, "COM3");
    ASSERT_EQ(Selected(lists.ports), "COM3");

    SettingsLists again;
    EXPECT_EQ(Open(&again), window);
    EXPECT_EQ(CountSettingsWindows(), 1);
    EXPECT_EQ(again.ports, lists.ports);
    EXPECT_EQ(Items(lists.ports), ExpectedPorts()) << "refilled, not appended to";
    EXPECT_EQ(Selected(lists.ports), "");

    DestroyWindow(window);
    PumpMessages();
    EXPECT_EQ(CountSettingsWindows(), 0);
    HWND fresh = Open(&again);
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(IsWindowVisible(fresh));
    EXPECT_EQ(CountSettingsWindows(), 1);
    EXPECT_EQ(Items(again.ports), ExpectedPorts());
}

}  // namespace
