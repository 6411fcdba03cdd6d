// Test-only helper: posts the web endpoint's socket message with FD_CLOSE
// for every socket handle value up to 0x4000, as Winsock can still deliver
// for sockets already closed whose handle values were then reused.
//   socket_probe stale-close    prints how many messages it posted
#include <windows.h>

#include <cstdio>
#include <cstring>

// The endpoint's message-only window and its socket message (web/win32_web_server.cpp).
constexpr const char* kSocketWindowClass = "VintraWebSockets";
constexpr UINT kSocketMessage = WM_APP + 17;
constexpr LPARAM kCloseEvent = 0x20;  // FD_CLOSE, no error

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "stale-close") != 0) return 2;
    HWND window = FindWindowExA(HWND_MESSAGE, nullptr, kSocketWindowClass, nullptr);
    if (window == nullptr) return 1;
    int posted = 0;
    for (UINT_PTR handle = 4; handle < 0x4000; handle += 4) {
        if (PostMessageA(window, kSocketMessage, handle, kCloseEvent)) ++posted;
    }
    std::printf("%d\n", posted);
    return 0;
}
