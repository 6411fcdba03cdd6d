#include "tests/fuzz/reference_number.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

ReferenceNumber ReferenceReadUnsigned(const char* text, uint32_t* value, const char** end) {
    const char* at = text;
    while (std::isspace(static_cast<unsigned char>(*at))) ++at;
    bool negative = *at == '-';
    if (*at == '+' || *at == '-') ++at;
    // strtoull would take white space and a sign here too; "%u" does not.
    if (!std::isdigit(static_cast<unsigned char>(*at))) {
        *end = text;
        return ReferenceNumber::None;
    }
    errno = 0;
    char* stop = nullptr;
    unsigned long long magnitude = std::strtoull(at, &stop, 10);
    *end = stop;
    if (errno == ERANGE || magnitude > UINT32_MAX) return ReferenceNumber::TooLarge;
    uint32_t number = static_cast<uint32_t>(magnitude);
    *value = negative ? 0u - number : number;
    return ReferenceNumber::Value;
}
