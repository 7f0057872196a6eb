#include "kivsvc/core/NodeInterfaceKey.h"

#include <iterator>

#include "kivsvc/core/Codes.h"
#include "kivsvc/core/Identities.h"

namespace kiv::svc {

long DeleteNodeInterfacesKey(IRegistry& registry) {
    return registry.DeleteKey(RegistryRoot::LocalMachine, kNodeInterfaceKey);
}

long CreateNodeInterfacesKey(IRegistry& registry) {
    std::unique_ptr<IRegistryKey> key;
    const long created = registry.CreateKey(RegistryRoot::LocalMachine, kNodeInterfaceKey, key);
    if (created != kErrorSuccess) return created;
    if (!key) return kErrorInvalidFunction;
    key->SetString("", kNodeInterfaceHandlerName);
    key->SetBinary(kNodeInterfaceClsidValue,
                   std::vector<std::uint8_t>(std::begin(kNodeInterfaceClsid), std::end(kNodeInterfaceClsid)));
    return key->SetBinary(kNodeInterfaceIidValue,
                          std::vector<std::uint8_t>(std::begin(kNodeInterfaceIid), std::end(kNodeInterfaceIid)));
}

}  // namespace kiv::svc
