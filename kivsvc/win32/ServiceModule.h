// CServiceModule: the process of kivsvc.exe. It parses the command line,
// registers and unregisters the server, runs as a service under the Service
// Control Manager or as a plain local server, and owns what the COM object
// needs (registry, running marker, lock count, type information).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <string>

#include "kivsvc/core/ModuleLifetime.h"
#include "kivsvc/core/NodeInterfaceAccess.h"
#include "kivsvc/core/Registration.h"
#include "kivsvc/core/RunningMarker.h"
#include "kivsvc/core/ServiceCore.h"
#include "kivds/platform/win32/ComPtr.h"
#include "kivsvc/win32/Win32Registry.h"

namespace kiv::svc {

// How long a server started by COM ("-Embedding") waits for its first client.
inline constexpr UINT kIdleTimeoutMs = 20000;

class CServiceModule : public IServiceHost, public IRegistrationHost {
public:
    CServiceModule();

    // The program: returns its exit code.
    int Main(const std::wstring& commandLine);

    // Lock count of the COM objects and of IClassFactory::LockServer.
    void Lock() { lifetime_.Lock(); }
    void Unlock();
    long LockCount() const { return lifetime_.Count(); }

    NodeInterfaceAccess& Access() { return access_; }
    // Type information of IKIVSVCAccess from the embedded type library (loop thread only).
    ITypeInfo* AccessTypeInfo();

    // IServiceHost
    bool RegisterControlHandler() override;
    void ReportStatus(const ServiceStatus& status) override;
    void RunServer() override;
    void PostQuit() override;
    void Log(const std::string& message) override;

    // IRegistrationHost
    long InitializeCom() override;
    void UninitializeCom() override;
    bool UninstallService() override;
    bool InstallService() override;
    long RegisterTypeLibrary() override;
    long UnregisterTypeLibrary() override;
    std::string ModulePath() override;

private:
    int Start();
    static void WINAPI ServiceMainEntry(DWORD argc, LPWSTR* argv);
    static void WINAPI HandlerEntry(DWORD control);

    std::wstring serviceName_;
    std::wstring modulePath_;
    bool embedding_ = false;
    SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
    std::atomic<DWORD> threadId_{0};
    std::atomic<bool> stopRequested_{false};
    Win32Registry registry_;
    RunningMarker marker_;
    ModuleLifetime lifetime_;
    ServiceCore core_;
    NodeInterfaceAccess access_;
    ComPtr<ITypeInfo> typeInfo_;
};

// The one module of the process.
CServiceModule& Module();

}  // namespace kiv::svc
