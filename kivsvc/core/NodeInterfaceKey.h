// The node-interface key under HKEY_LOCAL_MACHINE that binds the interface
// handler to model A's extension unit.
#pragma once

#include "kivsvc/core/Registry.h"

namespace kiv::svc {

// Deletes the key: 0, or ERROR_FILE_NOT_FOUND when it is absent, or another Win32 error.
long DeleteNodeInterfacesKey(IRegistry& registry);

// Creates or opens the key and writes the default value, "CLSID" and "IID".
// Returns the error of creating the key, else the result of writing "IID"
// (the first two writes are not looked at). Other values already in the key stay.
long CreateNodeInterfacesKey(IRegistry& registry);

}  // namespace kiv::svc
