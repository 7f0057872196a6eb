#include "kivds/ui/ErrorMessage.h"

#include "kivds/camera/IKIVCameraControl.h"
#include "kivds/platform/Log.h"
#include "kivds/platform/MessageBox.h"
#include "kivds/protocol/Twain.h"
#include "kivds/ui/Strings.h"

namespace kiv {

std::uint16_t CameraErrorToCondition(int lastCameraError) {
    switch (lastCameraError) {
        case 0: return 0;
        case CAMERA_ERR_NOT_FOUND: return twain::CC_CAMERA_DISCONNECTED;
        case CAMERA_ERR_BUSY: return twain::CC_CAMERA_IN_USE;
        default: return twain::CC_OTHER_ERROR;
    }
}

std::string ErrorMessageText(std::uint16_t condition) {
    switch (condition) {
        case 0: return {};
        case twain::CC_CAMERA_DISCONNECTED: return LoadLocalisedString(IDS_ERR_DISCONNECTED);
        case twain::CC_CAMERA_IN_USE: return LoadLocalisedString(IDS_ERR_INUSE);
        default:
            return LoadLocalisedString(IDS_ERR_OTHER) + " (" + std::to_string(static_cast<unsigned>(condition)) + ")";
    }
}

void ShowErrorMessage(WindowHandle owner, std::uint16_t condition) {
    if (condition == 0) return;
    unsigned style = owner ? kMbIconError : (kMbIconError | kMbTopmost);
    const std::string text = ErrorMessageText(condition);
    // The line says which box the user saw; the backend's line before it says why.
    Log(LogLevel::Error, "ui.message", "shown: \"%s\" (condition code %u)", text.c_str(),
        static_cast<unsigned>(condition));
    ShowMessageBox(owner, kMessageCaption, text, style);
}

}  // namespace kiv
