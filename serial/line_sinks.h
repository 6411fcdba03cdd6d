#pragma once
// Where received data goes besides the rings. Each front end implements these.

// Rewrites "bpm.txt" with exactly `length` bytes of text; silently skipped on failure.
void WriteBeatRateFile(const char* text, int length);

// Echoes one received line (without its line end) to the debugger output,
// followed by a separate line end.
void EchoLine(const char* line);
