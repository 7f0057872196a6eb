// The one error message box of the data source, and the mapping from the
// camera's last error to the condition code that the box and DAT_STATUS report.
#pragma once

#include <cstdint>
#include <string>

#include "kivds/platform/Types.h"

namespace kiv {

// Caption of every message box of the data source, in every language.
constexpr char kMessageCaption[] = "Orvan Document Camera";

// The camera's last error (0, -1 not found, -2 busy, anything else failed) as
// a condition code: 0 -> 0 (nothing to report), -1 -> CC_CAMERA_DISCONNECTED
// (0x8001), -2 -> CC_CAMERA_IN_USE (0x8002), other -> CC_OTHER_ERROR (0x8003).
std::uint16_t CameraErrorToCondition(int lastCameraError);

// The text shown for `condition` in the user's language: the disconnected and
// in-use texts as they are, for every other condition "<Other error> (<n>)"
// with n the condition as an unsigned 16-bit decimal. Empty for condition 0.
std::string ErrorMessageText(std::uint16_t condition);

// Shows ErrorMessageText(condition) in a modal box with the caption above;
// style MB_ICONERROR with an owner, MB_ICONERROR | MB_TOPMOST without one.
// Condition 0 shows nothing. Every box shown is logged (kivds/platform/Log.h)
// with its text and condition, at the error level.
void ShowErrorMessage(WindowHandle owner, std::uint16_t condition);

}  // namespace kiv
