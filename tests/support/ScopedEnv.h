// Environment variables for tests: set for the life of an object, or set and
// cleared directly. The data source reads its variables at every use, so a
// test can change them between calls.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "kivds/platform/Env.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kivtest {

// Sets or clears (null) a variable in the C runtime and the process environment.
inline void SetEnv(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value ? value : "");
    SetEnvironmentVariableA(name, value);
#else
    if (value) setenv(name, value, 1);
    else unsetenv(name);
#endif
}

inline void UnsetEnv(const char* name) { SetEnv(name, nullptr); }

class ScopedEnv {
public:
    // A null value clears the variable.
    ScopedEnv(const char* name, const char* value) : name_(name), saved_(kiv::GetEnv(name)) { SetEnv(name, value); }
    ScopedEnv(const char* name, const std::optional<std::string>& value)
        : ScopedEnv(name, value ? value->c_str() : nullptr) {}
    ~ScopedEnv() { SetEnv(name_.c_str(), saved_ ? saved_->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> saved_;
};

}  // namespace kivtest
