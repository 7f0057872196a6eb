// Seam: the process environment (read at every call, never cached).
#pragma once

#include <optional>
#include <string>

namespace kiv {

// The value of an environment variable, or nothing when it is not set.
std::optional<std::string> GetEnv(const char* name);

// Sets (or, for a null value, clears) a variable for this process and the
// libraries it has loaded: the C runtime's copy and, on Windows, the
// process environment as well.
void SetEnv(const char* name, const char* value);

}  // namespace kiv
