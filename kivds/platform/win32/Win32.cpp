// Win32 implementations of the OS seams.
#include <windows.h>

#include <vector>

#include "kivds/platform/Env.h"
#include "kivds/platform/GlobalMemory.h"
#include "kivds/platform/Library.h"
#include "kivds/platform/Log.h"
#include "kivds/platform/NativeMessageBox.h"
#include "kivds/platform/Paths.h"
#include "kivds/platform/Sleep.h"
#include "kivds/platform/ThreadApartment.h"
#include "kivds/platform/win32/Utf.h"

namespace kiv {
namespace {

class Win32Library final : public DynamicLibrary {
public:
    explicit Win32Library(HMODULE module) : module_(module) {}
    ~Win32Library() override { FreeLibrary(module_); }
    Win32Library(const Win32Library&) = delete;
    Win32Library& operator=(const Win32Library&) = delete;
    void* Symbol(const char* name) const override { return reinterpret_cast<void*>(GetProcAddress(module_, name)); }

private:
    HMODULE module_;
};

// The system's text for an error code, in English where the system has it,
// with the code itself.
std::string SystemErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                        reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text = (length && buffer) ? std::wstring(buffer, length) : std::wstring();
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    std::string result = text.empty() ? "error" : WideToUtf8(text);
    return result + " (" + std::to_string(static_cast<unsigned long>(code)) + ")";
}

}  // namespace

std::unique_ptr<DynamicLibrary> DynamicLibrary::Open(const std::string& path, std::string* error) {
    HMODULE module = LoadLibraryW(Utf8ToWide(path).c_str());
    if (!module) {
        if (error) *error = SystemErrorText(GetLastError());
        return nullptr;
    }
    return std::make_unique<Win32Library>(module);
}

void KeepLibraryLoaded() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&KeepLibraryLoaded), &self);
}

std::optional<std::string> GetEnv(const char* name) {
    std::wstring wideName = Utf8ToWide(name);
    DWORD needed = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (needed == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
    }
    std::vector<wchar_t> buffer(needed);
    DWORD got = GetEnvironmentVariableW(wideName.c_str(), buffer.data(), needed);
    if (got >= needed) return std::nullopt;
    return WideToUtf8(std::wstring(buffer.data(), got));
}

void SetEnv(const char* name, const char* value) {
    _putenv_s(name, value ? value : "");
    SetEnvironmentVariableW(Utf8ToWide(name).c_str(), value ? Utf8ToWide(value).c_str() : nullptr);
}

std::string WindowsDirectory() {
    wchar_t buffer[MAX_PATH];
    UINT length = GetWindowsDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return WideToUtf8(std::wstring(buffer, length));
}

std::string TempDirectory() {
    char buffer[256];
    DWORD length = GetTempPathA(sizeof buffer, buffer);
    if (length == 0 || length >= sizeof buffer) return {};
    return std::string(buffer, length);
}

char PathSeparator() { return '\\'; }

void SleepMilliseconds(unsigned ms) { Sleep(ms); }

std::uint64_t CurrentThreadId() { return GetCurrentThreadId(); }
std::uint64_t CurrentProcessId() { return GetCurrentProcessId(); }

void* GlobalMemAlloc(std::size_t size) { return GlobalAlloc(GPTR, size); }
void* GlobalMemLock(void* handle) { return handle ? GlobalLock(handle) : nullptr; }
bool GlobalMemUnlock(void* handle) { return GlobalUnlock(handle) != 0 || GetLastError() == NO_ERROR; }
void GlobalMemFree(void* handle) { GlobalFree(handle); }

bool ShowNativeMessageBox(const ShownMessage& message) {
    MessageBoxW(static_cast<HWND>(message.owner), Utf8ToWide(message.text).c_str(), Utf8ToWide(message.caption).c_str(),
                message.style);
    return true;
}

ThreadApartment::ThreadApartment() {
    // The multithreaded apartment: the threads that use this pump no window
    // messages, which an apartment-threaded object made on them would need.
    // S_FALSE (already in it) must be balanced too; a thread that is in a
    // single-threaded apartment already stays there.
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    entered_ = SUCCEEDED(hr);
}

ThreadApartment::~ThreadApartment() {
    if (entered_) CoUninitialize();
}

}  // namespace kiv
