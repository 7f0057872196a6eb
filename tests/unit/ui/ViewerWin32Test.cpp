// The Windows backend of the viewer detection, against a real process: a
// stand-in program named kivview.exe with one visible top-level window.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <functional>
#include <thread>

#include "kivds/platform/win32/Utf.h"
#include "kivds/ui/Viewer.h"

namespace kiv {
namespace {

std::wstring FakeViewerPath() {
    wchar_t buffer[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring self(buffer, length);
    return self.substr(0, self.find_last_of(L"\\/") + 1) + L"kivview.exe";
}

bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 1000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool SamePath(const std::string& a, const std::wstring& b) {
    return CompareStringOrdinal(Utf8ToWide(a).c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

TEST(Win32Viewer, RunningViewerIsFoundClosesOnRequestAndStartsAgain) {
    IViewerPlatform& platform = OsViewerPlatform();
    std::wstring viewerPath = FakeViewerPath();
    ASSERT_NE(GetFileAttributesW(viewerPath.c_str()), INVALID_FILE_ATTRIBUTES);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + viewerPath + L"\"";
    ASSERT_TRUE(CreateProcessW(viewerPath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    CloseHandle(process.hThread);

    WindowHandle window = nullptr;
    std::string path;
    ASSERT_TRUE(WaitFor([&] { return FindRunningViewer(window, path); }));
    EXPECT_TRUE(SamePath(path, viewerPath)) << path;
    DWORD windowPid = 0;
    GetWindowThreadProcessId(static_cast<HWND>(window), &windowPid);
    EXPECT_EQ(windowPid, process.dwProcessId);

    ASSERT_TRUE(platform.AskToClose(window));
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    CloseHandle(process.hProcess);

    // Started again from the recorded path, it is found again.
    ASSERT_TRUE(platform.Start(path));
    WindowHandle again = nullptr;
    std::string againPath;
    ASSERT_TRUE(WaitFor([&] { return FindRunningViewer(again, againPath); }));
    EXPECT_EQ(againPath, path);
    ASSERT_TRUE(platform.AskToClose(again));
    EXPECT_TRUE(WaitFor([&] {
        WindowHandle w = nullptr;
        std::string p;
        return !FindRunningViewer(w, p);
    }));
}

TEST(Win32Viewer, ProcessThatCannotBeOpenedHasNoModulePath) {
    EXPECT_FALSE(OsViewerPlatform().ModulePath(0xFFFFFFF0u).has_value());
}

}  // namespace
}  // namespace kiv
