#pragma once
// The Windows side of the serial device: what its tests look at directly.
#include <windows.h>

#include "serial/platform.h"

// The Windows handle behind a device.
inline HANDLE Win32Handle(DeviceHandle device) { return reinterpret_cast<HANDLE>(device); }

// The line settings Vintra wants, applied to a control record read from the
// device: 8N1 raw at `baud` (0 keeps the record's rate), DTR and RTS on, no
// handshake of any kind. Every field a previous program may have left set
// differently is set here.
void SetLineSettings(DCB& state, uint32_t baud);
