#pragma once
// The process-wide record of the Windows front end: one sub-record per window
// and one for the event loop. The neutral state (store, link, settings) is
// gApp in app/app_state.h.
#include <windows.h>

#include "display/repaint_decision.h"
#include "display/win32_draw_panels.h"
#include "settings/port_choice.h"
#include "web/win32_osc_sender.h"
#include "web/win32_web_server.h"

struct EventLoopState {
    bool drainedSinceTick;  // the main loop drained after the latest tick
};

// The paint's off-screen surface, kept between paints and remade only when
// the client size changes: under Wine, making and selecting a bitmap costs
// more than drawing the whole picture, sixty times a second.
struct BackBuffer {
    HDC surface;     // compatible with the window, holds `bitmap`
    HBITMAP bitmap;  // client-sized picture
    int width;       // client width the bitmap was made for
    int height;      // client height the bitmap was made for
};

struct MainWindowState {
    DrawContext draw;       // the panels' drawing tools, surface and layout
    BackBuffer backBuffer;  // off-screen surface of the paint
    PaintRecord painted;    // what the last paint showed, for the tick's repaint decision
};

struct SettingsWindowState {
    HWND window;     // null when closed
    HWND portList;   // present ports, in probe order
    HWND baudList;   // the fixed baud rates
    PortList ports;  // the ports last probed; 1 KB, kept out of the handler's stack
};

struct Win32State {
    EventLoopState eventLoop;            // when the device is read (app/win32_event_loop.cpp)
    MainWindowState mainWindow;          // the panels' paint (display/win32_main_window.cpp)
    SettingsWindowState settingsWindow;  // port and baud lists (settings/win32_settings_window.cpp)
    WebServerState web;                  // the loopback endpoint's sockets (web/win32_web_server.cpp)
    OscSenderState osc;                  // the avatar parameters' UDP socket (web/win32_osc_sender.cpp)
};

extern Win32State gWin32;
