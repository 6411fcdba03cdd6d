#pragma once
// Text written into a fixed buffer the caller owns; what does not fit is
// dropped and remembered, never written past the end.
#include <cstddef>
#include <cstdint>

struct TextSink {
    char* data;       // the caller's buffer
    size_t capacity;  // its size
    size_t length;    // bytes written
    bool overflowed;  // something did not fit
};

TextSink SinkOver(char* data, size_t capacity);
void PutBytes(TextSink& sink, const char* bytes, size_t count);
void PutText(TextSink& sink, const char* text);
void PutNumber(TextSink& sink, uint64_t value);
// `count` values of a round buffer of `capacity` from slot `start`, comma-separated.
void PutNumberList(TextSink& sink, const uint16_t* slots, uint32_t capacity, uint32_t start, uint32_t count);
// Text for an HTML page: & < > " ' as character references.
void PutEscaped(TextSink& sink, const char* text);
