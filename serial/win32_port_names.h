#pragma once
// How Windows names serial ports: "COM3", and "\\.\COM12" from 10 on.
#include <cstdint>

// A device name fits this buffer for port numbers of up to eight digits.
constexpr int kPortNameSize = 16;

// Device name of a port: "COM3" below 10, "\\.\COM12" from 10 (the device
// namespace form, without which ports above 9 cannot be opened). False, with
// nothing formatted, when the name would not fit.
bool FormatPortName(uint32_t port, char (&name)[kPortNameSize]);

// Port number in a device name ("COM3", "\\.\COM12"): the number after the
// first digit-free stretch. False, with `port` untouched, when the text holds
// no number that fits 32 bits.
bool ParsePortName(const char* text, uint32_t* port);
