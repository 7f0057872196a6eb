// Client side of the Wine integration tests of kivsvc.exe. Each command
// checks one situation, prints one line per failed expectation and exits
// with 0 when all held, 1 otherwise.
//
//   registered PATH plain|service   the registry after /RegServer or -Service
//   unregistered                    the registry after /UnregServer
//   calls plain|service|autostart   the two methods through the interface and IDispatch
//   service-running PATH            the service's configuration and state
//   service-stop                    stops the service, checks the reported states
//   no-service                      the service is not installed
//   service-control CODE...         sends control codes the service ignores or rejects
//   hold SECONDS                    starts the Service Control Manager and waits
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kivsvc_idl.h"

namespace {

int g_failures = 0;

void Expect(bool ok, const char* what) {
    if (!ok) {
        std::printf("  not ok: %s\n", what);
        ++g_failures;
    }
}

template <class... Args>
void ExpectF(bool ok, const char* format, Args... args) {
    if (!ok) {
        std::printf("  not ok: ");
        std::printf(format, args...);
        std::printf("\n");
        ++g_failures;
    }
}

const wchar_t kClsidText[] = L"{6E51B66C-6160-439F-B14A-73B5AD727CB4}";
const wchar_t kAppIdText[] = L"{545D53AD-737A-4A2F-8133-7458E2E4FCDC}";
const wchar_t kIidText[] = L"{23A5366E-1BA8-4BC2-9618-3DC243960039}";
const wchar_t kLibIdText[] = L"{479C96F9-FF99-4D80-9EC9-BF89F437E60B}";
const char kNodeKey[] = "SYSTEM\\CurrentControlSet\\Control\\NodeInterfaces\\{5A215226-3289-4156-894A-5C557CDF9664}";

class Key {
public:
    Key(HKEY root, const std::wstring& path) {
        if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &h_) != ERROR_SUCCESS) h_ = nullptr;
    }
    ~Key() {
        if (h_) RegCloseKey(h_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    bool exists() const { return h_ != nullptr; }
    // The string value, or "<absent>".
    std::wstring Text(const wchar_t* name) const {
        if (!h_) return L"<absent>";
        wchar_t buffer[1024] = {};
        DWORD type = 0;
        DWORD bytes = sizeof(buffer) - sizeof(wchar_t);
        if (RegQueryValueExW(h_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) != ERROR_SUCCESS ||
            type != REG_SZ)
            return L"<absent>";
        return buffer;
    }
    DWORD ValueCount() const {
        DWORD values = 0;
        if (h_)
            RegQueryInfoKeyW(h_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr);
        return values;
    }

private:
    HKEY h_ = nullptr;
};

std::string N(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s.push_back(c < 128 ? static_cast<char>(c) : '?');
    return s;
}

void ExpectText(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& expected) {
    const std::wstring got = Key(root, path).Text(name);
    ExpectF(got == expected, "%s [%s] = \"%s\", expected \"%s\"", N(path).c_str(), name ? N(name).c_str() : "",
            N(got).c_str(), N(expected).c_str());
}

void ExpectKey(HKEY root, const std::wstring& path, bool present) {
    ExpectF(Key(root, path).exists() == present, "%s %s", N(path).c_str(), present ? "missing" : "still present");
}

int CountProcesses(const wchar_t* exeName) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, exeName) == 0) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

// ---------------------------------------------------------------- registry

