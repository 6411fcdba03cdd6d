#include "tests/bench/win/bench_window.h"

#include "display/win32_main_window.h"

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

HWND CreateBenchMainWindow(int width, int height) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXA windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_OWNDC;
        windowClass.lpfnWndProc = MainWindowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        windowClass.hbrBackground = CreateSolidBrush(RGB(0, 255, 0));
        windowClass.lpszClassName = kMainWindowClass;
        registered = RegisterClassExA(&windowClass) != 0;
    }
    const DWORD style = WS_SYSMENU | WS_THICKFRAME;
    RECT outer = {0, 0, width, height};
    AdjustWindowRectEx(&outer, style, FALSE, 0);
    HWND window = CreateWindowExA(0, kMainWindowClass, "Vintra", style, 0, 0, outer.right - outer.left,
                                  outer.bottom - outer.top, nullptr, nullptr, instance, nullptr);
    if (window) {
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
        PumpMessages();
    }
    return window;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
