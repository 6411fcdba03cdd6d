#pragma once
// The main window: three panels on chroma-key green, repainted every tick.
#include <windows.h>

constexpr const char* kMainWindowClass = "VintraMainWindow";
constexpr UINT kRepaintPeriodMs = 16;
constexpr int kMinTrackWidth = 270;  // outer size
constexpr int kMinTrackHeight = 238;

// The main window's event handler.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Double-buffered paint of the whole client area.
void PaintMainWindow(HWND window);
