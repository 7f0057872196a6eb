// kivscan's command line.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/kivscan/PictureFiles.h"

namespace kiv {
namespace scan {

enum class Mechanism { Native, Memory, File };

struct Options {
    std::string sourcePath;                            // the data source file (direct mode)
    std::string dsmPath;                               // non-empty: go through this source manager
    std::string sourceName = "Orvan Document Camera";  // product name picked from the manager's list
    bool virtualCamera = false;                        // --virtual
    std::optional<std::string> simSpec;                // --virtual=SPEC
    Mechanism mechanism = Mechanism::Native;
    FileFormat format = FileFormat::Bmp;
    bool formatGiven = false;
    std::string output;       // -o; empty: a default per format
    bool createDirs = false;  // --create-dirs: make -o's missing directories
    unsigned count = 1;
    bool listCaps = false;
    bool listControls = false;  // --controls: list the camera's controls and exit
    // --set NAME=VALUE, in order: the camera's controls before the capture.
    std::vector<std::pair<std::string, std::string>> setControls;
    std::optional<std::array<std::int32_t, 4>> layout;  // left, top, right, bottom
    bool showUi = false;
    // --ui-script: the steps for the headless dialog (KIVDS_UI_SCRIPT);
    // without it --ui captures `count` times, each after a frame.
    std::optional<std::string> uiScript;
    bool verbose = false;
    bool help = false;
    bool version = false;  // --version: print the version and exit
};

// Parses argv[1..]. `defaultSource` becomes sourcePath unless --source-file
// names another. False with a one-line reason in `error` on a bad command line.
bool ParseOptions(const std::vector<std::string>& args, const std::string& defaultSource, Options& options,
                  std::string& error);

// The output path used when -o is missing: "kivscan.bmp" or "kivscan.tif".
std::string DefaultOutput(FileFormat format);

// The file of image `index` (1-based) of `count`: the path itself for a
// single image, else the path with "-<index>" before its extension.
std::string NumberedPath(const std::string& path, unsigned index, unsigned count);

const char* MechanismName(Mechanism mechanism);  // "native", "memory", "file"

std::string UsageText();
std::string VersionText();  // "kivscan 2.00.0006\n"

// The script --ui runs without --ui-script: "frame;capture" `count` times.
std::string DefaultUiScript(unsigned count);

}  // namespace scan
}  // namespace kiv
