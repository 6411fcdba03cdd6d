#include <cstdio>

#include "settings/settings.h"

// Anything past this is not part of a "port baud webport oscport" text.
constexpr size_t kSettingsTextLimit = 4096;

void LoadSettings(Settings& settings) {
    std::FILE* file = std::fopen(kSettingsFileName, "r");
    if (file == nullptr) return;
    char text[kSettingsTextLimit];
    size_t length = std::fread(text, 1, sizeof text, file);
    std::fclose(file);
    ParseSettingsText(text, length, settings);
}

bool SaveSettings(const Settings& settings) {
    std::FILE* file = std::fopen(kSettingsFileName, "w");
    if (file == nullptr) return false;
    int written = 0;
    if (settings.oscPortInFile) {
        written = std::fprintf(file, "%u %u %u %u", settings.port, settings.baudRate, settings.webPort, settings.oscPort);
    } else if (settings.webPortInFile) {
        written = std::fprintf(file, "%u %u %u", settings.port, settings.baudRate, settings.webPort);
    } else {
        written = std::fprintf(file, "%u %u", settings.port, settings.baudRate);
    }
    // A full disk or a write the folder refuses shows only at the flush.
    bool closed = std::fclose(file) == 0;
    return written > 0 && closed;
}
