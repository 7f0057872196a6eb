// Stand-in for the maker's viewer program, used by the viewer tests.
#ifdef _WIN32
#include <windows.h>

namespace {

LRESULT CALLBACK ViewerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int main() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ViewerWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"KivFakeViewer";
    if (!RegisterClassW(&windowClass)) return 1;
    // One visible top-level window without owner; WM_CLOSE destroys it and ends the program.
    HWND window = CreateWindowExW(0, L"KivFakeViewer", L"Fake viewer", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 320, 240, nullptr, nullptr, instance, nullptr);
    if (!window) return 2;
    ShowWindow(window, SW_SHOWNORMAL);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
#else
#include <unistd.h>

// Runs until a signal ends it (SIGTERM is the viewer's "close").
int main() {
    for (;;) pause();
}
#endif
