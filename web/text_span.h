#pragma once
// A run of characters inside a request head, and the comparisons the HTTP
// parser and the WebSocket handshake both make on header text.
#include <cstddef>

struct Span {
    const char* at;  // its first character (not terminated)
    size_t length;   // how many
};

// The text exactly.
bool Equals(Span span, const char* text);

// The text in any case of ASCII letters (header names and tokens).
bool EqualsIgnoringCase(Span span, const char* text);

// Without the spaces and tabs at either end.
Span Trimmed(Span span);
