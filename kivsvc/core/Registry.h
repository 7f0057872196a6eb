// Seam: the system registry as the service logic uses it. Paths are
// backslash-separated and relative to a root; names and texts are UTF-8;
// the empty value name is the key's default value. Every operation returns a
// Win32 error code (0 on success).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kiv::svc {

enum class RegistryRoot { ClassesRoot, LocalMachine };
enum class KeyAccess { Read, Write };

// An open key; closed when the object goes.
class IRegistryKey {
public:
    virtual ~IRegistryKey() = default;
    virtual long SetString(const std::string& name, const std::string& text) = 0;
    virtual long SetBinary(const std::string& name, const std::vector<std::uint8_t>& data) = 0;
    // Reads a string value into a buffer of maxBytes bytes (terminator included,
    // counted in the system's string units).
    virtual long QueryString(const std::string& name, std::size_t maxBytes, std::string& text) = 0;
    virtual long DeleteValue(const std::string& name) = 0;
};

class IRegistry {
public:
    virtual ~IRegistry() = default;
    // Creates the key (and missing parents) or opens it: non-volatile, full access.
    virtual long CreateKey(RegistryRoot root, const std::string& path, std::unique_ptr<IRegistryKey>& key) = 0;
    virtual long OpenKey(RegistryRoot root, const std::string& path, KeyAccess access,
                         std::unique_ptr<IRegistryKey>& key) = 0;
    // Deletes a key that has no subkeys.
    virtual long DeleteKey(RegistryRoot root, const std::string& path) = 0;
    // Deletes a key with everything below it.
    virtual long DeleteTree(RegistryRoot root, const std::string& path) = 0;
};

}  // namespace kiv::svc
