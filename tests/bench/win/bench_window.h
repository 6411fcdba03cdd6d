#pragma once
// What the Windows benchmarks and the pixel check share: store contents and
// the real main window, made the way the program makes them.
#include <windows.h>

#include <cstdint>

#include "store/measurement_store.h"
#include "tests/bench/win/bench_timing.h"

// Fills both rings completely: a pulse-shaped signal and beat rates that wander
// over several grid lines. `seed` varies the shapes.
void FillRings(MeasurementStore& store, uint32_t seed);

// Registers VintraMainWindow with the program's own handler and makes the main
// window with the program's style and a client of `width` by `height`, shown.
HWND CreateBenchMainWindow(int width, int height);

// Handles whatever messages are waiting, without blocking.
void PumpMessages();