int Registered(const std::wstring& exePath, bool serviceMode) {
    const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsidText;
    const std::wstring appIdKey = std::wstring(L"AppID\\") + kAppIdText;
    ExpectText(HKEY_CLASSES_ROOT, appIdKey, nullptr, L"KIVSVC");
    ExpectText(HKEY_CLASSES_ROOT, L"AppID\\KIVSVC.EXE", L"AppID", kAppIdText);
    if (serviceMode) {
        ExpectText(HKEY_CLASSES_ROOT, appIdKey, L"LocalService", L"KIVSVC");
        ExpectText(HKEY_CLASSES_ROOT, appIdKey, L"ServiceParameters", L"-Service");
    } else {
        ExpectText(HKEY_CLASSES_ROOT, appIdKey, L"LocalService", L"<absent>");
    }
    ExpectText(HKEY_CLASSES_ROOT, L"KIVSVC.KIVSVCAccess.1", nullptr, L"KIVSVCAccess Class");
    ExpectText(HKEY_CLASSES_ROOT, L"KIVSVC.KIVSVCAccess.1\\CLSID", nullptr, kClsidText);
    ExpectText(HKEY_CLASSES_ROOT, L"KIVSVC.KIVSVCAccess", nullptr, L"KIVSVCAccess Class");
    ExpectText(HKEY_CLASSES_ROOT, L"KIVSVC.KIVSVCAccess\\CLSID", nullptr, kClsidText);
    ExpectText(HKEY_CLASSES_ROOT, L"KIVSVC.KIVSVCAccess\\CurVer", nullptr, L"KIVSVC.KIVSVCAccess.1");
    ExpectText(HKEY_CLASSES_ROOT, clsidKey, nullptr, L"KIVSVCAccess Class");
    ExpectText(HKEY_CLASSES_ROOT, clsidKey, L"AppID", kAppIdText);
    ExpectText(HKEY_CLASSES_ROOT, clsidKey + L"\\ProgID", nullptr, L"KIVSVC.KIVSVCAccess.1");
    ExpectText(HKEY_CLASSES_ROOT, clsidKey + L"\\VersionIndependentProgID", nullptr, L"KIVSVC.KIVSVCAccess");
    ExpectText(HKEY_CLASSES_ROOT, clsidKey + L"\\LocalServer32", nullptr, exePath);
    ExpectText(HKEY_CLASSES_ROOT, clsidKey + L"\\TypeLib", nullptr, kLibIdText);
    ExpectKey(HKEY_CLASSES_ROOT, clsidKey + L"\\Programmable", true);

    // The type library: registered as 1.0, found by LIBID, describing the interface.
    ITypeLib* library = nullptr;
    HRESULT hr = LoadRegTypeLib(LIBID_KIVSVCLib, 1, 0, 0x0409, &library);
    ExpectF(SUCCEEDED(hr), "LoadRegTypeLib: 0x%08lx", static_cast<unsigned long>(hr));
    if (library) {
        TLIBATTR* attr = nullptr;
        if (SUCCEEDED(library->GetLibAttr(&attr))) {
            ExpectF(attr->lcid == 0x0409 && attr->wMajorVerNum == 1 && attr->wMinorVerNum == 0,
                    "library lcid 0x%lx version %u.%u", static_cast<unsigned long>(attr->lcid), attr->wMajorVerNum,
                    attr->wMinorVerNum);
            library->ReleaseTLibAttr(attr);
        }
        BSTR name = nullptr;
        if (SUCCEEDED(library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr))) {
            Expect(name && wcscmp(name, L"KIVSVCLib") == 0, "library name KIVSVCLib");
            SysFreeString(name);
        }
        ITypeInfo* info = nullptr;
        Expect(SUCCEEDED(library->GetTypeInfoOfGuid(IID_IKIVSVCAccess, &info)), "interface in the type library");
        if (info) info->Release();
        library->Release();
    }
    ExpectKey(HKEY_CLASSES_ROOT, std::wstring(L"Interface\\") + kIidText, true);
    return g_failures ? 1 : 0;
}

