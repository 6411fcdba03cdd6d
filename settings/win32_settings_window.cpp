// The settings window and its two drop-down lists.
#include "settings/win32_settings_window.h"

#include "app/app_state.h"
#include "app/win32_app_state.h"
#include "display/format_short.h"
#include "serial/win32_port_names.h"
#include "settings/port_choice.h"

constexpr DWORD kListStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_HASSTRINGS;

static HWND CreateControl(const char* className, const char* text, DWORD style, int x, int y, int width,
                          int height) {
    return CreateWindowExA(0, className, text, style, x, y, width, height, gWin32.settingsWindow.window, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

static HWND CreateRequiredControl(const char* className, const char* text, DWORD style, int x, int y,
                                  int width, int height) {
    HWND control = CreateControl(className, text, style, x, y, width, height);
    if (!control) FatalAppExitA(0, "Failed to create comBox");
    return control;
}

static void FillBaudList() {
    SettingsWindowState& ui = gWin32.settingsWindow;
    for (uint32_t baud : kBaudRates) {
        char text[kShortTextSize];
        if (FormatShort(text, "%u", baud) >= 0) SendMessageA(ui.baudList, CB_ADDSTRING, 0, (LPARAM)text);
    }
    SendMessageA(ui.baudList, CB_SETCURSEL, BaudIndexToShow(gApp.settings.baudRate), 0);
}

void ShowSettingsWindow() {
    SettingsWindowState& ui = gWin32.settingsWindow;
    if (ui.window) return;
    ui.window = CreateWindowExA(WS_EX_DLGMODALFRAME, kSettingsWindowClass, "Vintra | Settings",
                                WS_POPUP | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, 400, 124, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!ui.window) FatalAppExitA(0, "Failed to create window");
    RECT client;
    GetClientRect(ui.window, &client);
    int clientWidth = client.right - client.left;

    HWND frame = CreateRequiredControl("BUTTON", "Select Port", WS_CHILD | WS_VISIBLE | BS_GROUPBOX, 2, 2,
                                       clientWidth - 4, 80);
    RECT frameClient;
    GetClientRect(frame, &frameClient);
    int frameWidth = frameClient.right - frameClient.left;

    CreateControl("Static", "COM Device", WS_CHILD | WS_VISIBLE, 4, 20, frameWidth - 8, 40);
    ui.portList = CreateRequiredControl("ComboBox", "", kListStyle, 104, 20, frameWidth - 118, 120);
    CreateControl("Static", "Baud Rate", WS_CHILD | WS_VISIBLE, 4, 50, frameWidth - 8, 20);
    ui.baudList = CreateRequiredControl("ComboBox", "", kListStyle, 104, 50, frameWidth - 118, 120);
    FillBaudList();
}

void RefreshPortList() {
    SettingsWindowState& ui = gWin32.settingsWindow;
    SendMessageA(ui.portList, CB_RESETCONTENT, 0, 0);
    ProbePorts(ui.ports);
    for (int i = 0; i < ui.ports.count; ++i) {
        char name[kPortNameSize];
        if (FormatPortName(ui.ports.ports[i], name)) SendMessageA(ui.portList, CB_ADDSTRING, 0, (LPARAM)name);
    }
}

void RunSettingsCommand() {
    ShowSettingsWindow();
    RefreshPortList();
    SetWindowPos(gWin32.settingsWindow.window, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
}

HWND SettingsWindowHandle() { return gWin32.settingsWindow.window; }

// The baud rate the baud list shows now (what a port choice will use).
static uint32_t ShownBaudRate() {
    LRESULT index = SendMessageA(gWin32.settingsWindow.baudList, CB_GETCURSEL, 0, 0);
    return (index >= 0 && index < kBaudRateCount) ? kBaudRates[index] : kBaudRates[kDefaultBaudIndex];
}

static void HandleSelection(HWND control) {
    SettingsWindowState& ui = gWin32.settingsWindow;
    if (control == ui.portList) {
        LRESULT index = SendMessageA(control, CB_GETCURSEL, 0, 0);
        if (index == CB_ERR) return;
        // Item texts are port names, well under 16 bytes; check rather than
        // trust, and parse only a text the list actually copied.
        LRESULT length = SendMessageA(control, CB_GETLBTEXTLEN, index, 0);
        if (length == CB_ERR || length >= kPortNameSize) return;
        char text[kPortNameSize] = {};
        if (SendMessageA(control, CB_GETLBTEXT, index, (LPARAM)text) != length) return;
        uint32_t port = 0;
        if (!ParsePortName(text, &port)) return;
        ChoosePort(gApp.settings, gApp.link, port, ShownBaudRate());
    } else if (control == ui.baudList) {
        LRESULT index = SendMessageA(control, CB_GETCURSEL, 0, 0);
        if (index < 0 || index >= kBaudRateCount) return;
        ChooseBaudRate(gApp.settings, gApp.link, kBaudRates[index]);
    }
}

LRESULT CALLBACK SettingsWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY: {
            // The port list is probed afresh before each use; only the handles go.
            SettingsWindowState& ui = gWin32.settingsWindow;
            ui.window = ui.portList = ui.baudList = nullptr;
            return 0;
        }
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC surface = BeginPaint(window, &paint);
            FillRect(surface, &paint.rcPaint, (HBRUSH)(COLOR_MENU + 1));
            EndPaint(window, &paint);
            return 0;
        }
        case WM_COMMAND:
            if (HIWORD(wParam) == CBN_SELCHANGE) HandleSelection((HWND)lParam);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}
