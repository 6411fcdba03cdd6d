// Test-only helper: reports and changes the main window's size through the
// window manager calls of the program's own platform, which xdotool bypasses.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Prints the outer rectangle and the client size of `window` on one line.
static void PrintGeometry(HWND window) {
    RECT outer = {};
    RECT client = {};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    unsigned long style = static_cast<unsigned long>(GetWindowLongPtrA(window, GWL_STYLE));
    std::printf("outer %ld %ld %ld %ld client %ld %ld style %08lx\n", outer.left, outer.top,
                outer.right - outer.left, outer.bottom - outer.top, client.right - client.left,
                client.bottom - client.top, style);
}

int main(int argc, char** argv) {
    HWND window = FindWindowA("VintraMainWindow", "Vintra");
    if (window == nullptr) {
        std::fprintf(stderr, "window_probe: no Vintra window\n");
        return 1;
    }
    if (argc == 4 && std::strcmp(argv[1], "size") == 0) {
        int width = std::atoi(argv[2]);
        int height = std::atoi(argv[3]);
        if (!SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE)) {
            std::fprintf(stderr, "window_probe: SetWindowPos failed (%lu)\n", GetLastError());
            return 1;
        }
    } else if (argc != 2 || std::strcmp(argv[1], "rect") != 0) {
        std::fprintf(stderr, "usage: window_probe rect | size WIDTH HEIGHT\n");
        return 2;
    }
    PrintGeometry(window);
    return 0;
}
