// Serial devices through the Windows communications API.
#include <windows.h>

#include "serial/serial_device.h"

DeviceHandle OpenSerialDevice(const char* name) {
    HANDLE handle = CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle == INVALID_HANDLE_VALUE ? kNoDevice : handle;
}

bool ConfigureSerialDevice(DeviceHandle device, uint32_t baud) {
    // Start from the device's own state: drivers reject a control record with
    // a data size of 0, so a record built from zeros never applies anything.
    DCB state = {};
    state.DCBlength = sizeof state;
    bool readable = GetCommState(device, &state) != 0;
    if (readable) {
        if (baud != 0) state.BaudRate = baud;
        state.ByteSize = 8;
        state.Parity = NOPARITY;
        state.StopBits = ONESTOPBIT;
        state.fBinary = TRUE;
        state.fParity = FALSE;
        // Boards with native USB send nothing until DTR is asserted.
        state.fDtrControl = DTR_CONTROL_ENABLE;
        state.fRtsControl = RTS_CONTROL_ENABLE;
        // No handshake: a hobbyist sensor wires none, and DSR sensitivity
        // would make the driver drop everything it receives.
        state.fOutxCtsFlow = FALSE;
        state.fOutxDsrFlow = FALSE;
        state.fDsrSensitivity = FALSE;
        state.fOutX = FALSE;
        state.fInX = FALSE;
        // A line error must not make every later read fail.
        state.fAbortOnError = FALSE;
        SetCommState(device, &state);
    }
    // Reads return at once with whatever has arrived, even nothing.
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    SetCommTimeouts(device, &timeouts);
    return readable;
}

int ReadSerialDevice(DeviceHandle device, char* buffer, int capacity) {
    DWORD got = 0;
    if (!ReadFile(device, buffer, static_cast<DWORD>(capacity), &got, nullptr)) return -1;
    return static_cast<int>(got);
}

bool SerialDeviceHealthy(DeviceHandle device) {
    // Real drivers fail ClearCommError once the device is unplugged; Wine's
    // reads keep succeeding with nothing, but both calls below fail there.
    DWORD errors = 0;
    COMSTAT status = {};
    if (!ClearCommError(device, &errors, &status)) return false;
    DCB state = {};
    state.DCBlength = sizeof state;
    return GetCommState(device, &state) != 0;
}

void CloseSerialDevice(DeviceHandle device) { CloseHandle(device); }
