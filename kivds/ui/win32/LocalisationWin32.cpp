// Windows side of the language and the string table: the user's default
// locale, and the STRINGTABLE resource of the module that holds this code.
#include <windows.h>

#include "kivds/platform/win32/Utf.h"
#include "kivds/ui/Language.h"
#include "kivds/ui/Strings.h"

namespace kiv {
namespace {

// The module this code was linked into (the data source, or a test program),
// which also carries the string resources.
HMODULE ThisModule() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ThisModule), &module)) {
        return nullptr;
    }
    return module;
}

}  // namespace

std::uint32_t UserDefaultLcid() { return GetUserDefaultLCID(); }

std::string LoadKivString(unsigned id) {
    if (id > 0xFFFF) return {};
    HMODULE module = ThisModule();
    if (!module) return {};
    // With a buffer size of 0, LoadStringW hands out a read-only pointer into
    // the resource (not terminated) and returns its length.
    const wchar_t* text = nullptr;
    int length = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text) return {};
    return WideToUtf8(std::wstring(text, static_cast<std::size_t>(length)));
}

}  // namespace kiv
