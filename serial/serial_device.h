#pragma once
// What a platform provides for a serial device. Each front end implements
// these in its own file; the link and drain logic only call through them.
#include <cstdint>

using DeviceHandle = void*;
constexpr DeviceHandle kNoDevice = nullptr;

// Opens an existing serial device for reading, without sharing; kNoDevice on failure.
DeviceHandle OpenSerialDevice(const char* name);

// Sets 8N1 raw at `baud` (0 keeps the device's rate) with DTR and RTS on, and
// makes reads return at once with what has arrived. False when the device's
// line state cannot be read.
bool ConfigureSerialDevice(DeviceHandle device, uint32_t baud);

// Reads what has arrived, at most `capacity` bytes, never waiting: the count
// read (0 when nothing has arrived), or -1 when the read failed.
int ReadSerialDevice(DeviceHandle device, char* buffer, int capacity);

// False when the device has gone away (unplugged, or its line state is unreadable).
bool SerialDeviceHealthy(DeviceHandle device);

// Closes the device.
void CloseSerialDevice(DeviceHandle device);
