#pragma once
// "%u" number reading built on the C library's strtoull, to hold the
// product's own reader against.
#include <cstdint>

enum class ReferenceNumber { None, Value, TooLarge };

// Reads a number at `text` (NUL-terminated): white space, an optional sign
// (minus negates modulo 2^32), digits. `end` receives where reading stopped
// (`text` itself for None).
ReferenceNumber ReferenceReadUnsigned(const char* text, uint32_t* value, const char** end);
