#pragma once
// The one connection to the measuring device: a serial port chosen by number.
#include <cstdint>

#include "serial/line_buffer.h"
#include "serial/platform.h"

struct SerialLink {
    uint32_t port;        // open port's number; 0 when no port is open
    DeviceHandle device;  // the open device, or kNoDevice
    LineBuffer pending;   // this connection's partial line; emptied whenever the link closes or switches
    OpenFailure failure;  // why the latest open failed; None once one succeeds
    bool proven;          // the open device passed a health check or delivered bytes
    uint32_t lostPort;    // the port whose proven device went away; 0 once a port opens
    uint32_t connection;  // counts successful opens, so a reader can tell one connection from the next
    uint32_t openMs = 0;  // how long the latest open took, successful or not
    uint32_t opens = 0;   // counts the opens asked of the platform, so the watch sees those made elsewhere
};

// An open that fails after blocking this long is Slow: real ports answer in
// milliseconds, a Bluetooth serial port whose device is off takes seconds.
constexpr uint32_t kSlowOpenMs = 500;

constexpr SerialLink kClosedLink = {0, kNoDevice, kEmptyLineBuffer, OpenFailure::None, false, 0, 0};

// (Re)opens the link on `port` and configures the line for non-blocking reads.
// Asking for the port already open does nothing (its pending bytes stay);
// otherwise the old connection's pending bytes are dropped, so they can never
// join the first line of the next one. A port that cannot be opened
// leaves the link Closed (port 0, no device); a configuration failure is
// ignored (the link watch closes a device whose line state is unreadable).
// A failed open that took over kSlowOpenMs is remembered as Slow.
// Nothing is reported.
void OpenPort(SerialLink& link, uint32_t port, uint32_t baud);

// Closes the device, if any, and leaves the link Closed with nothing pending.
void ClosePort(SerialLink& link);

// Closes a device that went away (a failed read or health check) and, if it
// had worked, remembers its port as lost until a port opens again. (Under
// Wine a stale port name opens and then fails its first check: a device
// that never worked did not go away, it was never there.)
void LoseDevice(SerialLink& link);

// Applies a new baud rate to the port that is already open, keeping it open.
void ApplyBaudRate(SerialLink& link, uint32_t baud);
