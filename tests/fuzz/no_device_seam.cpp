// The serial device and sinks for targets that never read a device: the
// settings code links the port-opening code, which needs them to exist.
#include "serial/line_sinks.h"
#include "serial/serial_device.h"

DeviceHandle OpenSerialDevice(const char*) { return kNoDevice; }

bool ConfigureSerialDevice(DeviceHandle, uint32_t) { return false; }

int ReadSerialDevice(DeviceHandle, char*, int) { return 0; }

bool SerialDeviceHealthy(DeviceHandle) { return false; }

void CloseSerialDevice(DeviceHandle) {}

void WriteBeatRateFile(const char*, int) {}

void EchoLine(const char*) {}
