// The behaviour behind the two methods of IKIVSVCAccess, free of COM.
#pragma once

#include <cstdint>

#include "kivsvc/core/Codes.h"
#include "kivsvc/core/Registry.h"
#include "kivsvc/core/RunningMarker.h"

namespace kiv::svc {

class NodeInterfaceAccess {
public:
    NodeInterfaceAccess(IRegistry& registry, const RunningMarker& marker) : registry_(registry), marker_(marker) {}

    // S_OK with *retVal := Win32 result of deleting the key; S_FALSE with
    // *retVal untouched while the running marker does not exist; E_POINTER
    // for a null out-pointer.
    HResult RegistryDeleteNodeInterfacesKey(std::int32_t* retVal);
    // S_OK with *retVal := Win32 result of creating the key and writing its
    // values; otherwise as above.
    HResult CreateNodeInterfacesKeyForKIVVIEW(std::int32_t* retVal);

private:
    IRegistry& registry_;
    const RunningMarker& marker_;
};

}  // namespace kiv::svc
