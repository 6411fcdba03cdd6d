#include "tests/win/beat_file_readers.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "serial/platform.h"

// One round of the reader; the counts it bumps.
static void ReadOnce(ReaderSharing sharing, int lowest, int highest, ReaderCounts& counts) {
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (sharing == ReaderSharing::WithDelete ? FILE_SHARE_DELETE : 0);
    HANDLE file = CreateFileA("bpm.txt", GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ++counts.reads;
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        ++(error == ERROR_FILE_NOT_FOUND ? counts.missing : counts.busy);
        return;
    }
    char text[16] = {};
    DWORD got = 0;
    bool read = ReadFile(file, text, sizeof text - 1, &got, nullptr) != 0;
    CloseHandle(file);
    if (read && got == 0) {
        ++counts.empty;
        return;
    }
    int value = -1;
    int used = 0;
    bool sent = read && std::sscanf(text, "%d%n", &value, &used) == 1 && used == static_cast<int>(got) &&
                value >= lowest && value <= highest && text[0] >= '1' && text[0] <= '9';
    if (!sent) ++counts.foreign;
}

ReaderCounts ReadWhileRewriting(int writes, int writesPerSecond, ReaderSharing sharing, int lowest, int highest) {
    char text[8];
    int length = std::snprintf(text, sizeof text, "%d", lowest);
    WriteBeatRateFile(text, length);  // the file exists before the reader starts

    std::atomic<bool> stop(false);
    ReaderCounts counts = {};
    std::thread reader([&] {
        while (!stop.load()) ReadOnce(sharing, lowest, highest, counts);
    });
    ULONGLONG start = GetTickCount64();
    for (int i = 1; i <= writes; ++i) {
        length = std::snprintf(text, sizeof text, "%d", lowest + i % (highest - lowest + 1));
        WriteBeatRateFile(text, length);
        if (writesPerSecond > 0) {
            ULONGLONG due = start + static_cast<ULONGLONG>(i) * 1000 / static_cast<ULONGLONG>(writesPerSecond);
            ULONGLONG now = GetTickCount64();
            if (due > now) Sleep(static_cast<DWORD>(due - now));
        }
    }
    stop.store(true);
    reader.join();
    return counts;
}
