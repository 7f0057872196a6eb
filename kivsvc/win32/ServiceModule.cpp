#include "kivsvc/win32/ServiceModule.h"

#include <objbase.h>
#include <oleauto.h>

#include <memory>
#include <vector>

#include "kivsvc/core/CommandLine.h"
#include "kivsvc/core/Identities.h"
#include "kivsvc_idl.h"
#include "kivsvc/win32/AccessObject.h"
#include "kivsvc/win32/EventLog.h"
#include "kivsvc/win32/ServiceInstaller.h"
#include "kivsvc/win32/Text.h"
#include "kivds/platform/win32/HandleGuard.h"

namespace kiv::svc {
namespace {

constexpr UINT kServiceNameString = 100;
constexpr int kMaxServiceName = 256;

// A token information block of the given class, or empty.
std::vector<BYTE> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> data(size);
    if (size == 0 || !GetTokenInformation(token, kind, data.data(), size, &size)) data.clear();
    return data;
}

// COM security of the server: a descriptor whose owner and group are those of
// the thread's token (or the process's when the thread has none) and whose
// DACL is null, so calls from every account are accepted.
void InitializeComSecurity() {
    HANDLE raw = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &raw) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        return;
    }
    HandleGuard token(raw);
    std::vector<BYTE> owner = TokenInformation(token.Get(), TokenOwner);
    std::vector<BYTE> group = TokenInformation(token.Get(), TokenPrimaryGroup);
    SECURITY_DESCRIPTOR sd;
    if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION)) return;
    if (!owner.empty()) SetSecurityDescriptorOwner(&sd, reinterpret_cast<TOKEN_OWNER*>(owner.data())->Owner, FALSE);
    if (!group.empty())
        SetSecurityDescriptorGroup(&sd, reinterpret_cast<TOKEN_PRIMARY_GROUP*>(group.data())->PrimaryGroup, FALSE);
    SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
    CoInitializeSecurity(&sd, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                         EOAC_NONE, nullptr);
}

std::wstring ExecutablePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

// TypeLib\{LIBID}\1.0\0\win32 or win64: the library's entry for the neutral locale.
std::string NeutralTypeLibKey() {
    return std::string("TypeLib\\") + kLibId + "\\1.0\\0\\" + (sizeof(void*) == 8 ? "win64" : "win32");
}

std::wstring LoadServiceName() {
    wchar_t buffer[kMaxServiceName] = {};
    if (LoadStringW(GetModuleHandleW(nullptr), kServiceNameString, buffer, kMaxServiceName) > 0) return buffer;
    return Widen(kServiceName);
}

}  // namespace

CServiceModule& Module() {
    static CServiceModule module;
    return module;
}

CServiceModule::CServiceModule()
    : serviceName_(LoadServiceName()),
      modulePath_(ExecutablePath()),
      core_(*this, marker_),
      access_(registry_, marker_) {}

int CServiceModule::Main(const std::wstring& commandLine) {
    const std::string line = Narrow(commandLine);
    switch (ScanCommandLine(line)) {
        case CommandSwitch::UnregServer: return static_cast<int>(UnregisterServer(registry_, *this));
        case CommandSwitch::RegServer:
            lifetime_.SetServiceMode(false);
            return static_cast<int>(RegisterServer(registry_, *this, false));
        case CommandSwitch::Service:
            lifetime_.SetServiceMode(true);
            return static_cast<int>(RegisterServer(registry_, *this, true));
        case CommandSwitch::None: break;
    }
    embedding_ = HasEmbeddingSwitch(line);
    return Start();
}

int CServiceModule::Start() {
    lifetime_.SetServiceMode(true);
    bool serviceMode = false;
    const long opened = ReadServiceMode(registry_, serviceMode);
    if (opened != ERROR_SUCCESS) return static_cast<int>(opened);
    lifetime_.SetServiceMode(serviceMode);
    if (serviceMode) {
        SERVICE_TABLE_ENTRYW table[] = {{serviceName_.data(), &CServiceModule::ServiceMainEntry}, {nullptr, nullptr}};
        // Fails when the program was not started by the Service Control Manager:
        // it then serves as a plain local server.
        if (!StartServiceCtrlDispatcherW(table)) lifetime_.SetServiceMode(false);
    }
    if (!lifetime_.ServiceMode()) RunServer();
    return static_cast<int>(core_.Status().win32ExitCode);
}

void WINAPI CServiceModule::ServiceMainEntry(DWORD, LPWSTR*) { Module().core_.ServiceMain(); }

void WINAPI CServiceModule::HandlerEntry(DWORD control) { Module().core_.HandleControl(control); }

bool CServiceModule::RegisterControlHandler() {
    statusHandle_ = RegisterServiceCtrlHandlerW(serviceName_.c_str(), &CServiceModule::HandlerEntry);
    return statusHandle_ != nullptr;
}

