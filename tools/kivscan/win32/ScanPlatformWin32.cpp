#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "kivds/platform/win32/Utf.h"
#include "tools/kivscan/ScanPlatform.h"

namespace kiv {
namespace scan {

namespace {}  // namespace

// The C runtime's descriptor 2 is redirected into a temporary file that is
// deleted when it is closed.
struct StderrCapture::State {
    int file = -1;
    int saved = -1;
};

StderrCapture::StderrCapture() : state_(std::make_unique<State>()) {
    std::fflush(stderr);
    wchar_t directory[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (!GetTempPathW(MAX_PATH, directory) || !GetTempFileNameW(directory, L"ksc", 0, name)) return;
    state_->file = _wopen(name, _O_RDWR | _O_BINARY | _O_TEMPORARY | _O_TRUNC, _S_IREAD | _S_IWRITE);
    if (state_->file < 0) return;
    state_->saved = _dup(2);
    if (state_->saved < 0 || _dup2(state_->file, 2) < 0) {
        if (state_->saved >= 0) _close(state_->saved);
        state_->saved = -1;
    }
}

StderrCapture::~StderrCapture() {
    if (state_) Finish();
}

std::string StderrCapture::Finish() {
    std::string text;
    if (state_->file < 0) return text;
    std::fflush(stderr);
    if (state_->saved >= 0) {
        _dup2(state_->saved, 2);
        _close(state_->saved);
        state_->saved = -1;
        _lseek(state_->file, 0, SEEK_SET);
        char buffer[4096];
        int n;
        while ((n = _read(state_->file, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    }
    _close(state_->file);
    state_->file = -1;
    return text;
}

void PumpEvents(unsigned ms, const std::function<bool(void*)>& offer) {
    const DWORD end = GetTickCount() + ms;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!offer(&msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        const DWORD now = GetTickCount();
        if (static_cast<LONG>(end - now) <= 0) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
    }
}

void* ManagerParentWindow() {
    // Windows source managers post their messages to the window they were
    // opened with; a console program has none of its own.
    static HWND window = CreateWindowExW(0, L"STATIC", L"kivscan", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                         GetModuleHandleW(nullptr), nullptr);
    return window;
}

std::string ExecutableDirectory() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::string full = WideToUtf8(std::wstring(path, length));
    return full.substr(0, full.find_last_of("\\/") + 1);
}

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

long long FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Utf8ToWide(path).c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

}  // namespace scan
}  // namespace kiv
