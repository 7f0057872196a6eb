#include "kivsvc/core/NodeInterfaceAccess.h"

#include "kivsvc/core/NodeInterfaceKey.h"

namespace kiv::svc {

HResult NodeInterfaceAccess::RegistryDeleteNodeInterfacesKey(std::int32_t* retVal) {
    if (!retVal) return kEPointer;
    if (!marker_.Exists()) return kSFalse;
    *retVal = static_cast<std::int32_t>(DeleteNodeInterfacesKey(registry_));
    return kSOk;
}

HResult NodeInterfaceAccess::CreateNodeInterfacesKeyForKIVVIEW(std::int32_t* retVal) {
    if (!retVal) return kEPointer;
    if (!marker_.Exists()) return kSFalse;
    *retVal = static_cast<std::int32_t>(CreateNodeInterfacesKey(registry_));
    return kSOk;
}

}  // namespace kiv::svc
