#include "settings/port_choice.h"

#include <cstdio>
#include <cstring>

#include "serial/parse_unsigned.h"

int BaudIndexToShow(uint32_t baudRate) {
    for (int i = 0; i < kBaudRateCount; ++i) {
        if (kBaudRates[i] == baudRate) return i;
    }
    return kDefaultBaudIndex;
}

bool ParsePortItem(const char* text, uint32_t* port) {
    while (*text != '\0' && (*text < '0' || *text > '9')) ++text;
    size_t consumed = 0;
    return ParseUnsigned(text, std::strlen(text), port, &consumed) == ParsedNumber::Value;
}

void ProbePorts(PortExistsFn exists, PortList& list) {
    list.count = 0;
    for (uint32_t port = 1; port <= kHighestPort; ++port) {
        char bareName[kPortNameSize];
        std::snprintf(bareName, sizeof bareName, "COM%u", port);
        if (exists(bareName) && FormatPortName(port, list.names[list.count])) ++list.count;
    }
}

// Saves the settings and makes the link run them: the chosen port already
// open takes the rate without being reopened; otherwise the port is (re)opened.
static void SaveAndApply(const Settings& settings, SerialLink& link) {
    SaveSettings(settings);
    if (link.port != 0 && link.port == settings.port) {
        ApplyBaudRate(link, settings.baudRate);
    } else {
        OpenPort(link, settings.port, settings.baudRate);
    }
}

void ChoosePort(Settings& settings, SerialLink& link, uint32_t port, uint32_t shownBaud) {
    settings.port = port;
    settings.baudRate = shownBaud;
    SaveAndApply(settings, link);
}

void ChooseBaudRate(Settings& settings, SerialLink& link, uint32_t baud) {
    settings.baudRate = baud;
    SaveAndApply(settings, link);
}
