#pragma once
// What the Windows tests share: the helpers run-win-test.sh starts for them,
// the device end of a serial pair, and small file utilities.
#include <windows.h>

#include <string>
#include <vector>

// A path the wrapper exported in `variable`, in the form Wine opens (its Z:
// drive is the Linux root); empty when the variable is not set.
std::string WrapperPath(const char* variable);

// Asks pty_helper.py ("termios com5", "openers com5", "unplug com5",
// "plug com5"); its answer, or "error: ..." when none came in time.
std::string AskPtyHelper(const std::string& request);

// A serial line as the Linux side of its pseudo-terminal sees it.
struct LineView {
    int speed;  // bits per second; -1 for a rate termios has no constant for
    int csize;  // data bits
    int parenb, cstopb, crtscts, ixon, ixoff;
};

// The Linux view of the pseudo-terminal behind a port link ("com5"); false
// (with the helper's answer in `error`) when it could not be read.
bool ReadLineView(const char* end, LineView* view, std::string* error);

// How many descriptors (outside the pair's own plumbing) hold the end open;
// -1 on error. Wine holds two per open handle (the process and its server).
int CountOpeners(const char* end);

// The whole content of a file; false when it cannot be opened.
bool ReadWholeFile(const std::string& path, std::string* content);

// Whether a file (or folder) exists.
bool FileExists(const char* path);

// Opens a port as the measuring device does: for writing, 8N1 raw at `baud`.
HANDLE OpenDeviceEnd(const char* name, DWORD baud);

// Sends all of `bytes` from the device end.
bool SendFromDevice(HANDLE device, const std::string& bytes);

// Sets a port's line to something a correct configuration must undo.
bool PresetLine(const char* name, DWORD baud, BYTE byteSize, BYTE parity, BYTE stopBits);

// Where Wine's stderr (with every OutputDebugStringA) has got to so far.
size_t DebugLogMark();

// The strings passed to OutputDebugStringA since `mark`, as Wine prints
// them (escaped: a line end shows as the two characters \n).
std::vector<std::string> DebugStringsSince(size_t mark);

// Polls `done` until it holds or `timeoutMs` pass.
template <typename Check>
bool WaitUntil(Check done, DWORD timeoutMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() > deadline) return false;
        Sleep(2);
    }
    return true;
}
