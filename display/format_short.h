#pragma once
// Formats one number into a short text, never writing past the 8-byte buffer.
#include <cstdint>

constexpr int kShortTextSize = 8;  // at most 7 characters and a terminator

// Formats `value` with a "%d" format; the text's length, or -1 when the text
// does not fit (the caller then shows nothing for it).
int FormatShort(char (&text)[kShortTextSize], const char* format, int32_t value);

// The same with a "%u" format.
int FormatShort(char (&text)[kShortTextSize], const char* format, uint32_t value);
