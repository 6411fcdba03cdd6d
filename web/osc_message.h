#pragma once
// OSC 1.0 messages with one argument each, as avatar programs read them: a
// padded address, a padded type tag string, then the argument, big-endian.
#include <cstddef>
#include <cstdint>

// Room for the longest message Vintra sends ("/avatar/parameters/HeartRateFloat01"
// and one float: 36 + 4 + 4 bytes), with some to spare.
constexpr size_t kOscMessageLimit = 64;

// Each writes one message into `out` and returns its length, a multiple of 4;
// 0 when it would not fit in `capacity` (nothing useful is written then).
size_t EncodeOscInt(char* out, size_t capacity, const char* address, int32_t value);
size_t EncodeOscFloat(char* out, size_t capacity, const char* address, float value);
// Booleans are the type tags 'T' and 'F' and carry no argument bytes.
size_t EncodeOscBool(char* out, size_t capacity, const char* address, bool value);
