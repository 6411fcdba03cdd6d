#include "serial/serial_link.h"

#include <cstdio>

bool FormatPortName(uint32_t port, char (&name)[kPortNameSize]) {
    char text[32];
    int length = std::snprintf(text, sizeof text, port < 10 ? "COM%u" : "\\\\.\\COM%u", port);
    if (length < 0 || length >= kPortNameSize) return false;
    for (int i = 0; i <= length; ++i) name[i] = text[i];
    return true;
}

void OpenPort(SerialLink& link, uint32_t port, uint32_t baud) {
    if (port == link.port) return;
    ClosePort(link);
    link.port = port;
    char name[kPortNameSize];
    DeviceHandle device = FormatPortName(port, name) ? OpenSerialDevice(name) : kNoDevice;
    if (device == kNoDevice) {
        link.port = 0;
        return;
    }
    link.device = device;
    ConfigureSerialDevice(device, baud);
}

void ClosePort(SerialLink& link) {
    if (link.device != kNoDevice) CloseSerialDevice(link.device);
    link.device = kNoDevice;
    link.port = 0;
    link.pending = kEmptyLineBuffer;
}

void ApplyBaudRate(SerialLink& link, uint32_t baud) {
    if (link.device != kNoDevice) ConfigureSerialDevice(link.device, baud);
}
