// Environment variables for tests: set for the life of an object, or set and
// cleared directly. The data source reads its variables at every use, so a
// test can change them between calls.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "kivds/platform/Env.h"

namespace kivtest {

using kiv::SetEnv;

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
