#include "tests/bench/win/bench_window.h"

#include "display/win32_main_window.h"
#include "tests/win/window_classes.h"

HWND CreateBenchMainWindow(int width, int height) {
    RegisterVintraWindowClasses();
    const DWORD style = WS_SYSMENU | WS_THICKFRAME;
    RECT outer = {0, 0, width, height};
    AdjustWindowRectEx(&outer, style, FALSE, 0);
    HWND window = CreateWindowExA(0, kMainWindowClass, "Vintra", style, 0, 0, outer.right - outer.left,
                                  outer.bottom - outer.top, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (window) {
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
        PumpMessages();
    }
    return window;
}
