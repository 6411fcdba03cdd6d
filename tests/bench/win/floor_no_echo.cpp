// A floor build's echo, in place of serial/win32_echo.cpp: nothing, so the
// program's cost without the echo shows.
#include "serial/platform.h"

void EchoLine(const char*) {}
