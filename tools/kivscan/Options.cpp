#include "tools/kivscan/Options.h"

#include <cerrno>
#include <cstdlib>

#include "KivVersion.h"
#include "kivds/camera/CameraControls.h"

namespace kiv {
namespace scan {

namespace {

bool ParseInt(const std::string& text, long min, long max, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0' && value >= min && value <= max;
}

bool ParseLayout(const std::string& text, std::array<std::int32_t, 4>& frame) {
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = text.find(',', start);
        if ((i < 3) != (comma != std::string::npos)) return false;
        const std::string part = text.substr(start, i < 3 ? comma - start : std::string::npos);
        long value = 0;
        // TW_FIX32 holds whole numbers from -32768 to 32767.
        if (!ParseInt(part, -32768, 32767, value)) return false;
        frame[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(value);
        start = comma + 1;
    }
    // An empty or inverted frame holds no picture.
    return frame[0] < frame[2] && frame[1] < frame[3];
}

}  // namespace

const char* MechanismName(Mechanism mechanism) {
    switch (mechanism) {
        case Mechanism::Native: return "native";
        case Mechanism::Memory: return "memory";
        case Mechanism::File: return "file";
    }
    return "?";
}

std::string DefaultOutput(FileFormat format) { return format == FileFormat::Bmp ? "kivscan.bmp" : "kivscan.tif"; }

std::string NumberedPath(const std::string& path, unsigned index, unsigned count) {
    if (count <= 1) return path;
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.find_last_of('.');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const bool hasExtension = dot != std::string::npos && dot > nameStart;  // ".name" has none
    const std::string suffix = "-" + std::to_string(index);
    return hasExtension ? path.substr(0, dot) + suffix + path.substr(dot) : path + suffix;
}

bool ParseOptions(const std::vector<std::string>& args, const std::string& defaultSource, Options& options,
                  std::string& error) {
    options = Options{};
    options.sourcePath = defaultSource;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string name = arg;
        std::optional<std::string> value;
        if (arg.rfind("--", 0) == 0) {
            const std::size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
            }
        }
        // Options that take a value accept "--name=value" or "--name value".
        auto take = [&](std::string& out) {
            if (value) {
                out = *value;
                return true;
            }
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string text;
        if (name == "-h" || name == "--help") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else if (name == "--virtual") {
            options.virtualCamera = true;
            options.simSpec = value;
        } else if (name == "--xfer") {
            if (!take(text)) return false;
            if (text == "native") options.mechanism = Mechanism::Native;
            else if (text == "memory") options.mechanism = Mechanism::Memory;
            else if (text == "file") options.mechanism = Mechanism::File;
            else {
                error = "--xfer takes native, memory or file, not '" + text + "'";
                return false;
            }
        } else if (name == "--format") {
            if (!take(text)) return false;
            if (text == "bmp") options.format = FileFormat::Bmp;
            else if (text == "tiff" || text == "tif") options.format = FileFormat::Tiff;
            else {
                error = "--format takes bmp or tiff, not '" + text + "'";
                return false;
            }
            options.formatGiven = true;
        } else if (name == "-o" || name == "--output") {
            if (!take(options.output)) return false;
            if (options.output.empty()) {
                error = name + " needs a file name";
                return false;
            }
        } else if (name == "--count") {
            long count = 0;
            if (!take(text)) return false;
            if (!ParseInt(text, 1, 10000, count)) {
                error = "--count takes a number from 1 to 10000, not '" + text + "'";
                return false;
            }
            options.count = static_cast<unsigned>(count);
        } else if (name == "--caps") {
            options.listCaps = true;
        } else if (name == "--controls") {
            options.listControls = true;
        } else if (name == "--set") {
            std::pair<std::string, std::string> assignment;
            if (!take(text)) return false;
            if (!ParseControlAssignment(text, assignment)) {
                error = "--set takes NAME=VALUE, not '" + text + "'";
                return false;
            }
            options.setControls.push_back(std::move(assignment));
        } else if (name == "--layout") {
            std::array<std::int32_t, 4> frame{};
            if (!take(text)) return false;
            if (!ParseLayout(text, frame)) {
                error = "--layout takes L,T,R,B in whole pixels with L < R and T < B, not '" + text + "'";
                return false;
            }
            options.layout = frame;
        } else if (name == "--ui") {
            options.showUi = true;
        } else if (name == "--ui-script") {
            if (!take(text)) return false;
            options.uiScript = text;
            options.showUi = true;
        } else if (name == "--verbose" || name == "-v") {
            options.verbose = true;
        } else if (name == "--create-dirs") {
            options.createDirs = true;
        } else if (name == "--dsm") {
            if (!take(options.dsmPath)) return false;
        } else if (name == "--source") {
            if (!take(options.sourceName)) return false;
        } else if (name == "--source-file") {
            if (!take(options.sourcePath)) return false;
        } else {
            error = "unknown option '" + arg + "' (see --help)";
            return false;
        }
        if (value && (name == "-h" || name == "--help" || name == "--version" || name == "--caps" || name == "--controls" || name == "--ui" ||
                      name == "--verbose" || name == "--create-dirs")) {
            error = name + " takes no value";
            return false;
        }
    }
    if (options.output.empty()) options.output = DefaultOutput(options.format);
    return true;
}

std::string DefaultUiScript(unsigned count) {
    std::string script;
    for (unsigned i = 0; i < count; ++i) script += (i ? ";" : "") + std::string("frame;capture");
    return script;
}

std::string VersionText() { return "kivscan " KIV_VERSION_TEXT "\n"; }

std::string UsageText() {
    return "Usage: kivscan [options]\n"
           "Acquires pictures from a TWAIN data source (by default the kivds.ds built or installed with it).\n"
           "\n"
           "  --virtual[=SPEC]      use the virtual camera (KIVDS_CAMERA=sim; SPEC becomes KIVDS_SIM,\n"
           "                        without SPEC KIVDS_SIM stays as it is: unset, the default camera)\n"
           "  --xfer native|memory|file   transfer mechanism (default native)\n"
           "  --format bmp|tiff     picture file format (default bmp)\n"
           "  -o FILE               picture file (default kivscan.bmp / kivscan.tif);\n"
           "                        with --count N > 1 the files are FILE-1, FILE-2, ...\n"
           "  --create-dirs         create the directories of -o FILE that do not exist\n"
           "  --count N             acquire N pictures (default 1)\n"
           "  --caps                print every capability of the source and exit\n"
           "  --controls            print the camera's own controls (range, value, flags) and exit\n"
           "  --set NAME=VALUE      set the camera's control NAME (as --controls names it) before\n"
           "                        the capture, e.g. --set \"Focus, Automatic Continuous=off\"\n"
           "                        --set \"Focus, Absolute=120\"; repeatable; a bad name or value\n"
           "                        fails before the camera starts\n"
           "  --layout L,T,R,B      image frame in pixels, inside the camera's largest frame\n"
           "  --ui                  show the source's dialog and take the pictures captured there\n"
           "  --ui-script STEPS     (implies --ui) steps for the headless dialog, e.g.\n"
           "                        \"frame;size=640x480;capture\" (default: frame;capture per picture)\n"
           "  --verbose             print each TWAIN call with its return and condition code\n"
           "  --source-file PATH    the data source file to load directly\n"
           "  --dsm PATH            go through this TWAIN source manager library instead\n"
           "  --source NAME         product name of the source to open through the manager\n"
           "                        (default \"Orvan Document Camera\")\n"
           "  --version             print kivscan's version and exit\n"
           "  -h, --help            this text\n"
           "\n"
           "Exit status: 0 success, 1 a TWAIN or file failure, 2 a bad command line,\n"
           "3 the dialog was closed before all pictures were taken.\n";
}

}  // namespace scan
}  // namespace kiv
