// Entry point: start-up in a fixed order, then the one event loop, which also
// polls the serial device after every event.
#include <windows.h>

#include <mmsystem.h>

#include "app/app_state.h"
#include "app/win32_event_loop.h"
#include "display/win32_main_window.h"
#include "serial/platform.h"
#include "settings/win32_settings_window.h"
#include "web/win32_osc_sender.h"
#include "web/win32_web_server.h"

constexpr int kClientWidth = 300;
constexpr int kClientHeight = 200;
constexpr DWORD kMainWindowStyle = WS_SYSMENU | WS_THICKFRAME;
constexpr UINT kClockResolutionMs = 1;  // the repaint timer then fires within 1 ms of its period

static void RegisterWindowClass(HINSTANCE instance, const char* name, WNDPROC handler, HICON icon,
                                HBRUSH background) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = handler;
    windowClass.hInstance = instance;
    windowClass.hIcon = icon;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = name;
    if (!RegisterClassExA(&windowClass)) FatalAppExitA(0, "Failed to register window");
}

static HWND CreateMainWindow(HINSTANCE instance) {
    RECT outer = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&outer, kMainWindowStyle, FALSE, 0);
    HWND window = CreateWindowExA(0, kMainWindowClass, "Vintra", kMainWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                  outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr, instance,
                                  nullptr);
    if (!window) FatalAppExitA(0, "Failed to create window");
    return window;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showMode) {
    InitMeasurementStore(gApp.store);
    StartSession(gSession, kSessionSlots, GetTickCount64(), WallClockMs());
    gApp.feed.session = &gSession;
    HICON icon = (HICON)LoadImageA(instance, "MainIcon", IMAGE_ICON, 0, 0, 0);
    RegisterWindowClass(instance, kMainWindowClass, MainWindowProc, icon, CreateSolidBrush(RGB(0, 255, 0)));
    RegisterWindowClass(instance, kSettingsWindowClass, SettingsWindowProc, nullptr, nullptr);
    HWND mainWindow = CreateMainWindow(instance);
    LoadSettings(gApp.settings);
    OpenPort(gApp.link, gApp.settings.port, gApp.settings.baudRate);
    StartWebServer(instance, gApp.settings.webPort);
    StartOscSender(gApp.settings.oscPort);
    // Windows' clock ticks every 15.6 ms by default, and a 16 ms timer then
    // fires on every second tick only (31 ms): half the repaints and half the
    // overlay's updates. Since Windows 10 2004 the finer clock applies to the
    // processes that ask for it, for as long as they run.
    timeBeginPeriod(kClockResolutionMs);
    SetTimer(mainWindow, 0, kRepaintPeriodMs, nullptr);
    ShowWindow(mainWindow, showMode);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
        DrainAfterEvent();
        WatchLink(gApp.linkWatch, gApp.link, gApp.settings.port, gApp.settings.baudRate, GetTickCount64());
    }
    timeEndPeriod(kClockResolutionMs);
    return 0;
}
