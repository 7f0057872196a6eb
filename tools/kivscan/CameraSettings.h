// kivscan's --controls and --set: the camera's own controls, reached through
// the camera layer itself (not through DS_Entry: TWAIN has no words for
// them), before the TWAIN session opens the source. --controls lists them;
// --set checks and applies each NAME=VALUE and hands them on to the source
// as KIVDS_CONTROLS, which sets them again when it opens the camera (the
// virtual camera of the loaded source is another instance than kivscan's).
#pragma once

#include <iosfwd>

#include "tools/kivscan/Options.h"

namespace kiv {
namespace scan {

// Nothing to do without --controls or --set: kExitOk. Otherwise lists and
// sets; returns kExitOk to go on, kExitFailure when the camera cannot be
// opened or a control refuses (named, with the reason, on `err`).
int RunCameraSettings(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace scan
}  // namespace kiv
