#pragma once
// What the settings window offers and what a choice in it does, apart from
// the window itself.
#include <cstdint>

#include "serial/serial_link.h"
#include "settings/settings.h"

constexpr int kBaudRateCount = 14;
constexpr uint32_t kBaudRates[kBaudRateCount] = {110,   300,   600,   1200,  2400,   4800,   9600,
                                                 14400, 19200, 38400, 57600, 115200, 128000, 256000};
constexpr int kDefaultBaudIndex = 11;  // 115200

// The baud list entry to show for the current rate: its own, or 115200.
int BaudIndexToShow(uint32_t baudRate);

constexpr uint32_t kHighestPort = 255;

// The ports present, in probe order (1 to 255).
struct PortList {
    int count;                       // how many of `ports` are filled
    uint32_t ports[kHighestPort];    // their numbers
};

// Probes ports 1 to 255 and lists the present ones.
void ProbePorts(PortList& list);

// The user picked `port`; `shownBaud` is the rate the baud list shows, which
// is what the port is saved and opened with (it differs from the saved rate
// only when that is none, or one the list does not offer). Saves it, then
// opens the port, or applies the rate when the port is already open.
void ChoosePort(Settings& settings, SerialLink& link, uint32_t port, uint32_t shownBaud);

// The user picked a baud rate: saves it and applies it to the open port at once.
void ChooseBaudRate(Settings& settings, SerialLink& link, uint32_t baud);
