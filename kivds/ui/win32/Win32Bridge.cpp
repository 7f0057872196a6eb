#include "kivds/ui/win32/Win32Bridge.h"

#include <windows.h>

#include <map>
#include <mutex>
#include <utility>

namespace kiv {
namespace {

struct Preview {
    WNDPROC original = nullptr;
    std::shared_ptr<const PreviewPicture> picture;
};

struct State {
    mutable std::mutex mutex;
    std::map<HWND, Preview> previews;
};

State& Shared() {
    static State state;
    return state;
}

WNDPROC OriginalProc(HWND window) {
    State& s = Shared();
    std::lock_guard<std::mutex> guard(s.mutex);
    auto it = s.previews.find(window);
    return it == s.previews.end() ? nullptr : it->second.original;
}

// Paints `picture` at its place in the client area and black around it.
void PaintPicture(HWND window, HDC dc, const PreviewPicture& picture) {
    RECT client{};
    GetClientRect(window, &client);
    const RECT placed{picture.left, picture.top, picture.left + picture.width, picture.top + picture.height};
    // Black around the picture, without painting under it (no flicker).
    const int saved = SaveDC(dc);
    ExcludeClipRect(dc, placed.left, placed.top, placed.right, placed.bottom);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    RestoreDC(dc, saved);

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = picture.height;  // positive: bottom-up rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, picture.left, picture.top, static_cast<DWORD>(picture.width),
                      static_cast<DWORD>(picture.height), 0, 0, 0, static_cast<UINT>(picture.height),
                      picture.pixels.data(), &info, DIB_RGB_COLORS);
}

LRESULT CALLBACK PreviewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC original = OriginalProc(window);
    if (message == WM_PAINT || message == WM_ERASEBKGND) {
        std::shared_ptr<const PreviewPicture> picture = Win32Bridge::Instance().Latest(window);
        if (picture) {
            if (message == WM_ERASEBKGND) return 1;  // WM_PAINT covers everything
            PAINTSTRUCT paint{};
            HDC dc = BeginPaint(window, &paint);
            if (dc) PaintPicture(window, dc, *picture);
            EndPaint(window, &paint);
            return 0;
        }
    }
    if (message == WM_NCDESTROY) {
        // The window goes before its owner detached it: its own procedure
        // back, and nothing kept for a handle that may be reused.
        Win32Bridge::Instance().DetachPreview(window);
    }
    return original ? CallWindowProcW(original, window, message, wParam, lParam)
                    : DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

Win32Bridge& Win32Bridge::Instance() {
    static Win32Bridge bridge;
    return bridge;
}

void Win32Bridge::Install() { SetWindowBridge(&Instance()); }

void Win32Bridge::AttachPreview(WindowHandle window) {
    HWND hwnd = static_cast<HWND>(window);
    if (!hwnd || !IsWindow(hwnd)) return;
    State& s = Shared();
    {
        std::lock_guard<std::mutex> guard(s.mutex);
        if (s.previews.count(hwnd)) return;
        // Registered before the procedure changes: the first message already
        // finds its way back to the original procedure.
        s.previews[hwnd].original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
    }
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PreviewProc));
}

void Win32Bridge::DetachPreview(WindowHandle window) {
    HWND hwnd = static_cast<HWND>(window);
    WNDPROC original = nullptr;
    {
        State& s = Shared();
        std::lock_guard<std::mutex> guard(s.mutex);
        auto it = s.previews.find(hwnd);
        if (it == s.previews.end()) return;
        original = it->second.original;
        s.previews.erase(it);
    }
    if (original && IsWindow(hwnd) && reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC)) == &PreviewProc)
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
}

std::shared_ptr<const PreviewPicture> Win32Bridge::Latest(WindowHandle window) const {
    State& s = Shared();
    std::lock_guard<std::mutex> guard(s.mutex);
    auto it = s.previews.find(static_cast<HWND>(window));
    return it == s.previews.end() ? nullptr : it->second.picture;
}

bool Win32Bridge::GetClientSize(WindowHandle window, int& width, int& height) {
    RECT r{};
    if (!window || !GetClientRect(static_cast<HWND>(window), &r)) return false;
    width = r.right - r.left;
    height = r.bottom - r.top;
    return true;
}

void Win32Bridge::PostGraphNotify(WindowHandle window) {
    if (window) PostMessageW(static_cast<HWND>(window), WM_GRAPHNOTIFY, 0, 0);
}

void Win32Bridge::SendFrameArrived(WindowHandle window) {
    if (window) PostMessageW(static_cast<HWND>(window), WM_FRAMEARRIVED, 0, 0);
}

void Win32Bridge::PresentPreview(WindowHandle window, std::shared_ptr<const PreviewPicture> picture) {
    if (!picture || !IsDrawable(*picture)) return;
    HWND hwnd = static_cast<HWND>(window);
    {
        State& s = Shared();
        std::lock_guard<std::mutex> guard(s.mutex);
        auto it = s.previews.find(hwnd);
        if (it == s.previews.end()) return;
        it->second.picture = std::move(picture);  // a picture not painted yet is replaced
    }
    // Asks for a paint; the window's thread draws the newest picture then.
    InvalidateRect(hwnd, nullptr, FALSE);
}

}  // namespace kiv
