#include "kivsvc/core/Registration.h"

#include "kivsvc/core/Codes.h"
#include "kivsvc/core/Identities.h"
#include "kivsvc/core/RegistryScript.h"

namespace kiv::svc {
namespace {

bool Failed(long hr) { return hr < 0; }

long HResultFromWin32(long error) {
    return error <= 0
               ? error
               : static_cast<long>(static_cast<HResult>(0x80070000u | (static_cast<unsigned long>(error) & 0xFFFFu)));
}

}  // namespace

long RegisterServer(IRegistry& registry, IRegistrationHost& host, bool serviceMode) {
    const long init = host.InitializeCom();
    if (Failed(init)) return init;

    host.UninstallService();
    const std::string module = host.ModulePath();
    ApplyScript(registry, AppIdScript(), module);

    std::unique_ptr<IRegistryKey> appIds;
    long opened = registry.OpenKey(RegistryRoot::ClassesRoot, kAppIdRoot, KeyAccess::Write, appIds);
    std::unique_ptr<IRegistryKey> appId;
    if (opened == kErrorSuccess)
        opened = registry.OpenKey(RegistryRoot::ClassesRoot, kAppIdKey, KeyAccess::Write, appId);
    if (opened != kErrorSuccess) {
        host.UninitializeCom();
        return opened;
    }
    appId->DeleteValue(kLocalServiceValue);
    if (serviceMode) {
        appId->SetString(kLocalServiceValue, kServiceName);
        appId->SetString(kServiceParametersValue, kServiceParameters);
        host.InstallService();
    }
    appId.reset();
    appIds.reset();

    const long written = ApplyScript(registry, ClassScript(), module);
    const long result = written != kErrorSuccess ? HResultFromWin32(written) : host.RegisterTypeLibrary();
    host.UninitializeCom();
    return result;
}

long UnregisterServer(IRegistry& registry, IRegistrationHost& host) {
    const long init = host.InitializeCom();
    if (Failed(init)) return init;
    RemoveScript(registry, AppIdScript());
    host.UninstallService();
    RemoveScript(registry, ClassScript());
    host.UnregisterTypeLibrary();
    host.UninitializeCom();
    return kSOk;
}

long ReadServiceMode(IRegistry& registry, bool& serviceMode) {
    serviceMode = false;
    std::unique_ptr<IRegistryKey> appIds;
    long opened = registry.OpenKey(RegistryRoot::ClassesRoot, kAppIdRoot, KeyAccess::Read, appIds);
    if (opened != kErrorSuccess) return opened;
    std::unique_ptr<IRegistryKey> appId;
    opened = registry.OpenKey(RegistryRoot::ClassesRoot, kAppIdKey, KeyAccess::Read, appId);
    if (opened != kErrorSuccess) return opened;
    std::string value;
    serviceMode = appId->QueryString(kLocalServiceValue, kLocalServiceBufferBytes, value) == kErrorSuccess;
    return kErrorSuccess;
}

std::string QuotePathIfNeeded(const std::string& path) {
    if (path.find(' ') == std::string::npos || (path.size() >= 2 && path.front() == '"')) return path;
    return "\"" + path + "\"";
}

}  // namespace kiv::svc
