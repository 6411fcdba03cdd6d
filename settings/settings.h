#pragma once
// The user's choice of serial port and baud rate, kept in "vintra.config".
#include <cstddef>
#include <cstdint>

struct Settings {
    uint32_t port;      // 0: no port chosen
    uint32_t baudRate;  // 0: none chosen; the device keeps its rate
};

constexpr const char* kSettingsFileName = "vintra.config";

// Reads "port baud" text as "%u %u" would: white space anywhere between and
// around; a field that cannot be read, or does not fit 32 bits, keeps its
// previous value. Reading stops at the first field that is not a number.
void ParseSettingsText(const char* text, size_t length, Settings& settings);

// Loads the settings file if it exists; fields it lacks keep their values.
void LoadSettings(Settings& settings);

// Writes the settings file as "port baud"; silently skipped on failure.
void SaveSettings(const Settings& settings);
