// The echo of every received line, through the debugger output.
#include <windows.h>

#include "serial/platform.h"

void EchoLine(const char* line) {
    OutputDebugStringA(line);
    OutputDebugStringA("\n");
}