int Unregistered() {
    const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsidText;
    ExpectKey(HKEY_CLASSES_ROOT, std::wstring(L"AppID\\") + kAppIdText, false);
    ExpectKey(HKEY_CLASSES_ROOT, L"AppID\\KIVSVC.EXE", false);
    ExpectKey(HKEY_CLASSES_ROOT, L"KIVSVC.KIVSVCAccess.1", false);
    ExpectKey(HKEY_CLASSES_ROOT, L"KIVSVC.KIVSVCAccess", false);
    ExpectKey(HKEY_CLASSES_ROOT, clsidKey, false);
    ExpectKey(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + kLibIdText, false);
    ExpectKey(HKEY_CLASSES_ROOT, std::wstring(L"Interface\\") + kIidText, false);
    ExpectKey(HKEY_CLASSES_ROOT, L"AppID", true);
    ExpectKey(HKEY_CLASSES_ROOT, L"CLSID", true);
    CLSID clsid;
    Expect(FAILED(CLSIDFromProgID(L"KIVSVC.KIVSVCAccess.1", &clsid)), "ProgID still resolves");
    return g_failures ? 1 : 0;
}

// ---------------------------------------------------------------- calls

// The node-interface key must hold exactly the three values, byte for byte.
void ExpectNodeKeyValues() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNodeKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        Expect(false, "node-interface key missing");
        return;
    }
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    ExpectF(values == 3, "node-interface key has %lu values", static_cast<unsigned long>(values));

    BYTE data[128] = {};
    DWORD type = 0;
    DWORD size = sizeof(data);
    LONG r = RegQueryValueExA(key, nullptr, nullptr, &type, data, &size);
    ExpectF(r == ERROR_SUCCESS && type == REG_SZ && size == 37 &&
                std::memcmp(data, "USB Extension Unit Interface Handler", 37) == 0,
            "default value: r=%ld type=%lu size=%lu", r, static_cast<unsigned long>(type),
            static_cast<unsigned long>(size));

    const BYTE clsid[16] = {0xA0, 0x2D, 0x43, 0xA0, 0x87, 0xA8, 0xF8, 0x45,
                            0xB2, 0x8B, 0x66, 0x93, 0xC6, 0xB9, 0xE6, 0x19};
    const BYTE iid[16] = {0xC0, 0xB5, 0x92, 0x6E, 0x8A, 0x4D, 0x2A, 0x40,
                          0xB5, 0x6C, 0xD2, 0xD2, 0x92, 0xE0, 0x23, 0x3B};
    const struct {
        const char* name;
        const BYTE* bytes;
    } binaries[] = {{"CLSID", clsid}, {"IID", iid}};
    for (const auto& b : binaries) {
        size = sizeof(data);
        r = RegQueryValueExA(key, b.name, nullptr, &type, data, &size);
        ExpectF(r == ERROR_SUCCESS && type == REG_BINARY && size == 16 && std::memcmp(data, b.bytes, 16) == 0,
                "value %s: r=%ld type=%lu size=%lu", b.name, r, static_cast<unsigned long>(type),
                static_cast<unsigned long>(size));
    }
    RegCloseKey(key);
}

void ExpectCall(HRESULT hr, LONG ret, LONG expected, const char* what) {
    ExpectF(hr == S_OK && ret == expected, "%s: hr=0x%08lx retval=%ld, expected S_OK and %ld", what,
            static_cast<unsigned long>(hr), ret, expected);
}

// Calls a method by DISPID; returns the HRESULT and the VT_I4 result.
HRESULT InvokeById(IDispatch* dispatch, DISPID id, LONG& ret) {
    DISPPARAMS none{};
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = dispatch->Invoke(id, IID_NULL, 0x0409, DISPATCH_METHOD, &none, &result, nullptr, nullptr);
    ret = result.vt == VT_I4 ? result.lVal : -12345;
    VariantClear(&result);
    return hr;
}

