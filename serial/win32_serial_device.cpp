// Serial devices through the Windows communications API.
#include "serial/win32_serial_device.h"

#include "serial/win32_port_names.h"

bool SerialPortExists(uint32_t port) {
    // The name query takes the bare name only: it rejects "\\.\COM12".
    char bareName[32];
    char target[256];
    wsprintfA(bareName, "COM%u", port);
    return QueryDosDeviceA(bareName, target, sizeof target) != 0;
}

DeviceHandle OpenSerialPort(uint32_t port, OpenFailure* why, uint32_t* tookMs) {
    *why = OpenFailure::Absent;
    *tookMs = 0;
    char name[kPortNameSize];
    if (!FormatPortName(port, name)) return kNoDevice;
    // A Bluetooth serial port whose device is off blocks here for seconds
    // before it fails (often with ERROR_SEM_TIMEOUT): the caller is told how long.
    ULONGLONG startMs = GetTickCount64();
    HANDLE handle = CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = GetLastError();
    ULONGLONG tookTicks = GetTickCount64() - startMs;
    *tookMs = tookTicks > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(tookTicks);
    if (handle != INVALID_HANDLE_VALUE) return reinterpret_cast<DeviceHandle>(handle);
    // Windows refuses a second open of a serial port with access denied: the
    // port is there, another program (a serial monitor) holds it.
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) *why = OpenFailure::Busy;
    return kNoDevice;
}

void SetLineSettings(DCB& state, uint32_t baud) {
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
}

bool ConfigureSerialDevice(DeviceHandle device, uint32_t baud) {
    HANDLE handle = Win32Handle(device);
    // Start from the device's own state: drivers reject a control record with
    // a data size of 0, so a record built from zeros never applies anything.
    DCB state = {};
    state.DCBlength = sizeof state;
    bool readable = GetCommState(handle, &state) != 0;
    if (readable) {
        SetLineSettings(state, baud);
        SetCommState(handle, &state);
    }
    // Reads return at once with whatever has arrived, even nothing.
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    SetCommTimeouts(handle, &timeouts);
    return readable;
}

int ReadSerialDevice(DeviceHandle device, char* buffer, int capacity) {
    DWORD got = 0;
    if (!ReadFile(Win32Handle(device), buffer, static_cast<DWORD>(capacity), &got, nullptr)) return -1;
    return static_cast<int>(got);
}

bool SerialDeviceHealthy(DeviceHandle device) {
    // Real drivers fail ClearCommError once the device is unplugged; Wine's
    // reads keep succeeding with nothing, but both calls below fail there.
    HANDLE handle = Win32Handle(device);
    DWORD errors = 0;
    COMSTAT status = {};
    if (!ClearCommError(handle, &errors, &status)) return false;
    DCB state = {};
    state.DCBlength = sizeof state;
    return GetCommState(handle, &state) != 0;
}

void CloseSerialDevice(DeviceHandle device) { CloseHandle(Win32Handle(device)); }
