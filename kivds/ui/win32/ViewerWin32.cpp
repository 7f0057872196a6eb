// The viewer program on Windows: a process snapshot for the name, the
// top-level window list for its window, PSAPI for its module path, WM_CLOSE to
// ask it to close and the shell's "open" verb to start it again.
#include <windows.h>
// After windows.h:
#include <psapi.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include "kivds/platform/win32/HandleGuard.h"
#include "kivds/platform/win32/Utf.h"
#include "kivds/ui/Viewer.h"

namespace kiv {
namespace {

constexpr DWORD kModulePathChars = 1024;
// Bounds the window walk should windows be created and destroyed so fast that
// the chain never ends.
constexpr int kMaxWindows = 100000;

class Win32ViewerPlatform final : public IViewerPlatform {
public:
    std::optional<std::vector<ProcessEntry>> SnapshotProcesses() override {
        HandleGuard snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot.Valid()) return std::nullopt;
        std::vector<ProcessEntry> processes;
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
            processes.push_back({entry.th32ProcessID, WideToUtf8(entry.szExeFile)});
        }
        return processes;
    }

    std::vector<TopLevelWindow> TopLevelWindows() override {
        std::vector<TopLevelWindow> windows;
        HWND window = GetTopWindow(nullptr);
        for (int count = 0; window && count < kMaxWindows; ++count, window = GetWindow(window, GW_HWNDNEXT)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            bool owned = GetWindowLongPtrW(window, GWLP_HWNDPARENT) != 0;
            windows.push_back({window, pid, owned, IsWindowVisible(window) != FALSE});
        }
        return windows;
    }

    std::optional<std::string> ModulePath(std::uint32_t pid) override {
        HandleGuard process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
        if (!process.Valid()) return std::nullopt;
        HMODULE module = nullptr;
        DWORD needed = 0;
        if (!EnumProcessModules(process.Get(), &module, sizeof module, &needed) || !module) return std::nullopt;
        wchar_t path[kModulePathChars];
        DWORD length = GetModuleFileNameExW(process.Get(), module, path, kModulePathChars);
        // A full buffer may hold a cut-off path, which must not be started later.
        if (length == 0 || length >= kModulePathChars - 1) return std::nullopt;
        return WideToUtf8(std::wstring(path, length));
    }

    bool AskToClose(WindowHandle window) override {
        return PostMessageW(static_cast<HWND>(window), WM_CLOSE, 0, 0) != FALSE;
    }

    bool Start(const std::string& path) override {
        HINSTANCE result = ShellExecuteW(nullptr, L"open", Utf8ToWide(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return reinterpret_cast<INT_PTR>(result) > 32;
    }

    PathStyle Style() const override { return PathStyle::Windows; }
};

}  // namespace

IViewerPlatform& OsViewerPlatform() {
    static Win32ViewerPlatform platform;
    return platform;
}

}  // namespace kiv