void CServiceModule::ReportStatus(const ServiceStatus& status) {
    if (!statusHandle_) return;
    SERVICE_STATUS s{};
    s.dwServiceType = status.serviceType;
    s.dwCurrentState = static_cast<DWORD>(status.currentState);
    s.dwControlsAccepted = status.controlsAccepted;
    s.dwWin32ExitCode = status.win32ExitCode;
    s.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    s.dwCheckPoint = status.checkPoint;
    s.dwWaitHint = status.waitHint;
    SetServiceStatus(statusHandle_, &s);
}

void CServiceModule::RunServer() {
    const HRESULT init = CoInitialize(nullptr);
    // Make sure this thread has a message queue before others post to it.
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    threadId_.store(GetCurrentThreadId());

    InitializeComSecurity();
    DWORD cookie = 0;
    const HRESULT registered = CoRegisterClassObject(CLSID_KIVSVCAccess, AccessClassFactory(),
                                                     CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER, REGCLS_MULTIPLEUSE,
                                                     &cookie);
    if (lifetime_.ServiceMode()) core_.ReportRunning();
    if (SUCCEEDED(registered)) {
        marker_.Create();
        if (stopRequested_.load()) {
            // The stop request came before the loop thread was known.
            marker_.Destroy();
            PostQuitMessage(0);
        }
        const UINT_PTR idleTimer = (embedding_ && !lifetime_.ServiceMode())
                                       ? SetTimer(nullptr, 0, kIdleTimeoutMs, nullptr)
                                       : 0;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (idleTimer && msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == idleTimer) {
                if (lifetime_.IdleTick()) PostQuitMessage(0);
                continue;
            }
            DispatchMessageW(&msg);
        }
        if (idleTimer) KillTimer(nullptr, idleTimer);
        CoRevokeClassObject(cookie);
    }
    threadId_.store(0);
    typeInfo_.Reset();
    if (SUCCEEDED(init)) CoUninitialize();
}

void CServiceModule::PostQuit() {
    stopRequested_.store(true);
    const DWORD thread = threadId_.load();
    if (thread) PostThreadMessageW(thread, WM_QUIT, 0, 0);
}

void CServiceModule::Unlock() {
    if (lifetime_.Unlock()) {
        const DWORD thread = threadId_.load();
        if (thread) PostThreadMessageW(thread, WM_QUIT, 0, 0);
    }
}

void CServiceModule::Log(const std::string& message) {
    const std::string text = LimitLogMessage(message);
    if (lifetime_.ServiceMode()) {
        WriteEventLog(serviceName_, text);
    } else {
        WriteStandardOutput(text);
    }
}

ITypeInfo* CServiceModule::AccessTypeInfo() {
    if (!typeInfo_) {
        ComPtr<ITypeLib> library;
        if (SUCCEEDED(LoadTypeLibEx(modulePath_.c_str(), REGKIND_NONE, library.Put()))) {
            library->GetTypeInfoOfGuid(IID_IKIVSVCAccess, typeInfo_.Put());
        }
    }
    return typeInfo_.Get();
}

long CServiceModule::InitializeCom() { return CoInitialize(nullptr); }

void CServiceModule::UninitializeCom() { CoUninitialize(); }

bool CServiceModule::UninstallService() { return kiv::svc::UninstallService(serviceName_); }

bool CServiceModule::InstallService() {
    return InstallAndStartService(serviceName_, Widen(QuotePathIfNeeded(Narrow(modulePath_))));
}

long CServiceModule::RegisterTypeLibrary() {
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(modulePath_.c_str(), REGKIND_NONE, library.Put());
    if (FAILED(hr)) return hr;
    std::wstring path = modulePath_;
    hr = RegisterTypeLib(library.Get(), path.data(), nullptr);
    if (SUCCEEDED(hr)) {
        // Some typelib marshallers look the library up under the neutral locale
        // only; name the same file there so IKIVSVCAccess can be marshalled.
        std::unique_ptr<IRegistryKey> neutral;
        if (registry_.CreateKey(RegistryRoot::ClassesRoot, NeutralTypeLibKey(), neutral) == ERROR_SUCCESS) {
            neutral->SetString("", Narrow(modulePath_));
        }
    }
    return hr;
}

long CServiceModule::UnregisterTypeLibrary() {
    registry_.DeleteTree(RegistryRoot::ClassesRoot, NeutralTypeLibKey().substr(0, NeutralTypeLibKey().rfind('\\')));
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(modulePath_.c_str(), REGKIND_NONE, library.Put());
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = library->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    library->ReleaseTLibAttr(attr);
    return hr;
}

std::string CServiceModule::ModulePath() { return QuotePathIfNeeded(Narrow(modulePath_)); }

}  // namespace kiv::svc
