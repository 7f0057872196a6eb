// Seam to the node-interface registration service (kivsvc). A client is
// short-lived: made for one call and destroyed right after it, as the
// service's own client protocol asks (COM initialised for the call, the
// instance released, COM uninitialised).
//
// Backends: Windows, the COM client of "KIVSVC.KIVSVCAccess.1"; Linux, none
// (uvcvideo gives extension units to the source directly, there is no key to
// delete): every client holds no instance. Tests install a counting fake.
//
// A missing or unregistered service is never an error: the client simply
// holds no instance and the calls do nothing.
#pragma once

#include <functional>
#include <memory>

namespace kiv {

class IKIVSVCClient {
public:
    virtual ~IKIVSVCClient() = default;
    // An instance of the service's object was created; the calls below reach
    // it only then.
    virtual bool HasInstance() const = 0;
    // Has the service delete the node-interface key. The result is not
    // examined by any caller.
    virtual void RegistryDeleteNodeInterfacesKey() = 0;
    // Has the service re-create the key for the maker's viewer program.
    virtual void CreateNodeInterfacesKeyForKIVVIEW() = 0;
};

using ServiceClientFactory = std::function<std::unique_ptr<IKIVSVCClient>()>;

// A new client from the installed factory, or from the platform's default
// (Windows: the COM client; Linux: a client without an instance). Never
// null. Called on the dialog's thread.
std::unique_ptr<IKIVSVCClient> MakeServiceClient();
// Installs a factory (tests); an empty function restores the default.
void SetServiceClientFactory(ServiceClientFactory factory);

}  // namespace kiv
