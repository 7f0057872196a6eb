// The process-wide camera facade. Every user of the camera (TWAIN manager,
// capability set, capture dialog) reaches the one camera object through it.
//
// Each forwarding operation returns 0 when there is no camera object or the
// camera operation returned 0, else 1; PollButtons also returns 0 for a null
// record, and IsDevicePresent returns the camera's own result. They do not
// touch LastCameraError; the camera operations do.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "kivds/camera/CameraRecords.h"
#include "kivds/camera/IKIVCameraControl.h"
#include "kivds/platform/Types.h"

namespace kiv {

class CImageReference;
class ICameraControls;

class CKIVUVCControl {
public:
    // Creates the facade and the camera object on first use; null if that is
    // impossible. The camera's backend is chosen at creation (KIVDS_CAMERA,
    // KIVDS_SIM are read then).
    static CKIVUVCControl* GetInstance();
    // Destroys the facade and the camera object and clears both process-wide
    // pointers; the next GetInstance starts afresh.
    static void DestroyInstance();
    // Forgets the facade and the camera object without destroying them: for
    // the end of the process on Windows, where the loader lock is held and
    // the camera's threads are already gone, so stopping the camera could
    // only hang. The operating system reclaims everything.
    static void AbandonInstance();

    // Makes the camera objects that GetInstance creates (tests, demos); an
    // empty function restores the default (CCameraLogic over
    // CreateVideoPlatform()). Takes effect at the next creation.
    using CameraFactory = std::function<std::unique_ptr<IKIVCameraControl>()>;
    static void SetCameraFactory(CameraFactory factory);

    virtual ~CKIVUVCControl();
    CKIVUVCControl(const CKIVUVCControl&) = delete;
    CKIVUVCControl& operator=(const CKIVUVCControl&) = delete;

    int Open();
    int SetNotifyWindow(WindowHandle window);
    int SetPreviewWindow(WindowHandle window);  // null: no preview window
    int Run();
    int Stop();
    int SetMediaFormat(int type, const CResolution& size);
    int GetDeviceInfo(std::unique_ptr<CUVCDeviceInfo>& out);  // the caller owns the copy
    int HandleGraphEvents(CUVCState& state);
    int SetFrameCallback(WindowHandle window, int enable);
    int GrabStill(std::unique_ptr<CImageReference>& out);  // the caller owns the image
    int ShowPropertyPages(WindowHandle owner, const std::wstring& caption);
    int HasPropertyPages();
    // The camera's own controls (null: none, or no camera object).
    ICameraControls* CameraControls();
    int PollButtons(CameraButtonState* state);
    int IsDevicePresent(const std::wstring& modelName);

    // The process-wide camera object (null when there is none).
    IKIVCameraControl* Camera() const { return m_camera; }

private:
    explicit CKIVUVCControl(IKIVCameraControl* camera) : m_camera(camera) {}

    IKIVCameraControl* m_camera;  // the process-wide camera object, destroyed with the facade
};

}  // namespace kiv
