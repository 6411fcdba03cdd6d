#pragma once
// Everything a platform provides to the neutral core: its serial ports, the
// "bpm.txt" file and the echo. Each front end implements all of these in its
// own files (the Windows ones are serial/win32_*.cpp). The core calls only
// through them and knows ports by number alone, never by device name.
#include <cstdint>

// An open serial device: a Windows handle or a POSIX file descriptor, where 0
// is a valid descriptor; kNoDevice is neither.
using DeviceHandle = intptr_t;
constexpr DeviceHandle kNoDevice = -1;

// Whether serial port `port` is present on this machine.
bool SerialPortExists(uint32_t port);

// Why a port could not be opened: the status shown to the user tells a port
// another program holds (Busy) from one that is not there (Absent), and from
// one whose open blocked for long before it failed (Slow: a Bluetooth serial
// port whose device is off). The platform reports Absent or Busy and the
// open's duration; the link calls a long one Slow.
enum class OpenFailure { None, Absent, Busy, Slow };

// Opens serial port `port` for reading, without sharing; kNoDevice when it
// cannot be opened (including numbers the platform has no device name for),
// with the reason in `why`. `tookMs` gets how long the open took, whatever
// its outcome.
DeviceHandle OpenSerialPort(uint32_t port, OpenFailure* why, uint32_t* tookMs);

// Room for one port's name from the system's device list, in UTF-8.
constexpr int kPortLabelSize = 80;

// One serial port as the system's device list names it.
struct PortLabel {
    uint32_t port;               // its number
    char text[kPortLabelSize];   // "USB-SERIAL CH340 (COM3)"; cut to fit, always terminated
};

// Lists the serial ports the system's device list names, at most `capacity`
// of them, in its own order: the count filled. Ports it does not name are
// not listed (they may still exist: see SerialPortExists).
int ListPortLabels(PortLabel* labels, int capacity);

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

// Replaces "bpm.txt" with exactly `length` bytes of text. False when the
// value did not land (a protected or read-only folder, a folder of that name).
bool WriteBeatRateFile(const char* text, int length);

// The folder "bpm.txt" and "vintra.config" are written in, as the user knows
// it ("C:\Users\...\Vintra"), in UTF-8; empty when it cannot be told.
void WorkingFolder(char* text, int capacity);

// Echoes one received line (without its line end) to the debugger output,
// followed by a separate line end.
void EchoLine(const char* line);

// The wall clock: milliseconds since 1970-01-01 00:00 UTC.
int64_t WallClockMs();

// A civil time and its offset from UTC.
struct LocalTime {
    int year;           // e.g. 2026
    int month;          // 1..12
    int day;            // 1..31
    int hour;           // 0..23
    int minute;         // 0..59
    int second;         // 0..59
    int millisecond;    // 0..999
    int offsetMinutes;  // local time minus UTC, e.g. 60 for +01:00, -330 for -05:30
};

// The local time at `utcMs` by this machine's time zone rules for that
// moment (daylight saving included); UTC with offset 0 when they cannot be applied.
LocalTime LocalTimeAt(int64_t utcMs);
