#pragma once
// Timing helpers of the Windows benchmarks.
#include <windows.h>

// Median of `count` values (sorts them in place).
double Median(double* values, int count);

// Microseconds on the performance counter since `start`.
double MicrosecondsSince(LARGE_INTEGER start);

// User plus kernel CPU time this process has used, in microseconds.
double ProcessCpuMicroseconds();
