#include "kivsvc/win32/Win32Registry.h"

#include <windows.h>

#include <vector>

#include "kivsvc/win32/Text.h"

namespace kiv::svc {
namespace {

HKEY RootKey(RegistryRoot root) { return root == RegistryRoot::ClassesRoot ? HKEY_CLASSES_ROOT : HKEY_LOCAL_MACHINE; }

// A value name for the API: null for the default value.
class ValueName {
public:
    explicit ValueName(const std::string& name) : text_(Widen(name)), isDefault_(name.empty()) {}
    const wchar_t* get() const { return isDefault_ ? nullptr : text_.c_str(); }

private:
    std::wstring text_;
    bool isDefault_;
};

class Win32Key : public IRegistryKey {
public:
    explicit Win32Key(HKEY key) : key_(key) {}
    ~Win32Key() override { RegCloseKey(key_); }
    Win32Key(const Win32Key&) = delete;
    Win32Key& operator=(const Win32Key&) = delete;

    long SetString(const std::string& name, const std::string& text) override {
        const std::wstring wide = Widen(text);
        const DWORD bytes = static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t));
        return RegSetValueExW(key_, ValueName(name).get(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                              bytes);
    }
    long SetBinary(const std::string& name, const std::vector<std::uint8_t>& data) override {
        return RegSetValueExW(key_, ValueName(name).get(), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
    }
    long QueryString(const std::string& name, std::size_t maxBytes, std::string& text) override {
        std::vector<wchar_t> buffer(maxBytes + 1, L'\0');
        DWORD type = 0;
        DWORD bytes = static_cast<DWORD>(maxBytes * sizeof(wchar_t));
        const LONG r = RegQueryValueExW(key_, ValueName(name).get(), nullptr, &type,
                                        reinterpret_cast<BYTE*>(buffer.data()), &bytes);
        if (r != ERROR_SUCCESS) return r;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
        text = Narrow(std::wstring(buffer.data()));
        return ERROR_SUCCESS;
    }
    long DeleteValue(const std::string& name) override { return RegDeleteValueW(key_, ValueName(name).get()); }

private:
    HKEY key_;
};

}  // namespace

long Win32Registry::CreateKey(RegistryRoot root, const std::string& path, std::unique_ptr<IRegistryKey>& key) {
    HKEY h = nullptr;
    const LONG r = RegCreateKeyExW(RootKey(root), Widen(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_ALL_ACCESS, nullptr, &h, nullptr);
    if (r == ERROR_SUCCESS) key = std::make_unique<Win32Key>(h);
    return r;
}

long Win32Registry::OpenKey(RegistryRoot root, const std::string& path, KeyAccess access,
                            std::unique_ptr<IRegistryKey>& key) {
    HKEY h = nullptr;
    const REGSAM sam = access == KeyAccess::Read ? KEY_READ : (KEY_READ | KEY_WRITE);
    const LONG r = RegOpenKeyExW(RootKey(root), Widen(path).c_str(), 0, sam, &h);
    if (r == ERROR_SUCCESS) key = std::make_unique<Win32Key>(h);
    return r;
}

long Win32Registry::DeleteKey(RegistryRoot root, const std::string& path) {
    return RegDeleteKeyW(RootKey(root), Widen(path).c_str());
}

long Win32Registry::DeleteTree(RegistryRoot root, const std::string& path) {
    return RegDeleteTreeW(RootKey(root), Widen(path).c_str());
}

}  // namespace kiv::svc
