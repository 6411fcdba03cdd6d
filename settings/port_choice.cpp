#include "settings/port_choice.h"

int BaudIndexToShow(uint32_t baudRate) {
    for (int i = 0; i < kBaudRateCount; ++i) {
        if (kBaudRates[i] == baudRate) return i;
    }
    return kDefaultBaudIndex;
}

void ProbePorts(PortList& list) {
    list.count = 0;
    for (uint32_t port = 1; port <= kHighestPort; ++port) {
        if (SerialPortExists(port)) list.ports[list.count++] = port;
    }
}

// Saves the settings and makes the link run them: the chosen port already
// open takes the rate without being reopened; otherwise the port is (re)opened.
static void SaveAndApply(Settings& settings, SerialLink& link) {
    settings.saveFailing = !SaveSettings(settings);
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
