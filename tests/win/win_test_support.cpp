#include "tests/win/win_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

std::string WrapperPath(const char* variable) {
    const char* unixPath = std::getenv(variable);
    if (unixPath == nullptr || unixPath[0] != '/') return std::string();
    std::string path = "Z:";
    for (const char* c = unixPath; *c != '\0'; ++c) path += (*c == '/') ? '\\' : *c;
    return path;
}

std::string AskPtyHelper(const std::string& request) {
    std::string control = WrapperPath("VINTRA_TEST_CONTROL");
    if (control.empty()) return "error: VINTRA_TEST_CONTROL not set (run through run-win-test.sh)";
    std::string path = control + "\\request";
    std::string reply = control + "\\reply";
    DeleteFileA(reply.c_str());
    // The helper takes a request only once its line end is there.
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return "error: cannot write " + path;
    std::fputs((request + "\n").c_str(), out);
    std::fclose(out);
    std::string answer;
    if (!WaitUntil([&] { return ReadWholeFile(reply, &answer); }, 10000)) return "error: no reply to " + request;
    DeleteFileA(reply.c_str());
    return answer;
}

bool ReadLineView(const char* end, LineView* view, std::string* error) {
    std::string answer = AskPtyHelper(std::string("termios ") + end);
    std::istringstream fields(answer);
    std::string name;
    int* slots[] = {&view->speed, &view->csize, &view->parenb, &view->cstopb,
                    &view->crtscts, &view->ixon, &view->ixoff};
    const char* names[] = {"speed", "csize", "parenb", "cstopb", "crtscts", "ixon", "ixoff"};
    for (int i = 0; i < 7; ++i) {
        if (!(fields >> name >> *slots[i]) || name != names[i]) {
            *error = answer;
            return false;
        }
    }
    return true;
}

int CountOpeners(const char* end) {
    std::string answer = AskPtyHelper(std::string("openers ") + end);
    if (answer.empty() || answer[0] < '0' || answer[0] > '9') return -1;
    return std::atoi(answer.c_str());
}

bool ReadWholeFile(const std::string& path, std::string* content) {
    FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return false;
    content->clear();
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) content->append(chunk, got);
    std::fclose(in);
    return true;
}

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// Starts from the port's own state: Wine and real drivers reject a zeroed record.
static bool SetLine(HANDLE port, DWORD baud, BYTE byteSize, BYTE parity, BYTE stopBits) {
    DCB state = {};
    state.DCBlength = sizeof state;
    if (!GetCommState(port, &state)) return false;
    state.BaudRate = baud;
    state.ByteSize = byteSize;
    state.Parity = parity;
    state.StopBits = stopBits;
    state.fBinary = TRUE;
    state.fParity = parity != NOPARITY;
    state.fOutxCtsFlow = FALSE;
    state.fOutxDsrFlow = FALSE;
    state.fOutX = FALSE;
    state.fInX = FALSE;
    return SetCommState(port, &state) != 0;
}

HANDLE OpenDeviceEnd(const char* name, DWORD baud) {
    // Wine answers line-state calls only on handles that may also read.
    HANDLE device = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) return device;
    if (!SetLine(device, baud, 8, NOPARITY, ONESTOPBIT)) {
        CloseHandle(device);
        return INVALID_HANDLE_VALUE;
    }
    return device;
}

bool SendFromDevice(HANDLE device, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(device, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool PresetLine(const char* name, DWORD baud, BYTE byteSize, BYTE parity, BYTE stopBits) {
    HANDLE port = CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) return false;
    bool set = SetLine(port, baud, byteSize, parity, stopBits);
    CloseHandle(port);
    return set;
}

// Everything Wine has written to the test's stderr so far.
static std::string DebugLog() {
    std::string log;
    std::string path = WrapperPath("VINTRA_TEST_STDERR");
    if (!path.empty()) ReadWholeFile(path, &log);
    return log;
}

size_t DebugLogMark() { return DebugLog().size(); }

std::vector<std::string> DebugStringsSince(size_t mark) {
    static const std::string kCall = "OutputDebugStringA \"";
    std::string log = DebugLog();
    std::vector<std::string> strings;
    std::istringstream lines(mark < log.size() ? log.substr(mark) : std::string());
    std::string line;
    while (std::getline(lines, line)) {
        size_t at = line.find(kCall);
        size_t close = line.rfind('"');
        if (at == std::string::npos || close < at + kCall.size()) continue;
        strings.push_back(line.substr(at + kCall.size(), close - at - kCall.size()));
    }
    return strings;
}
