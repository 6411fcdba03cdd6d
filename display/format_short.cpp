#include "display/format_short.h"

#include <cstdio>

template <typename Number>
static int FormatInto(char (&text)[kShortTextSize], const char* format, Number value) {
    int length = std::snprintf(text, kShortTextSize, format, value);
    if (length < 0 || length >= kShortTextSize) {
        text[0] = '\0';
        return -1;
    }
    return length;
}

int FormatShort(char (&text)[kShortTextSize], const char* format, int32_t value) {
    return FormatInto(text, format, value);
}

int FormatShort(char (&text)[kShortTextSize], const char* format, uint32_t value) {
    return FormatInto(text, format, value);
}
