// kivscan: a command-line TWAIN application for the kivds data source.
#include <iostream>
#include <string>
#include <vector>

#include "tools/kivscan/Options.h"
#include "tools/kivscan/ScanPlatform.h"
#include "tools/kivscan/Scanner.h"

#ifndef KIVSCAN_DEFAULT_SOURCE
#define KIVSCAN_DEFAULT_SOURCE ""
#endif

namespace {

// The data source of this build tree, or the installed one for a packaged
// build (KIVSCAN_LOAD_INSTALLED); a copy next to the executable when that
// file is not there (a copied kivscan).
std::string DefaultSource() {
    const std::string built = KIVSCAN_DEFAULT_SOURCE;
    if (!built.empty() && kiv::scan::FileExists(built)) return built;
    return kiv::scan::ExecutableDirectory() + "kivds.ds";
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    kiv::scan::Options options;
    std::string error;
    if (!kiv::scan::ParseOptions(args, DefaultSource(), options, error)) {
        std::cerr << "kivscan: " << error << '\n';
        return kiv::scan::kExitUsage;
    }
    if (options.help || options.version) {
        std::cout << (options.help ? kiv::scan::UsageText() : kiv::scan::VersionText());
        return kiv::scan::kExitOk;
    }
    return kiv::scan::RunScan(options, std::cout, std::cerr);
}
