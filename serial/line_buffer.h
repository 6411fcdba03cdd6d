#pragma once
// Cuts the device's byte stream into lines. Bytes that arrive without their
// line end wait here until a later read completes the line.
#include <cstdint>

constexpr int32_t kLineBufferSize = 16;  // a line with its CR LF is at most 15 bytes

// Empty unless initialised otherwise, so any record holding one starts valid.
struct LineBuffer {
    char storage[kLineBufferSize] = {};  // pending bytes, always followed by a zero byte
    int32_t capacity = kLineBufferSize;  // kLineBufferSize
    int32_t cursor = 0;                  // first byte not yet consumed
    bool discarding = false;             // dropping the rest of an overlong line, up to its LF
};

constexpr LineBuffer kEmptyLineBuffer = {};

// Cuts the next complete line (ended by CR LF or a bare LF) out of the pending
// bytes and returns its text without the line end; nullptr when no line is complete.
const char* TakeLine(LineBuffer& buffer);

// Moves the pending bytes to the front and returns where the next read goes;
// `room` receives how many bytes it may bring. Fifteen pending bytes without a
// line end can never become a line: they are dropped along with the rest of
// that line, so the stream always advances.
char* PrepareRead(LineBuffer& buffer, int* room);

// Takes `count` bytes just read at `at` (from PrepareRead): NUL bytes are
// dropped so they cannot cut off what follows them, and the rest of an
// overlong line is discarded up to its LF.
void CommitRead(LineBuffer& buffer, char* at, int count);
