#pragma once
// Reads an unsigned decimal number the way "%u" does: leading white space
// skipped, an optional sign (minus negates modulo 2^32), digits up to the
// first non-digit.
#include <cstddef>
#include <cstdint>

enum class ParsedNumber { None, Value, TooLarge };

// Parses from text[0..length); `consumed` receives how many bytes the number
// (with its white space and sign) took, also for TooLarge. For None nothing is consumed.
ParsedNumber ParseUnsigned(const char* text, size_t length, uint32_t* value, size_t* consumed);
