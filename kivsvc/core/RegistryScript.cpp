#include "kivsvc/core/RegistryScript.h"

#include "kivsvc/core/Codes.h"
#include "kivsvc/core/Identities.h"

namespace kiv::svc {
namespace {

constexpr char kModuleToken[] = "%MODULE%";

std::string Join(const std::string& a, const char* b) { return std::string(a) + "\\" + b; }

}  // namespace

const RegistryScript& AppIdScript() {
    static const RegistryScript script{100,
                                       {
                                           {"AppID", KeyRule::Keep, {}},
                                           {kAppIdKey, KeyRule::Normal, {{"", kServiceName}}},
                                           {"AppID\\KIVSVC.EXE", KeyRule::Normal, {{"AppID", kAppId}}},
                                       }};
    return script;
}

const RegistryScript& ClassScript() {
    static const std::string clsidKey = Join("CLSID", kClsid);
    static const RegistryScript script{
        101,
        {
            {kProgId, KeyRule::Normal, {{"", kClassDescription}}},
            {Join(kProgId, "CLSID"), KeyRule::Normal, {{"", kClsid}}},
            {kVersionIndependentProgId, KeyRule::Normal, {{"", kClassDescription}}},
            {Join(kVersionIndependentProgId, "CLSID"), KeyRule::Normal, {{"", kClsid}}},
            {Join(kVersionIndependentProgId, "CurVer"), KeyRule::Normal, {{"", kProgId}}},
            {"CLSID", KeyRule::Keep, {}},
            {clsidKey, KeyRule::ReplaceWhole, {{"", kClassDescription}, {"AppID", kAppId}}},
            {clsidKey + "\\ProgID", KeyRule::Normal, {{"", kProgId}}},
            {clsidKey + "\\VersionIndependentProgID", KeyRule::Normal, {{"", kVersionIndependentProgId}}},
            {clsidKey + "\\Programmable", KeyRule::ReplaceWhole, {}},
            {clsidKey + "\\LocalServer32", KeyRule::Normal, {{"", kModuleToken}}},
            {clsidKey + "\\TypeLib", KeyRule::Normal, {{"", kLibId}}},
        }};
    return script;
}

std::string ExpandScriptData(const char* data, const std::string& modulePath) {
    std::string text = data;
    const std::string token = kModuleToken;
    for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + modulePath.size())) {
        text.replace(at, token.size(), modulePath);
    }
    return text;
}

long ApplyScript(IRegistry& registry, const RegistryScript& script, const std::string& modulePath) {
    for (const ScriptKey& k : script.keys) {
        if (k.rule == KeyRule::ReplaceWhole) {
            const long deleted = registry.DeleteTree(RegistryRoot::ClassesRoot, k.path);
            if (deleted != kErrorSuccess && deleted != kErrorFileNotFound) return deleted;
        }
        std::unique_ptr<IRegistryKey> key;
        const long created = registry.CreateKey(RegistryRoot::ClassesRoot, k.path, key);
        if (created != kErrorSuccess) return created;
        if (!key) return kErrorInvalidFunction;
        for (const ScriptValue& v : k.values) {
            const long written = key->SetString(v.name, ExpandScriptData(v.data, modulePath));
            if (written != kErrorSuccess) return written;
        }
    }
    return kErrorSuccess;
}

long RemoveScript(IRegistry& registry, const RegistryScript& script) {
    long result = kErrorSuccess;
    for (auto it = script.keys.rbegin(); it != script.keys.rend(); ++it) {
        if (it->rule == KeyRule::Keep) continue;
        const long deleted = registry.DeleteTree(RegistryRoot::ClassesRoot, it->path);
        if (deleted != kErrorSuccess && deleted != kErrorFileNotFound && result == kErrorSuccess) result = deleted;
    }
    return result;
}

}  // namespace kiv::svc
