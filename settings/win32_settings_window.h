#pragma once
// The settings window: choose the serial port and its baud rate.
#include <windows.h>

constexpr const char* kSettingsWindowClass = "VintraSettingsWindow";

// F6: creates the window if needed, refills its port list and brings it up.
void RunSettingsCommand();

// Creates the window and its controls, hidden, unless it exists already.
void ShowSettingsWindow();

// Refills the port list with the ports present now.
void RefreshPortList();

// The settings window's event handler.
LRESULT CALLBACK SettingsWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The settings window, or null when it is not open.
HWND SettingsWindowHandle();
