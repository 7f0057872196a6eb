#include "wine/camera/ServiceRegistration.h"

#include <windows.h>

namespace kivtest {
namespace {

const wchar_t kNodeKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\NodeInterfaces\\{5A215226-3289-4156-894A-5C557CDF9664}";

#ifdef KIVSVC_EXE_PATH
// The server's path as Wine sees it (drive Z: is the Unix root).
std::wstring ServerPath() {
    std::wstring path = L"Z:";
    for (const char* p = KIVSVC_EXE_PATH; *p; ++p) path += (*p == '/') ? L'\\' : static_cast<wchar_t>(*p);
    return path;
}

// Runs the server with one switch; its exit code, or -1.
long RunServer(const wchar_t* option) {
    std::wstring command = L"\"" + ServerPath() + L"\" " + option;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(code);
}
#endif

}  // namespace

#ifdef KIVSVC_EXE_PATH
bool ServiceRegistration::Available() { return true; }
ServiceRegistration::ServiceRegistration() { registered_ = RunServer(L"/RegServer") == 0; }
ServiceRegistration::~ServiceRegistration() { RunServer(L"/UnregServer"); }
#else
bool ServiceRegistration::Available() { return false; }
ServiceRegistration::ServiceRegistration() = default;
ServiceRegistration::~ServiceRegistration() = default;
#endif

bool NodeKeyExists() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNodeKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

unsigned NodeKeyValueCount() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNodeKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    DWORD values = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return values;
}

void DeleteNodeKey() { RegDeleteKeyW(HKEY_LOCAL_MACHINE, kNodeKey); }

void CreateNodeKey() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kNodeKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS)
        RegCloseKey(key);
}

}  // namespace kivtest
