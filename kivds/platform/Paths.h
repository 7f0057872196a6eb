// Seam: well-known directories.
#pragma once

#include <string>

namespace kiv {

// The Windows directory (no trailing separator guaranteed); empty when there
// is none (every non-Windows system).
std::string WindowsDirectory();

// The user's temporary directory with a trailing separator, as GetTempPathA
// gives it on Windows; on POSIX $TMPDIR or "/tmp/". Empty on failure.
std::string TempDirectory();

// The path separator of this platform.
char PathSeparator();

}  // namespace kiv
