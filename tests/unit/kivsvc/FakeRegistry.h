// In-memory registry for the service logic's tests. Keys are case-insensitive
// like the real registry; failures can be injected per operation and path.
#pragma once

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "kivsvc/core/Codes.h"
#include "kivsvc/core/Registry.h"

namespace kiv::svc::test {

struct FakeValue {
    bool binary = false;
    std::string text;
    std::vector<std::uint8_t> bytes;
};

class FakeRegistry : public IRegistry {
public:
    using Values = std::map<std::string, FakeValue>;

    static std::string Fold(const std::string& s) {
        std::string out = s;
        std::transform(out.begin(), out.end(), out.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return out;
    }
    static std::string Full(RegistryRoot root, const std::string& path) {
        return Fold((root == RegistryRoot::ClassesRoot ? "HKCR\\" : "HKLM\\") + path);
    }

    bool Has(RegistryRoot root, const std::string& path) const { return keys_.count(Full(root, path)) != 0; }
    const Values* ValuesOf(RegistryRoot root, const std::string& path) const {
        auto it = keys_.find(Full(root, path));
        return it == keys_.end() ? nullptr : &it->second;
    }
    void Put(RegistryRoot root, const std::string& path, const std::string& name, const std::string& text) {
        CreateParents(Full(root, path));
        keys_[Full(root, path)][name] = FakeValue{false, text, {}};
    }
    std::set<std::string> Keys() const {
        std::set<std::string> out;
        for (const auto& k : keys_) out.insert(k.first);
        return out;
    }

    // Failure injection: the operation on that exact path answers this error.
    std::map<std::string, long> failCreate, failOpen, failDelete;
    std::map<std::string, long> failSetValue;  // keyed by value name
    std::vector<std::string> log;              // "create HKLM\..." etc. in call order

    long CreateKey(RegistryRoot root, const std::string& path, std::unique_ptr<IRegistryKey>& key) override {
        const std::string full = Full(root, path);
        log.push_back("create " + full);
        if (auto f = failCreate.find(full); f != failCreate.end()) return f->second;
        CreateParents(full);
        keys_[full];
        key = std::make_unique<Key>(*this, full);
        return kErrorSuccess;
    }
    long OpenKey(RegistryRoot root, const std::string& path, KeyAccess, std::unique_ptr<IRegistryKey>& key) override {
        const std::string full = Full(root, path);
        log.push_back("open " + full);
        if (auto f = failOpen.find(full); f != failOpen.end()) return f->second;
        if (!keys_.count(full)) return kErrorFileNotFound;
        key = std::make_unique<Key>(*this, full);
        return kErrorSuccess;
    }
    long DeleteKey(RegistryRoot root, const std::string& path) override {
        const std::string full = Full(root, path);
        log.push_back("delete " + full);
        if (auto f = failDelete.find(full); f != failDelete.end()) return f->second;
        if (!keys_.count(full)) return kErrorFileNotFound;
        if (HasChildren(full)) return kErrorAccessDenied;
        keys_.erase(full);
        return kErrorSuccess;
    }
    long DeleteTree(RegistryRoot root, const std::string& path) override {
        const std::string full = Full(root, path);
        log.push_back("deltree " + full);
        if (auto f = failDelete.find(full); f != failDelete.end()) return f->second;
        if (!keys_.count(full)) return kErrorFileNotFound;
        for (auto it = keys_.begin(); it != keys_.end();) {
            it = (it->first == full || it->first.rfind(full + "\\", 0) == 0) ? keys_.erase(it) : std::next(it);
        }
        return kErrorSuccess;
    }

private:
    class Key : public IRegistryKey {
    public:
        Key(FakeRegistry& reg, std::string path) : reg_(reg), path_(std::move(path)) {}
        long SetString(const std::string& name, const std::string& text) override {
            return Set(name, FakeValue{false, text, {}});
        }
        long SetBinary(const std::string& name, const std::vector<std::uint8_t>& data) override {
            return Set(name, FakeValue{true, {}, data});
        }
        long QueryString(const std::string& name, std::size_t maxBytes, std::string& text) override {
            auto& values = reg_.keys_[path_];
            auto it = values.find(name);
            if (it == values.end()) return kErrorFileNotFound;
            if (it->second.text.size() + 1 > maxBytes) return kErrorMoreData;
            text = it->second.text;
            return kErrorSuccess;
        }
        long DeleteValue(const std::string& name) override {
            reg_.log.push_back("delvalue " + path_ + " " + name);
            return reg_.keys_[path_].erase(name) ? kErrorSuccess : kErrorFileNotFound;
        }

    private:
        long Set(const std::string& name, FakeValue v) {
            reg_.log.push_back("set " + path_ + " " + name);
            if (auto f = reg_.failSetValue.find(name); f != reg_.failSetValue.end()) return f->second;
            reg_.keys_[path_][name] = std::move(v);
            return kErrorSuccess;
        }
        FakeRegistry& reg_;
        std::string path_;
    };

    void CreateParents(const std::string& full) {
        for (std::size_t at = full.find('\\', 5); at != std::string::npos; at = full.find('\\', at + 1)) {
            keys_[full.substr(0, at)];
        }
    }
    bool HasChildren(const std::string& full) const {
        auto it = keys_.lower_bound(full + "\\");
        return it != keys_.end() && it->first.rfind(full + "\\", 0) == 0;
    }

    std::map<std::string, Values> keys_;
};

}  // namespace kiv::svc::test
