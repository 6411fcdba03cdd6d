#include "settings/settings.h"

#include "serial/parse_unsigned.h"

void ParseSettingsText(const char* text, size_t length, Settings& settings) {
    uint32_t* fields[] = {&settings.port, &settings.baudRate, &settings.webPort, &settings.oscPort};
    size_t at = 0;
    for (uint32_t* field : fields) {
        uint32_t value = 0;
        size_t consumed = 0;
        ParsedNumber parsed = ParseUnsigned(text + at, length - at, &value, &consumed);
        if (parsed == ParsedNumber::None) return;
        if (parsed == ParsedNumber::Value) *field = value;
        if (parsed == ParsedNumber::Value && field == &settings.webPort) settings.webPortInFile = true;
        if (parsed == ParsedNumber::Value && field == &settings.oscPort) settings.oscPortInFile = true;
        at += consumed;
    }
}
