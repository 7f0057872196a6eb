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

    // Loads `path` (UTF-8) with the platform's search rules; null on failure,
    // with the loader's own reason in `error` when it is given.
    static std::unique_ptr<DynamicLibrary> Open(const std::string& path, std::string* error = nullptr);
};

// Keeps the library that contains this code loaded until the process ends.
// Windows: a library whose threads (the camera's streaming thread) may still
// run cannot be torn down safely from DllMain, under the loader lock; once it
// has opened a camera it stays. Elsewhere a no-op: unloading runs the
// destructors normally.
void KeepLibraryLoaded();

}  // namespace kiv
