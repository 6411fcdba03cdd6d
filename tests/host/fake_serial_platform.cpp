#include "tests/host/fake_serial_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "serial/platform.h"

FakeSerialPlatform gFake;

void ResetFakeSerialPlatform() { gFake = FakeSerialPlatform(); }

static bool Listed(const std::vector<uint32_t>& ports, uint32_t port) {
    return std::find(ports.begin(), ports.end(), port) != ports.end();
}

bool SerialPortExists(uint32_t port) { return Listed(gFake.presentPorts, port); }

// Handles are 0-based positions in openCalls: the first device gets 0, as a
// POSIX descriptor may, and tests can tell devices apart.
DeviceHandle OpenSerialPort(uint32_t port, OpenFailure* why, uint32_t* tookMs) {
    gFake.openCalls.push_back(port);
    gFake.openStartsMs.push_back(gFake.clockMs);
    gFake.clockMs += gFake.openTakesMs;
    *tookMs = gFake.openTakesMs;
    *why = Listed(gFake.busyPorts, port) ? OpenFailure::Busy : OpenFailure::Absent;
    if (*why == OpenFailure::Busy || !Listed(gFake.presentPorts, port)) return kNoDevice;
    ++gFake.openDevices;
    return static_cast<DeviceHandle>(gFake.openCalls.size() - 1);
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
    size_t index = static_cast<size_t>(device);
    bool unreadable = index < gFake.openCalls.size() && Listed(gFake.unreadablePorts, gFake.openCalls[index]);
    return gFake.healthy && !unreadable;
}

void CloseSerialDevice(DeviceHandle) {
    ++gFake.closeCount;
    --gFake.openDevices;
}

bool WriteBeatRateFile(const char* text, int length) {
    gFake.bpmWrites.emplace_back(text, static_cast<size_t>(length));
    return !gFake.bpmWritesFail;
}

void WorkingFolder(char* text, int capacity) {
    std::snprintf(text, static_cast<size_t>(capacity), "%s", gFake.folder.c_str());
}

int ListPortLabels(PortLabel* labels, int capacity) {
    int count = 0;
    for (const auto& entry : gFake.portLabels) {
        if (count == capacity) break;
        labels[count].port = entry.first;
        std::snprintf(labels[count].text, sizeof labels[count].text, "%s", entry.second.c_str());
        ++count;
    }
    return count;
}

void EchoLine(const char* line) { gFake.echoes.emplace_back(line); }

int64_t WallClockMs() { return gFake.wallMs; }

LocalTime LocalTimeAt(int64_t utcMs) {
    std::time_t seconds = static_cast<std::time_t>(utcMs / 1000) + gFake.offsetMinutes * 60;
    std::tm civil = {};
    gmtime_r(&seconds, &civil);
    return {civil.tm_year + 1900, civil.tm_mon + 1, civil.tm_mday, civil.tm_hour, civil.tm_min, civil.tm_sec,
            static_cast<int>(utcMs % 1000), gFake.offsetMinutes};
}