void CallThroughInterface(IKIVSVCAccess* access) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kNodeKey);  // start without the key
    LONG ret = -1;
    HRESULT hr = access->RegistryDeleteNodeInterfacesKey(&ret);
    ExpectCall(hr, ret, ERROR_FILE_NOT_FOUND, "delete of a missing key");
    for (int i = 0; i < 2; ++i) {
        ret = -1;
        hr = access->CreateNodeInterfacesKeyForKIVVIEW(&ret);
        ExpectCall(hr, ret, 0, "create");
        ExpectNodeKeyValues();
    }
    ret = -1;
    hr = access->RegistryDeleteNodeInterfacesKey(&ret);
    ExpectCall(hr, ret, 0, "delete of the key");
    HKEY key = nullptr;
    Expect(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNodeKey, 0, KEY_READ, &key) == ERROR_FILE_NOT_FOUND,
           "key gone after delete");
    if (key) RegCloseKey(key);
}

void CallThroughDispatch(IKIVSVCAccess* access) {
    IDispatch* dispatch = nullptr;
    if (FAILED(access->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
        Expect(false, "QueryInterface(IDispatch)");
        return;
    }
    UINT count = 0;
    Expect(SUCCEEDED(dispatch->GetTypeInfoCount(&count)) && count == 1, "GetTypeInfoCount = 1");
    const wchar_t* names[] = {L"RegistryDeleteNodeInterfacesKey", L"CreateNodeInterfacesKeyForKIVVIEW"};
    DISPID ids[2] = {-1, -1};
    for (int i = 0; i < 2; ++i) {
        LPOLESTR name = const_cast<LPOLESTR>(names[i]);
        const HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0x0409, &ids[i]);
        ExpectF(hr == S_OK && ids[i] == i + 1, "GetIDsOfNames(%s) = %ld", N(names[i]).c_str(), ids[i]);
    }
    // Each call is made before its result is read.
    const struct {
        DISPID id;
        LONG expected;
        const char* what;
    } steps[] = {
        {2, 0, "Invoke(2) create"},
        {1, 0, "Invoke(1) delete"},
        {1, ERROR_FILE_NOT_FOUND, "Invoke(1) delete of a missing key"},
        {2, 0, "Invoke(2) create again"},
    };
    for (const auto& step : steps) {
        LONG ret = -1;
        const HRESULT hr = InvokeById(dispatch, step.id, ret);
        ExpectCall(hr, ret, step.expected, step.what);
        if (step.id == 2) ExpectNodeKeyValues();
    }
    dispatch->Release();
}

DWORD ServiceProcessId() {
    DWORD pid = 0;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, L"KIVSVC", SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (service &&
        QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                             &needed) &&
        status.dwCurrentState == SERVICE_RUNNING)
        pid = status.dwProcessId;
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return pid;
}

// plain: a local server that COM starts; service: the running service;
// autostart: the stopped service, which COM starts through the AppID.
int Calls(const std::wstring& mode) {
    const bool serviceMode = mode != L"plain";
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
        Expect(false, "CoInitializeEx");
        return 1;
    }
    DWORD servicePid = serviceMode ? ServiceProcessId() : 0;
    if (mode == L"service") Expect(servicePid != 0, "service running before the calls");
    if (mode == L"autostart") Expect(servicePid == 0, "service stopped before the calls");

    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(L"KIVSVC.KIVSVCAccess.1", &clsid);
    Expect(hr == S_OK && IsEqualCLSID(clsid, CLSID_KIVSVCAccess), "ProgID resolves to the class");
    IKIVSVCAccess* access = nullptr;
    hr = CoCreateInstance(clsid, nullptr,
                          CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                          IID_IKIVSVCAccess, reinterpret_cast<void**>(&access));
    ExpectF(hr == S_OK && access, "CoCreateInstance: 0x%08lx", static_cast<unsigned long>(hr));
    if (access) {
        CallThroughInterface(access);
        CallThroughDispatch(access);
        access->Release();
    }
    CoUninitialize();

    if (mode == L"autostart") {
        servicePid = ServiceProcessId();
        Expect(servicePid != 0, "service started by COM");
    }
    if (serviceMode) {
        // The calls were served by the running service, which keeps running.
        Sleep(500);
        ExpectF(ServiceProcessId() == servicePid, "service process changed: %lu -> %lu",
                static_cast<unsigned long>(servicePid), static_cast<unsigned long>(ServiceProcessId()));
        const int running = CountProcesses(L"kivsvc.exe");
        ExpectF(running == 1, "%d kivsvc.exe processes", running);
    } else {
        // The local server ends after its last object is released.
        int left = -1;
        for (int i = 0; i < 100 && left != 0; ++i) {
            left = CountProcesses(L"kivsvc.exe");
            if (left != 0) Sleep(100);
        }
        ExpectF(left == 0, "%d kivsvc.exe processes still running after release", left);
    }
    return g_failures ? 1 : 0;
}

