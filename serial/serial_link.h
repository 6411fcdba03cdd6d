#pragma once
// The one connection to the measuring device: a serial port chosen by number.
#include <cstdint>

#include "serial/line_buffer.h"
#include "serial/platform.h"

struct SerialLink {
    uint32_t port;        // open port's number; 0 when no port is open
    DeviceHandle device;  // the open device, or kNoDevice
    LineBuffer pending;   // this connection's partial line; emptied whenever the link closes or switches
};

constexpr SerialLink kClosedLink = {0, kNoDevice, kEmptyLineBuffer};

// (Re)opens the link on `port` and configures the line for non-blocking reads.
// Asking for the port already open does nothing (its pending bytes stay);
// otherwise the old connection's pending bytes are dropped, so they can never
// join the first line of the next one. A port that cannot be opened
// leaves the link Closed (port 0, no device); a configuration failure is
// ignored (the link watch closes a device whose line state is unreadable).
// Nothing is reported.
void OpenPort(SerialLink& link, uint32_t port, uint32_t baud);

// Closes the device, if any, and leaves the link Closed with nothing pending.
void ClosePort(SerialLink& link);

// Applies a new baud rate to the port that is already open, keeping it open.
void ApplyBaudRate(SerialLink& link, uint32_t baud);
