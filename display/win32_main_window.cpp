// The main window's handler: layout, repaint, keys.
#include "app/app_state.h"
#include "app/win32_app_state.h"
#include "app/win32_event_loop.h"
#include "display/repaint_decision.h"
#include "display/win32_draw_panels.h"
#include "display/win32_main_window.h"
#include "serial/platform.h"
#include "settings/win32_settings_window.h"
#include "web/win32_web_server.h"

// A surface of the client's size, or null when the platform cannot make one.
static HDC BackBufferFor(HDC screen, int width, int height) {
    BackBuffer& buffer = gWin32.mainWindow.backBuffer;
    if (buffer.surface && buffer.width == width && buffer.height == height) return buffer.surface;
    if (buffer.surface) DeleteDC(buffer.surface);
    if (buffer.bitmap) DeleteObject(buffer.bitmap);
    buffer = {};
    HDC surface = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    if (!surface || !bitmap) {
        if (surface) DeleteDC(surface);
        if (bitmap) DeleteObject(bitmap);
        return nullptr;
    }
    SelectObject(surface, bitmap);
    buffer = {surface, bitmap, width, height};
    return surface;
}

void PaintMainWindow(HWND window) {
    PAINTSTRUCT paint;
    HDC screen = BeginPaint(window, &paint);
    SetTextAlign(screen, TA_LEFT | TA_TOP);
    RECT client;
    GetClientRect(window, &client);
    int width = client.right - client.left;
    int height = client.bottom - client.top;

    // Without an off-screen surface (a minimised window, no memory) the
    // picture is drawn straight onto the window rather than not at all.
    HDC backBuffer = BackBufferFor(screen, width, height);
    HDC surface = backBuffer ? backBuffer : screen;
    HBRUSH green = CreateSolidBrush(kChromaGreen);
    FillRect(surface, &client, green);
    DeleteObject(green);
    SetBkColor(surface, kPanelGrey);

    DrawContext& draw = gWin32.mainWindow.draw;
    CreateDrawingTools(draw);
    draw.surface = surface;
    RenderPanels(draw, gApp.store);

    if (backBuffer) BitBlt(screen, 0, 0, width, height, backBuffer, 0, 0, SRCCOPY);
    EndPaint(window, &paint);
    // Only a paint of the whole client shows the rings everywhere; after a
    // partial one (part of the window uncovered) the next tick repaints.
    RECT& painted = paint.rcPaint;
    bool whole = painted.left <= 0 && painted.top <= 0 && painted.right >= width && painted.bottom >= height;
    NotePaint(gWin32.mainWindow.painted, gApp.store, whole);
}

static void HandleKey(WPARAM key) {
    if (key == VK_DELETE) {
        ClearMeasurements(gApp.store);
        NoteClear(gApp.feed);
        StartSession(gSession, kSessionSlots, GetTickCount64(), WallClockMs());
    }
    if (key == VK_F6) RunSettingsCommand();
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_SIZE:
            gWin32.mainWindow.draw.layout = ComputePanelLayout(LOWORD(lParam), HIWORD(lParam));
            InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_GETMINMAXINFO: {
            MINMAXINFO* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            limits->ptMinTrackSize.x = kMinTrackWidth;
            limits->ptMinTrackSize.y = kMinTrackHeight;
            return 0;
        }
        case WM_TIMER:
            // Menus and moving or sizing any window run the platform's own
            // loop instead of ours; the tick then drains, so the device is
            // not left unread.
            DrainOnTick();
            ServeWebTick(GetTickCount64());
            // Data the event loop drains right after this tick is painted at
            // the next one when nothing else changed; draining here as well
            // would cost an extra read of the device on every tick. Without a
            // big rate font the paint used a small one: repaint to retry it.
            if (TickMustRepaint(gWin32.mainWindow.painted, gApp.store) || !gWin32.mainWindow.draw.rateFont)
                InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_PAINT:
            PaintMainWindow(window);
            return 0;
        case WM_KEYDOWN:
            HandleKey(wParam);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}
