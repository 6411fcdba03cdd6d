// The platform for targets that never read a device: the settings code links
// the port-opening code, and the answers the session's local times, which
// need these to exist.
#include "serial/platform.h"

bool SerialPortExists(uint32_t) { return false; }

DeviceHandle OpenSerialPort(uint32_t, OpenFailure*, uint32_t*) { return kNoDevice; }

bool ConfigureSerialDevice(DeviceHandle, uint32_t) { return false; }

int ReadSerialDevice(DeviceHandle, char*, int) { return 0; }

bool SerialDeviceHealthy(DeviceHandle) { return false; }

void CloseSerialDevice(DeviceHandle) {}

bool WriteBeatRateFile(const char*, int) { return true; }

void EchoLine(const char*) {}

int64_t WallClockMs() { return 0; }

LocalTime LocalTimeAt(int64_t) { return {1970, 1, 1, 0, 0, 0, 0, 0}; }
