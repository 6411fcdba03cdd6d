#pragma once
// A serial device whose received bytes come from memory, served in reads of
// at most the asked capacity (the drain asks for at most 15 bytes), so the real
// framing and decoding run exactly as on a live port.
#include <cstddef>

struct MemoryDevice {
    const char* bytes;  // everything the device will deliver
    size_t size;
    size_t next;  // first byte not yet read
};

extern MemoryDevice gMemoryDevice;

// Starts serving `bytes` from the beginning.
void RewindMemoryDevice(const char* bytes, size_t size);
