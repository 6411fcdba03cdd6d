#include "web/text_sink.h"

#include <cstring>

TextSink SinkOver(char* data, size_t capacity) { return {data, capacity, 0, false}; }

void PutBytes(TextSink& sink, const char* bytes, size_t count) {
    if (sink.overflowed || count > sink.capacity - sink.length) {
        sink.overflowed = true;
        return;
    }
    std::memcpy(sink.data + sink.length, bytes, count);
    sink.length += count;
}

void PutText(TextSink& sink, const char* text) { PutBytes(sink, text, std::strlen(text)); }

void PutNumber(TextSink& sink, uint64_t value) {
    char digits[20];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    char text[20];
    for (size_t i = 0; i < count; ++i) text[i] = digits[count - 1 - i];
    PutBytes(sink, text, count);
}

void PutEscaped(TextSink& sink, const char* text) {
    for (const char* c = text; *c != '\0'; ++c) {
        switch (*c) {
            case '&': PutText(sink, "&amp;"); break;
            case '<': PutText(sink, "&lt;"); break;
            case '>': PutText(sink, "&gt;"); break;
            case '"': PutText(sink, "&quot;"); break;
            case '\'': PutText(sink, "&#39;"); break;
            default: PutBytes(sink, c, 1); break;
        }
    }
}

void PutNumberList(TextSink& sink, const uint16_t* slots, uint32_t capacity, uint32_t start, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (i > 0) PutText(sink, ",");
        PutNumber(sink, slots[(start + i) % capacity]);
    }
}
