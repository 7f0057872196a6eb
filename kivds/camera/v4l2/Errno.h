// The V4L2 backend's one reading of errno: the seam's small result and the
// name a user can report, from one table.
#pragma once

#include <string>

#include "kivds/camera/IVideoPlatform.h"

namespace kiv {
namespace v4l2 {

// EBUSY: busy; a device that is gone or has no such unit or control (ENODEV,
// ENXIO, EIO, ENOENT): not found; anything else: failed.
PlatformResult FromErrno(int error);

// "ENODEV (19)", or "errno 1234" for a code the table does not name.
std::string ErrnoName(int error);

// Logs what failed, on which node, with the errno's name, and returns
// FromErrno(error). For the place where the failure arises, once.
//   operation: the seam operation ("v4l2.run"); call: the system call
//   ("VIDIOC_STREAMON"); node: the device node, may be empty.
PlatformResult ErrnoFailure(const char* operation, const char* call, const std::string& node, int error);

}  // namespace v4l2
}  // namespace kiv
