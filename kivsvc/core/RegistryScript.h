// Registry scripts as data, and the engine that applies and removes them
// under HKEY_CLASSES_ROOT.
#pragma once

#include <string>
#include <vector>

#include "kivsvc/core/Registry.h"

namespace kiv::svc {

// How a key of a script is treated.
enum class KeyRule {
    Keep,          // a parent that is created when missing and never removed
    Normal,        // created or opened, removed on unregistration
    ReplaceWhole,  // deleted with everything below it before it is created, removed on unregistration
};

struct ScriptValue {
    const char* name;  // "" is the default value
    const char* data;  // "%MODULE%" stands for the executable's path
};

struct ScriptKey {
    std::string path;
    KeyRule rule;
    std::vector<ScriptValue> values;
};

struct RegistryScript {
    int resourceId;
    std::vector<ScriptKey> keys;  // parents before children
};

// Script 100: the AppID. Script 101: the class, its ProgIDs and its server.
const RegistryScript& AppIdScript();
const RegistryScript& ClassScript();

// The text of a value with "%MODULE%" replaced by the module path.
std::string ExpandScriptData(const char* data, const std::string& modulePath);

// Writes the script's keys and values; stops at the first failure and returns
// its Win32 error (0 on success).
long ApplyScript(IRegistry& registry, const RegistryScript& script, const std::string& modulePath);

// Removes what the script created, children first; keys marked Keep stay.
// Keys that are already gone are no failure. Returns the first other error.
long RemoveScript(IRegistry& registry, const RegistryScript& script);

}  // namespace kiv::svc
