#include "serial/line_buffer.h"

#include <cstring>

const char* TakeLine(LineBuffer& buffer) {
    char* start = buffer.storage + buffer.cursor;
    char* lf = std::strchr(start, '\n');
    if (lf == nullptr) return nullptr;
    char* end = (lf > start && lf[-1] == '\r') ? lf - 1 : lf;
    *end = '\0';
    buffer.cursor = static_cast<int32_t>(lf - buffer.storage) + 1;
    return start;
}

char* PrepareRead(LineBuffer& buffer, int* room) {
    char* pending = buffer.storage + buffer.cursor;
    int length = static_cast<int>(std::strlen(pending));
    std::memmove(buffer.storage, pending, static_cast<size_t>(length));
    buffer.cursor = 0;
    if (length >= buffer.capacity - 1) {
        length = 0;
        buffer.discarding = true;
    }
    buffer.storage[length] = '\0';
    *room = buffer.capacity - 1 - length;
    return buffer.storage + length;
}

void CommitRead(LineBuffer& buffer, char* at, int count) {
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        if (at[i] != '\0') at[kept++] = at[i];
    }
    at[kept] = '\0';
    if (!buffer.discarding) return;
    // While discarding, nothing before `at` is pending (PrepareRead emptied it).
    char* lf = std::strchr(at, '\n');
    if (lf == nullptr) {
        buffer.storage[0] = '\0';
        return;
    }
    buffer.discarding = false;
    std::memmove(buffer.storage, lf + 1, std::strlen(lf + 1) + 1);
    buffer.cursor = 0;
}
