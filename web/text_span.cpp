#include "web/text_span.h"

#include <cstring>

bool Equals(Span span, const char* text) {
    return span.length == std::strlen(text) && std::memcmp(span.at, text, span.length) == 0;
}

static char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(Span span, const char* text) {
    if (span.length != std::strlen(text)) return false;
    for (size_t i = 0; i < span.length; ++i) {
        if (Lower(span.at[i]) != Lower(text[i])) return false;
    }
    return true;
}

Span Trimmed(Span span) {
    while (span.length > 0 && (span.at[0] == ' ' || span.at[0] == '\t')) ++span.at, --span.length;
    while (span.length > 0 && (span.at[span.length - 1] == ' ' || span.at[span.length - 1] == '\t')) --span.length;
    return span;
}
