// The backend's settings: kiv.conf, found where SANE looks for a backend's
// configuration, and the diagnostics level SANE_DEBUG_KIV asks for.
//
// kiv.conf, one setting a line, '#' starts a comment:
//   virtual              also offer the virtual camera (described by KIVDS_SIM)
//   any-uvc              offer every UVC camera, not only the maker's
//   field-of-view MM     width in mm the full frame covers (default 297)
// Unknown lines are logged and ignored.
#pragma once

#include <optional>
#include <string>

#include "kivds/platform/Log.h"

namespace kiv {
namespace sane {

constexpr double kDefaultFieldOfViewMm = 297.0;

struct BackendConfig {
    bool virtualCamera = false;
    bool anyUvc = false;
    double fieldOfViewMm = kDefaultFieldOfViewMm;
};

BackendConfig ParseConfig(const std::string& text);

// The directories kiv.conf is searched in: SANE_CONFIG_DIR's entries
// (colon-separated; a trailing colon adds the default), else the default
// /etc/sane.d.
std::string ConfigSearchPath();

// kiv.conf from the first directory of the search path that has one; the
// defaults when none has.
BackendConfig LoadConfig();

// The log settings of the backend: those of KIVDS_LOG and KIVDS_LOG_LEVEL,
// with SANE_DEBUG_KIV (SANE's numeric debug level) choosing the level: 0 off,
// 1-2 error, 3-4 info, 5 and more debug; set without KIVDS_LOG it writes to
// standard error, as SANE backends do.
LogSettings BackendLogSettings();

}  // namespace sane
}  // namespace kiv
