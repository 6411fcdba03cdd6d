// Writes "bpm.txt", for text overlays, through the Windows file API.
#include <windows.h>

#include "serial/platform.h"

constexpr const char* kBeatRateFile = "bpm.txt";
// Same folder as the file, so the rename below never crosses volumes.
constexpr const char* kBeatRateTempFile = "bpm.txt.new";

// Creates or truncates `name` and writes `length` bytes into it.
static bool WriteNewFile(const char* name, const char* text, int length) {
    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool whole = WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr) &&
                 written == static_cast<DWORD>(length);
    return CloseHandle(file) && whole;
}

// Rewrites "bpm.txt" where it stands. Digits of the old value's length are
// written over the old ones, so a reader finds the old value or the new one,
// never an empty file. A value of another length cannot replace the old one
// in a single step: the file is emptied first, as a reader would otherwise
// catch a wrong number ("10" on the way from "99" to "100").
// False when the value did not land whole.
static bool RewriteInPlace(const char* text, int length) {
    // Read and write sharing: an overlay may hold the file open meanwhile.
    HANDLE file = CreateFileA(kBeatRateFile, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size) || size.QuadPart != length) SetEndOfFile(file);
    DWORD written = 0;
    bool whole = WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr) &&
                 written == static_cast<DWORD>(length);
    return CloseHandle(file) && whole;
}

bool WriteBeatRateFile(const char* text, int length) {
    // A reader must never see the file truncated and not yet written: the
    // digits go to a file of their own, which then replaces "bpm.txt" in one
    // rename. The file is rewritten on every call, so its modification time
    // moves even when the value repeats.
    if (WriteNewFile(kBeatRateTempFile, text, length) &&
        MoveFileExA(kBeatRateTempFile, kBeatRateFile, MOVEFILE_REPLACE_EXISTING)) {
        return true;
    }
    // The rename fails while anyone holds "bpm.txt" open (on Windows without
    // delete sharing, as the C runtime's fopen opens it; under Wine whatever
    // the sharing). The value must still land and the drain must not wait:
    // rewrite in place and leave no stray file behind.
    DeleteFileA(kBeatRateTempFile);
    return RewriteInPlace(text, length);
}

void WorkingFolder(char* text, int capacity) {
    // Wide, then UTF-8: a user's folder name is often not in the ANSI code page.
    wchar_t folder[MAX_PATH + 1];
    DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, folder);
    int made = 0;
    if (length > 0 && length <= MAX_PATH) {
        made = WideCharToMultiByte(CP_UTF8, 0, folder, static_cast<int>(length), text, capacity - 1, nullptr, nullptr);
    }
    text[made > 0 ? made : 0] = '\0';
}
