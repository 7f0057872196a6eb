// Seam: the process environment (read at every call, never cached).
#pragma once

#include <optional>
#include <string>

namespace kiv {

// The value of an environment variable, or nothing when it is not set.
std::optional<std::string> GetEnv(const char* name);

}  // namespace kiv
