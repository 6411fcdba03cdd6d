// The serial ports' names from Windows' device list (SetupAPI, the Ports
// class), as Device Manager shows them: "USB-SERIAL CH340 (COM3)".
#include <windows.h>

#include <setupapi.h>

#include "serial/platform.h"
#include "serial/win32_port_names.h"

// GUID_DEVCLASS_PORTS ("Ports (COM & LPT)"), spelt out so no GUID library is needed.
static const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// The COM number in a device's "PortName" value ("COM4"); false for LPT ports and the like.
static bool ReadPortNumber(HDEVINFO set, SP_DEVINFO_DATA& device, uint32_t* port) {
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return false;
    char name[32] = {};
    DWORD type = 0;
    DWORD size = sizeof name - 1;  // the stored value need not end in a NUL
    LONG got = RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    if (got != ERROR_SUCCESS || type != REG_SZ) return false;
    if ((name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' || (name[2] | 0x20) != 'm') return false;
    return ParsePortName(name, port);
}

// The device's friendly name in UTF-8, cut to fit at a character boundary.
static bool ReadFriendlyName(HDEVINFO set, SP_DEVINFO_DATA& device, char (&text)[kPortLabelSize]) {
    wchar_t wide[256] = {};  // room for a long name, cut below
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, &type, reinterpret_cast<BYTE*>(wide),
                                           sizeof wide - sizeof wide[0], nullptr) ||
        type != REG_SZ) {
        return false;
    }
    char utf8[sizeof wide / sizeof wide[0] * 3];  // UTF-8 takes at most three bytes per UTF-16 unit
    int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
    if (length <= 1) return false;
    int keep = length - 1;
    if (keep > kPortLabelSize - 1) {
        keep = kPortLabelSize - 1;
        while (keep > 0 && (static_cast<unsigned char>(utf8[keep]) & 0xC0) == 0x80) --keep;
    }
    for (int i = 0; i < keep; ++i) text[i] = utf8[i];
    text[keep] = '\0';
    return true;
}

int ListPortLabels(PortLabel* labels, int capacity) {
    HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; count < capacity && SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        PortLabel& label = labels[count];
        if (ReadPortNumber(set, device, &label.port) && ReadFriendlyName(set, device, label.text)) ++count;
    }
    SetupDiDestroyDeviceInfoList(set);
    return count;
}
