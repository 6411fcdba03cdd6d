#include "serial/serial_link.h"

void OpenPort(SerialLink& link, uint32_t port, uint32_t baud) {
    if (port == link.port) return;
    ClosePort(link);
    DeviceHandle device = OpenSerialPort(port);
    if (device == kNoDevice) return;
    link.port = port;
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
