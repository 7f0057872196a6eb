// Sets (or removes) an environment variable for the life of the object.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "kivds/platform/Env.h"

namespace kiv::test {

class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name), saved_(GetEnv(name)) {
        Apply(value);
    }
    ~ScopedEnv() { Apply(saved_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void Apply(const std::optional<std::string>& value) {
#ifdef _WIN32
        _putenv_s(name_.c_str(), value ? value->c_str() : "");
#else
        if (value) setenv(name_.c_str(), value->c_str(), 1);
        else unsetenv(name_.c_str());
#endif
    }

    std::string name_;
    std::optional<std::string> saved_;
};

}  // namespace kiv::test
