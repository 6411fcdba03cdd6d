#include "tests/win/window_classes.h"

#include "display/win32_draw_panels.h"
#include "display/win32_main_window.h"
#include "settings/win32_settings_window.h"

// Registers one class as the program does: own DC, arrow cursor.
static bool RegisterClassFor(const char* name, WNDPROC handler, HBRUSH background) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = handler;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = name;
    return RegisterClassExA(&windowClass) != 0;
}

void RegisterVintraWindowClasses() {
    static bool registered = false;
    if (registered) return;
    registered = RegisterClassFor(kMainWindowClass, MainWindowProc, CreateSolidBrush(kChromaGreen)) &&
                 RegisterClassFor(kSettingsWindowClass, SettingsWindowProc, nullptr);
}

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) continue;  // a destroyed main window posts it
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
