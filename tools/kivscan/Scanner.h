// kivscan's run: from the parsed command line to the picture files.
#pragma once

#include <ostream>

#include "tools/kivscan/Options.h"

namespace kiv {
namespace scan {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitClosed = 3;

// Progress and the summary go to `out`, failures to `err`. Returns the exit status.
int RunScan(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace scan
}  // namespace kiv
