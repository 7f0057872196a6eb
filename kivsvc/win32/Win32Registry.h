// The registry seam on the Win32 registry.
#pragma once

#include "kivsvc/core/Registry.h"

namespace kiv::svc {

class Win32Registry : public IRegistry {
public:
    long CreateKey(RegistryRoot root, const std::string& path, std::unique_ptr<IRegistryKey>& key) override;
    long OpenKey(RegistryRoot root, const std::string& path, KeyAccess access,
                 std::unique_ptr<IRegistryKey>& key) override;
    long DeleteKey(RegistryRoot root, const std::string& path) override;
    long DeleteTree(RegistryRoot root, const std::string& path) override;
};

}  // namespace kiv::svc
