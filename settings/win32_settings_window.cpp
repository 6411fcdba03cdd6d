// The settings window and its two drop-down lists.
#include "settings/win32_settings_window.h"

#include "app/app_state.h"
#include "display/format_short.h"
#include "serial/win32_port_names.h"
#include "settings/port_choice.h"

struct SettingsWindowState {
    HWND window;    // null when closed
    HWND portList;  // present ports, in probe order
    HWND baudList;  // the fixed baud rates
};

static SettingsWindowState gSettingsUi;
static PortList gPortList;  // 1 KB: kept out of the stack of the handler

constexpr DWORD kListStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_HASSTRINGS;

static HWND CreateControl(const char* className, const char* text, DWORD style, int x, int y, int width,
                          int height) {
    return CreateWindowExA(0, className, text, style, x, y, width, height, gSettingsUi.window, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

static HWND CreateRequiredControl(const char* className, const char* text, DWORD style, int x, int y,
                                  int width, int height) {
    HWND control = CreateControl(className, text, style, x, y, width, height);
    if (!control) FatalAppExitA(0, "Failed to create comBox");
    return control;
}

static void FillBaudList() {
    for (uint32_t baud : kBaudRates) {
        char text[kShortTextSize];
        if (FormatShort(text, "%u", baud) >= 0) SendMessageA(gSettingsUi.baudList, CB_ADDSTRING, 0, (LPARAM)text);
    }
    SendMessageA(gSettingsUi.baudList, CB_SETCURSEL, BaudIndexToShow(gApp.settings.baudRate), 0);
}

void ShowSettingsWindow() {
    if (gSettingsUi.window) return;
    gSettingsUi.window = CreateWindowExA(WS_EX_DLGMODALFRAME, kSettingsWindowClass, "Vintra | Settings",
                                         WS_POPUP | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, 400,
                                         124, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!gSettingsUi.window) FatalAppExitA(0, "Failed to create window");
    RECT client;
    GetClientRect(gSettingsUi.window, &client);
    int clientWidth = client.right - client.left;

    HWND frame = CreateRequiredControl("BUTTON", "Select Port", WS_CHILD | WS_VISIBLE | BS_GROUPBOX, 2, 2,
                                       clientWidth - 4, 80);
    RECT frameClient;
    GetClientRect(frame, &frameClient);
    int frameWidth = frameClient.right - frameClient.left;

    CreateControl("Static", "COM Device", WS_CHILD | WS_VISIBLE, 4, 20, frameWidth - 8, 40);
    gSettingsUi.portList = CreateRequiredControl("ComboBox", "", kListStyle, 104, 20, frameWidth - 118, 120);
    CreateControl("Static", "Baud Rate", WS_CHILD | WS_VISIBLE, 4, 50, frameWidth - 8, 20);
    gSettingsUi.baudList = CreateRequiredControl("ComboBox", "", kListStyle, 104, 50, frameWidth - 118, 120);
    FillBaudList();
}

void RefreshPortList() {
    SendMessageA(gSettingsUi.portList, CB_RESETCONTENT, 0, 0);
    ProbePorts(gPortList);
    for (int i = 0; i < gPortList.count; ++i) {
        char name[kPortNameSize];
        if (FormatPortName(gPortList.ports[i], name)) SendMessageA(gSettingsUi.portList, CB_ADDSTRING, 0, (LPARAM)name);
    }
}

void RunSettingsCommand() {
    ShowSettingsWindow();
    RefreshPortList();
    SetWindowPos(gSettingsUi.window, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
}

HWND SettingsWindowHandle() { return gSettingsUi.window; }

// The baud rate the baud list shows now (what a port choice will use).
static uint32_t ShownBaudRate() {
    LRESULT index = SendMessageA(gSettingsUi.baudList, CB_GETCURSEL, 0, 0);
    return (index >= 0 && index < kBaudRateCount) ? kBaudRates[index] : kBaudRates[kDefaultBaudIndex];
}

static void HandleSelection(HWND control) {
    if (control == gSettingsUi.portList) {
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
    } else if (control == gSettingsUi.baudList) {
        LRESULT index = SendMessageA(control, CB_GETCURSEL, 0, 0);
        if (index < 0 || index >= kBaudRateCount) return;
        ChooseBaudRate(gApp.settings, gApp.link, kBaudRates[index]);
    }
}

LRESULT CALLBACK SettingsWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            gSettingsUi = {};
            return 0;
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
