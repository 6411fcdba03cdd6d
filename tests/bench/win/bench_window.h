#pragma once
// What the Windows benchmarks share: store contents and the real main window,
// made the way the program makes them (with the Windows tests' helpers).
#include <windows.h>

#include "tests/bench/win/bench_timing.h"
#include "tests/win/panel_canvas.h"
#include "tests/win/window_classes.h"

// Makes the main window with the program's class and style and a client of
// `width` by `height`, shown.
HWND CreateBenchMainWindow(int width, int height);
