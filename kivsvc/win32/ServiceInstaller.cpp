#include "kivsvc/win32/ServiceInstaller.h"

#include <windows.h>

#include "kivsvc/core/Identities.h"
#include "kivsvc/win32/Text.h"

namespace kiv::svc {
namespace {

class ServiceHandle {
public:
    explicit ServiceHandle(SC_HANDLE h) : h_(h) {}
    ~ServiceHandle() {
        if (h_) CloseServiceHandle(h_);
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    SC_HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

private:
    SC_HANDLE h_;
};

ServiceHandle OpenManager() { return ServiceHandle(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)); }

// Waits a little for a stop request to take effect, so that the deletion
// that follows is not left pending behind a running process.
void WaitUntilStopped(SC_HANDLE service) {
    for (int i = 0; i < 100; ++i) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED) return;
        Sleep(100);
    }
}

}  // namespace

bool IsServiceInstalled(const std::wstring& name) {
    ServiceHandle manager = OpenManager();
    if (!manager) return false;
    ServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG));
    return static_cast<bool>(service);
}

bool InstallAndStartService(const std::wstring& name, const std::wstring& commandLine) {
    if (IsServiceInstalled(name)) return true;
    ServiceHandle manager = OpenManager();
    if (!manager) return false;
    // Dependencies: a list of names, each ended by a zero, the list by another.
    std::wstring dependencies = Widen(kServiceDependencies);
    dependencies.push_back(L'\0');
    dependencies.push_back(L'\0');
    ServiceHandle service(CreateServiceW(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                         commandLine.c_str(), nullptr, nullptr, dependencies.c_str(), nullptr,
                                         nullptr));
    if (!service) return false;
    return StartServiceW(service.get(), 0, nullptr) != FALSE;
}

bool UninstallService(const std::wstring& name) {
    if (!IsServiceInstalled(name)) return true;
    ServiceHandle manager = OpenManager();
    if (!manager) return false;
    ServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) return false;
    SERVICE_STATUS status{};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) WaitUntilStopped(service.get());
    return DeleteService(service.get()) != FALSE;
}

}  // namespace kiv::svc
