// Seam: loading a shared library and looking up a symbol.
#pragma once

#include <memory>
#include <string>

namespace kiv {

class DynamicLibrary {
public:
    virtual ~DynamicLibrary() = default;
    // The address of an exported symbol, or null.
    virtual void* Symbol(const char* name) const = 0;

    // Loads `path` (UTF-8) with the platform's search rules; null on failure.
    static std::unique_ptr<DynamicLibrary> Open(const std::string& path);
};

}  // namespace kiv
