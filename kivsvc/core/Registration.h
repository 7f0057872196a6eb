// Registration and unregistration of the server, and the start-up decision
// between service and plain local server.
#pragma once

#include <string>

#include "kivsvc/core/Registry.h"

namespace kiv::svc {

// What registration needs of the system besides the registry.
class IRegistrationHost {
public:
    virtual ~IRegistrationHost() = default;
    virtual long InitializeCom() = 0;  // HRESULT of CoInitialize
    virtual void UninitializeCom() = 0;
    // Stops and deletes an installed service of this name; true when none is left.
    virtual bool UninstallService() = 0;
    // Installs the service (auto start, LocalSystem, dependency RPCSS) and starts it;
    // true only if both succeeded. Succeeds at once when it is installed already.
    virtual bool InstallService() = 0;
    virtual long RegisterTypeLibrary() = 0;  // HRESULT
    virtual long UnregisterTypeLibrary() = 0;
    // The executable's full path as the registry should hold it.
    virtual std::string ModulePath() = 0;
};

// "RegServer" (serviceMode false) or "Service" (true). Returns the failure of
// CoInitialize, the Win32 error of opening the AppID key, or the result of the
// class and type-library registration. A failing service installation does
// not stop the class registration.
long RegisterServer(IRegistry& registry, IRegistrationHost& host, bool serviceMode);

// "UnregServer": removes scripts 100 and 101, the service and the type
// library. Returns S_OK, or the failure of CoInitialize.
long UnregisterServer(IRegistry& registry, IRegistrationHost& host);

// Start-up without a switch: opens the AppID key and reads "LocalService".
// Returns the Win32 error when the key cannot be opened; otherwise 0 with
// serviceMode := the value could be read.
long ReadServiceMode(IRegistry& registry, bool& serviceMode);

// A path as a command line must hold it: quoted when it contains a blank.
std::string QuotePathIfNeeded(const std::string& path);

}  // namespace kiv::svc
