// "bpm.txt" and the echo through the Windows file and debugger APIs.
#include <windows.h>

#include "serial/line_sinks.h"

void WriteBeatRateFile(const char* text, int length) {
    // Read sharing lets an overlay poll the file while it is being rewritten.
    HANDLE file = CreateFileA("bpm.txt", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
}

void EchoLine(const char* line) {
#ifndef VINTRA_FLOOR_NO_ECHO  // defined only by a benchmark's floor build, never by the program
    OutputDebugStringA(line);
    OutputDebugStringA("\n");
#else
    (void)line;
#endif
}
