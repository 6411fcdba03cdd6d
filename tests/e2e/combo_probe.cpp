// Test-only helper: reads the settings window from outside, through the
// platform's own window calls. xdotool sees X windows only; the lists'
// items and selections are Wine's.
//   combo_probe lists    each drop-down list: its items, selection and screen rectangle,
//                        and the dropped part of a list while one is open
//   combo_probe windows  every settings window (there must be at most one) and the main window,
//                        front to back
//   combo_probe lower    puts the settings window below the main window, as another window would
//   combo_probe close    asks the settings window to close, as its close button does
#include <windows.h>

#include <cstdio>
#include <cstring>

constexpr const char* kSettingsClass = "VintraSettingsWindow";
constexpr const char* kSettingsTitle = "Vintra | Settings";

// Prints one drop-down list of the settings window: a header line, then one line per item.
static BOOL CALLBACK PrintComboBox(HWND control, LPARAM counter) {
    char className[64] = {};
    GetClassNameA(control, className, sizeof className);
    if (lstrcmpiA(className, "ComboBox") != 0) return TRUE;
    int& index = *reinterpret_cast<int*>(counter);
    LRESULT count = SendMessageA(control, CB_GETCOUNT, 0, 0);
    LRESULT selected = SendMessageA(control, CB_GETCURSEL, 0, 0);
    RECT rect = {};
    GetWindowRect(control, &rect);
    std::printf("list %d count %ld selected %ld rect %ld %ld %ld %ld\n", index, static_cast<long>(count),
                static_cast<long>(selected), rect.left, rect.top, rect.right, rect.bottom);
    for (LRESULT i = 0; i < count; ++i) {
        // Asked for in UTF-16: across processes, Wine 8 hands an ANSI caller the
        // UTF-16 text.
        wchar_t wide[256] = {};
        char text[256] = {};
        if (SendMessageW(control, CB_GETLBTEXTLEN, i, 0) < 255) {
            SendMessageW(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide));
            WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
        }
        std::printf("item %d %ld %s\n", index, static_cast<long>(i), text);
    }
    ++index;
    return TRUE;
}

// Prints the open drop-down part of a list (a top-level window of its own), with its item height
// and the first item it shows.
static BOOL CALLBACK PrintDroppedList(HWND window, LPARAM) {
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "ComboLBox") != 0 || !IsWindowVisible(window)) return TRUE;
    RECT rect = {};
    GetWindowRect(window, &rect);
    std::printf("dropped rect %ld %ld %ld %ld itemheight %ld top %ld\n", rect.left, rect.top, rect.right,
                rect.bottom, static_cast<long>(SendMessageA(window, LB_GETITEMHEIGHT, 0, 0)),
                static_cast<long>(SendMessageA(window, LB_GETTOPINDEX, 0, 0)));
    return TRUE;
}

// Prints every top-level settings and main window with its handle and visibility, front to back.
static BOOL CALLBACK PrintSettingsWindow(HWND window, LPARAM) {
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "VintraMainWindow") == 0) {
        std::printf("main %p\n", static_cast<void*>(window));
        return TRUE;
    }
    if (std::strcmp(className, kSettingsClass) != 0) return TRUE;
    char title[64] = {};
    GetWindowTextA(window, title, sizeof title);
    RECT rect = {};
    GetWindowRect(window, &rect);
    std::printf("settings %p visible %d rect %ld %ld %ld %ld title %s\n", static_cast<void*>(window),
                IsWindowVisible(window) ? 1 : 0, rect.left, rect.top, rect.right, rect.bottom, title);
    return TRUE;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: combo_probe lists | windows | lower | close\n");
        return 2;
    }
    HWND settings = FindWindowA(kSettingsClass, kSettingsTitle);
    if (std::strcmp(argv[1], "windows") == 0) {
        EnumWindows(PrintSettingsWindow, 0);
        return 0;
    }
    if (settings == nullptr) {
        std::fprintf(stderr, "combo_probe: no settings window\n");
        return 1;
    }
    if (std::strcmp(argv[1], "lists") == 0) {
        int index = 0;
        EnumChildWindows(settings, PrintComboBox, reinterpret_cast<LPARAM>(&index));
        EnumWindows(PrintDroppedList, 0);
        return 0;
    }
    if (std::strcmp(argv[1], "lower") == 0) {
        return SetWindowPos(settings, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE) ? 0 : 1;
    }
    if (std::strcmp(argv[1], "close") == 0) {
        return PostMessageA(settings, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    std::fprintf(stderr, "combo_probe: unknown command %s\n", argv[1]);
    return 2;
}
