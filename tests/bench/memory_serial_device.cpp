// The serial device served from memory. The probe/open/configure/health calls
// are never reached by the drain; they exist so the core links.
#include "tests/bench/memory_serial_device.h"

#include <cstring>

#include "serial/platform.h"

MemoryDevice gMemoryDevice;

void RewindMemoryDevice(const char* bytes, size_t size) { gMemoryDevice = {bytes, size, 0}; }

int ReadSerialDevice(DeviceHandle, char* buffer, int capacity) {
    MemoryDevice& device = gMemoryDevice;
    size_t left = device.size - device.next;
    size_t count = left < static_cast<size_t>(capacity) ? left : static_cast<size_t>(capacity);
    std::memcpy(buffer, device.bytes + device.next, count);
    device.next += count;
    return static_cast<int>(count);
}

bool SerialPortExists(uint32_t) { return false; }
DeviceHandle OpenSerialPort(uint32_t, OpenFailure*, uint32_t*) { return kNoDevice; }
bool ConfigureSerialDevice(DeviceHandle, uint32_t) { return true; }
bool SerialDeviceHealthy(DeviceHandle) { return true; }
void CloseSerialDevice(DeviceHandle) {}
