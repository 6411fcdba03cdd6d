#include "serial/win32_port_names.h"

#include <cstdio>
#include <cstring>

#include "serial/parse_unsigned.h"

bool FormatPortName(uint32_t port, char (&name)[kPortNameSize]) {
    char text[32];
    int length = std::snprintf(text, sizeof text, port < 10 ? "COM%u" : "\\\\.\\COM%u", port);
    if (length < 0 || length >= kPortNameSize) return false;
    for (int i = 0; i <= length; ++i) name[i] = text[i];
    return true;
}

bool ParsePortName(const char* text, uint32_t* port) {
    while (*text != '\0' && (*text < '0' || *text > '9')) ++text;
    size_t consumed = 0;
    return ParseUnsigned(text, std::strlen(text), port, &consumed) == ParsedNumber::Value;
}