// ---------------------------------------------------------------- service

int ServiceRunning(const std::wstring& exePath) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, L"KIVSVC", SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS)
                                : nullptr;
    if (!service) {
        Expect(false, "service KIVSVC installed");
        if (manager) CloseServiceHandle(manager);
        return 1;
    }
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (QueryServiceConfigW(service, config, static_cast<DWORD>(buffer.size()), &needed)) {
        Expect(config->dwServiceType == SERVICE_WIN32_OWN_PROCESS, "own-process service");
        Expect(config->dwStartType == SERVICE_AUTO_START, "automatic start");
        Expect(config->dwErrorControl == SERVICE_ERROR_NORMAL, "normal error control");
        ExpectF(exePath == config->lpBinaryPathName, "binary path \"%s\"", N(config->lpBinaryPathName).c_str());
        // The dependency list as the Service Control Manager keeps it (Wine's
        // QueryServiceConfig does not report it).
        wchar_t deps[64] = {};
        DWORD type = 0;
        DWORD bytes = sizeof(deps) - 2 * sizeof(wchar_t);
        HKEY key = nullptr;
        LONG r = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\KIVSVC", 0, KEY_READ, &key);
        if (r == ERROR_SUCCESS) {
            r = RegQueryValueExW(key, L"DependOnService", nullptr, &type, reinterpret_cast<BYTE*>(deps), &bytes);
            RegCloseKey(key);
        }
        ExpectF(r == ERROR_SUCCESS && type == REG_MULTI_SZ && _wcsicmp(deps, L"RPCSS") == 0 && deps[6] == L'\0',
                "dependencies \"%s\" (r=%ld), expected RPCSS only", N(deps).c_str(), r);
        Expect(config->lpServiceStartName && _wcsicmp(config->lpServiceStartName, L"LocalSystem") == 0,
               "LocalSystem account");
        Expect(config->lpDisplayName && wcscmp(config->lpDisplayName, L"KIVSVC") == 0, "display name KIVSVC");
    } else {
        Expect(false, "QueryServiceConfig");
    }
    SERVICE_STATUS status{};
    // The service was started by the registration; give it a moment to come up.
    for (int i = 0; i < 100; ++i) {
        if (!QueryServiceStatus(service, &status) || status.dwCurrentState != SERVICE_START_PENDING) break;
        Sleep(100);
    }
    ExpectF(status.dwCurrentState == SERVICE_RUNNING, "state %lu, expected running",
            static_cast<unsigned long>(status.dwCurrentState));
    Expect(status.dwControlsAccepted == SERVICE_ACCEPT_STOP, "accepts stop only");
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return g_failures ? 1 : 0;
}

const char* StateName(DWORD s) {
    switch (s) {
        case SERVICE_STOPPED: return "stopped";
        case SERVICE_START_PENDING: return "start-pending";
        case SERVICE_STOP_PENDING: return "stop-pending";
        case SERVICE_RUNNING: return "running";
        default: return "other";
    }
}

