#include "tests/host/fake_serial_platform.h"

#include <algorithm>
#include <cstring>

#include "serial/line_sinks.h"
#include "serial/serial_device.h"

FakeSerialPlatform gFake;

void ResetFakeSerialPlatform() { gFake = FakeSerialPlatform(); }

static bool Listed(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Handles are 1-based positions in openCalls, so tests can tell devices apart.
DeviceHandle OpenSerialDevice(const char* name) {
    gFake.openCalls.push_back(name);
    if (!Listed(gFake.presentDevices, name)) return kNoDevice;
    ++gFake.openDevices;
    return reinterpret_cast<DeviceHandle>(static_cast<uintptr_t>(gFake.openCalls.size()));
}

bool ConfigureSerialDevice(DeviceHandle device, uint32_t baud) {
    gFake.configuredBauds.push_back(baud);
    return SerialDeviceHealthy(device);
}

int ReadSerialDevice(DeviceHandle, char* buffer, int capacity) {
    ++gFake.readCalls;
    if (gFake.failReads) return -1;
    if (gFake.pendingReads.empty()) return 0;
    std::string& next = gFake.pendingReads.front();
    int count = std::min(capacity, static_cast<int>(next.size()));
    std::memcpy(buffer, next.data(), static_cast<size_t>(count));
    next.erase(0, static_cast<size_t>(count));
    if (next.empty()) gFake.pendingReads.pop_front();
    return count;
}

bool SerialDeviceHealthy(DeviceHandle device) {
    size_t index = reinterpret_cast<uintptr_t>(device) - 1;
    bool unreadable = index < gFake.openCalls.size() && Listed(gFake.unreadableDevices, gFake.openCalls[index]);
    return gFake.healthy && !unreadable;
}

void CloseSerialDevice(DeviceHandle) {
    ++gFake.closeCount;
    --gFake.openDevices;
}

void WriteBeatRateFile(const char* text, int length) { gFake.bpmWrites.emplace_back(text, static_cast<size_t>(length)); }

void EchoLine(const char* line) { gFake.echoes.emplace_back(line); }
