#include "serial/serial_link.h"

void OpenPort(SerialLink& link, uint32_t port, uint32_t baud) {
    if (port == link.port) return;
    ClosePort(link);
    OpenFailure why = OpenFailure::Absent;
    uint32_t tookMs = 0;
    DeviceHandle device = OpenSerialPort(port, &why, &tookMs);
    link.openMs = tookMs;
    ++link.opens;
    if (device == kNoDevice) {
        link.failure = why == OpenFailure::Absent && tookMs > kSlowOpenMs ? OpenFailure::Slow : why;
        return;
    }
    link.port = port;
    link.device = device;
    link.failure = OpenFailure::None;
    link.lostPort = 0;
    ++link.connection;
    ConfigureSerialDevice(device, baud);
}

void ClosePort(SerialLink& link) {
    if (link.device != kNoDevice) CloseSerialDevice(link.device);
    link.device = kNoDevice;
    link.port = 0;
    link.pending = kEmptyLineBuffer;
    link.proven = false;
}

void LoseDevice(SerialLink& link) {
    uint32_t port = link.port;
    bool proven = link.proven;
    ClosePort(link);
    if (proven) link.lostPort = port;
}

void ApplyBaudRate(SerialLink& link, uint32_t baud) {
    if (link.device != kNoDevice) ConfigureSerialDevice(link.device, baud);
}