int ServiceStop() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, L"KIVSVC", SERVICE_STOP | SERVICE_QUERY_STATUS) : nullptr;
    if (!service) {
        Expect(false, "service KIVSVC installed");
        if (manager) CloseServiceHandle(manager);
        return 1;
    }
    std::vector<DWORD> states;
    SERVICE_STATUS status{};
    QueryServiceStatus(service, &status);
    states.push_back(status.dwCurrentState);
    const BOOL sent = ControlService(service, SERVICE_CONTROL_STOP, &status);
    Expect(sent != FALSE, "ControlService(STOP)");
    if (sent) states.push_back(status.dwCurrentState);
    for (int i = 0; i < 2000 && states.back() != SERVICE_STOPPED; ++i) {
        if (!QueryServiceStatus(service, &status)) break;
        if (status.dwCurrentState != states.back()) states.push_back(status.dwCurrentState);
        Sleep(5);
    }
    std::printf("  states:");
    for (DWORD s : states) std::printf(" %s", StateName(s));
    std::printf("\n");
    // running, then (stop-pending when it was seen), then stopped; nothing else.
    std::vector<DWORD> allowed = {SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_STOPPED};
    size_t at = 0;
    bool ordered = true;
    for (DWORD s : states) {
        while (at < allowed.size() && allowed[at] != s) ++at;
        if (at == allowed.size()) ordered = false;
    }
    Expect(states.front() == SERVICE_RUNNING, "running before the stop");
    Expect(ordered, "states in the order running, stop-pending, stopped");
    Expect(states.back() == SERVICE_STOPPED, "stopped in the end");
    Expect(status.dwWin32ExitCode == 0, "exit code 0");
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return g_failures ? 1 : 0;
}

// Sends control codes the service does not act on; it must keep running.
int ServiceControl(const std::vector<DWORD>& codes) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager
                            ? OpenServiceW(manager, L"KIVSVC",
                                           SERVICE_QUERY_STATUS | SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL)
                            : nullptr;
    if (!service) {
        Expect(false, "service KIVSVC installed");
        if (manager) CloseServiceHandle(manager);
        return 1;
    }
    for (DWORD code : codes) {
        SERVICE_STATUS status{};
        const BOOL sent = ControlService(service, code, &status);
        ExpectF(sent != FALSE, "ControlService(%lu): error %lu", static_cast<unsigned long>(code),
                static_cast<unsigned long>(GetLastError()));
    }
    SERVICE_STATUS status{};
    Expect(QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING, "still running");
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return g_failures ? 1 : 0;
}

// Opens the Service Control Manager (which starts it with this process's
// environment and standard error) and keeps the Wine session alive.
int Hold(int seconds) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    Expect(manager != nullptr, "OpenSCManager");
    if (manager) CloseServiceHandle(manager);
    std::printf("holding\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    return g_failures ? 1 : 0;
}

int NoService() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, L"KIVSVC", SERVICE_QUERY_STATUS) : nullptr;
    const DWORD error = GetLastError();
    ExpectF(service == nullptr && error == ERROR_SERVICE_DOES_NOT_EXIST, "service still installed (error %lu)",
            static_cast<unsigned long>(error));
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return g_failures ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    const std::wstring arg2 = argc > 2 ? argv[2] : L"";
    const std::wstring arg3 = argc > 3 ? argv[3] : L"";
    int rc = 2;
    if (command == L"registered") rc = Registered(arg2, arg3 == L"service");
    else if (command == L"unregistered") rc = Unregistered();
    else if (command == L"calls") rc = Calls(arg2);
    else if (command == L"service-running") rc = ServiceRunning(arg2);
    else if (command == L"service-stop") rc = ServiceStop();
    else if (command == L"no-service") rc = NoService();
    else if (command == L"hold") rc = Hold(_wtoi(arg2.c_str()));
    else if (command == L"service-control") {
        std::vector<DWORD> codes;
        for (int i = 2; i < argc; ++i) codes.push_back(static_cast<DWORD>(_wtoi(argv[i])));
        rc = ServiceControl(codes);
    } else std::printf("unknown command\n");
    std::fflush(stdout);
    return rc;
}
