// The camera as the rest of the data source sees it. Operations return 1 for
// success and 0 for failure and leave the reason in LastCameraError.
#pragma once

#include <memory>
#include <string>

#include "kivds/camera/CameraRecords.h"
#include "kivds/platform/Types.h"

namespace kiv {

class CImageReference;
class ICameraControls;

// Outcome of the last camera operation.
extern int LastCameraError;
constexpr int CAMERA_ERR_NOT_FOUND = -1;
constexpr int CAMERA_ERR_BUSY = -2;
constexpr int CAMERA_ERR_FAILED = -100;

class IKIVCameraControl {
public:
    virtual ~IKIVCameraControl() = default;
    virtual int Open() = 0;
    virtual void Close() = 0;
    virtual int SetNotifyWindow(WindowHandle window) = 0;   // null: no graph notifications
    virtual int SetPreviewWindow(WindowHandle window) = 0;  // null hides the preview
    virtual int Run() = 0;
    virtual int Stop() = 0;
    virtual int SetMediaFormat(int type, const CResolution& size) = 0;
    virtual int GetDeviceInfo(std::unique_ptr<CUVCDeviceInfo>& out) = 0;  // out: a copy the caller owns
    virtual int HandleGraphEvents(CUVCState& state) = 0;
    virtual int SetFrameCallback(WindowHandle window, int enable) = 0;
    virtual int GrabStill(std::unique_ptr<CImageReference>& out) = 0;  // out: an image the caller owns
    virtual int ShowPropertyPages(WindowHandle owner, const std::wstring& caption) = 0;
    virtual int PollButtons(CameraButtonState* state) = 0;
    virtual int IsDevicePresent(const std::wstring& modelName) = 0;
    // After the operations above, so their order stays as it is: 1 when
    // ShowPropertyPages can show anything on this camera's backend.
    virtual int HasPropertyPages() { return 1; }
    // The bound camera's own controls where the data source shows them itself
    // (Linux); null where the driver's pages do (Windows) or none are known.
    // Valid until Close.
    virtual ICameraControls* CameraControls() { return nullptr; }

protected:
    IKIVCameraControl() = default;
    IKIVCameraControl(const IKIVCameraControl&) = default;
    IKIVCameraControl& operator=(const IKIVCameraControl&) = default;
};

}  // namespace kiv
