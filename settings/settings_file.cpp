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

void SaveSettings(const Settings& settings) {
    std::FILE* file = std::fopen(kSettingsFileName, "w");
    if (file == nullptr) return;
    if (settings.oscPortInFile) {
        std::fprintf(file, "%u %u %u %u", settings.port, settings.baudRate, settings.webPort, settings.oscPort);
    } else if (settings.webPortInFile) {
        std::fprintf(file, "%u %u %u", settings.port, settings.baudRate, settings.webPort);
    } else {
        std::fprintf(file, "%u %u", settings.port, settings.baudRate);
    }
    std::fclose(file);
}
