// The capture dialog's logic: live preview, format and size lists, camera
// settings, capture, the close request, camera loss, the zoom-button poll and
// the viewer program kept out of the camera's way. Everything it shows goes
// through an ICaptureDialogView; everything it asks of the camera goes through
// the process-wide CKIVUVCControl; the TWAIN manager is reached through
// NotifyActiveManager.
//
// The camera: the dialog uses the facade from OnInitDialog until it ends
// (OnCancel) or the manager destroys it (DestroyWindow), whichever comes
// first, and never after; the manager keeps the facade alive that long. An
// ended dialog ignores every message, command and timer.
//
// Threads: every operation runs on the thread that owns the dialog.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kivds/camera/CameraRecords.h"
#include "kivds/ui/ICaptureDialogView.h"
#include "kivds/ui/VersionDlg.h"

namespace kiv {

class CKIVUVCControl;
class IViewerPlatform;

// How an owner-drawn button (2008, 2009) is painted.
struct ButtonDrawPlan {
    bool focusFrame = false;   // black frame on the item rectangle, then shrunk by 1
    ViewRect face;             // filled with the button-face colour
    bool shadowFrame = false;  // pressed: frame in the shadow colour; else a push-button frame
    bool focusRect = false;
    ViewRect focus;  // the focus rectangle when focusRect
    int iconId = 0;
    std::int32_t iconX = 0;  // the 48 x 48 icon's top-left corner
    std::int32_t iconY = 0;
};
ButtonDrawPlan PlanButtonDrawing(int id, const ViewRect& item, bool focused, bool pressed);

class CKIVDlg {
public:
    explicit CKIVDlg(ICaptureDialogView& view);
    // The viewer backend is injectable for tests; the default is the OS's.
    CKIVDlg(ICaptureDialogView& view, IViewerPlatform& viewerPlatform);
    virtual ~CKIVDlg();
    CKIVDlg(const CKIVDlg&) = delete;
    CKIVDlg& operator=(const CKIVDlg&) = delete;

    // Initialisation after the view created the controls. False when it
    // failed: the dialog has then ended itself and the creation fails.
    virtual bool OnInitDialog();
    // WM_COMMAND from control `id` with `notification` (BN_CLICKED, CBN_SELCHANGE).
    void OnCommand(int id, unsigned notification);
    // WM_GRAPHNOTIFY, WM_FRAMEARRIVED, WM_XFERDONE; other messages are ignored.
    void OnMessage(unsigned message);
    void OnTimer(unsigned id);
    void OnSysCommand(unsigned command);
    void OnDeviceChange();
    // IDCANCEL: the close box, and the failure paths.
    virtual void OnCancel();
    // Called by the TWAIN manager (through the host) before the object is deleted.
    virtual void DestroyWindow();

    // State, for views and tests.
    bool Ended() const { return m_ended; }
    const std::string& ViewerPath() const { return m_viewerPath; }
    int CurrentFormatIndex() const { return m_curFormatIndex; }
    int CurrentSizeIndex() const { return m_curSizeIndex; }

private:
    void LayoutPreview();
    bool FillLists();
    void EnableControls(bool enable);
    // The sizes of `type` in the device information, sorted by width.
    std::vector<CResolution> SortedSizes(int type) const;
    // The size at `index` of the sorted sizes of `type`; an index beyond the
    // list gives its last size, a negative one its first; nothing for an
    // empty list.
    std::optional<CResolution> SizeAt(int type, int index) const;
    // The format type of entry `index` of the format list; the device's
    // current type when no entry is there.
    int FormatTypeAt(int index) const;
    void ChangeFormatOrSize(int formatIndex, int sizeIndex, bool formatChanged);
    void Capture();
    void CameraSettings();
    void GraphEvents();
    void FirstFrame();
    void FailCameraOperation();
    void ArmFrameCallback();
    void EndDialog(int result);

    ICaptureDialogView& m_view;
    IViewerPlatform& m_viewerPlatform;
    std::string m_viewerPath;
    CKIVUVCControl* m_camera = nullptr;
    std::unique_ptr<CUVCDeviceInfo> m_deviceInfo;
    std::uint16_t m_closeCondition = 0;
    int m_curFormatIndex = 0;
    int m_curSizeIndex = 0;
    int m_propertyFrameOpen = 0;
    bool m_settingsAvailable = true;
    CVersionDlg m_versionDlg;
    bool m_ended = false;
    // The first-frame notification is armed. Notifications may be queued,
    // so one that arrives unarmed (a late duplicate) is ignored.
    bool m_awaitingFrame = false;
};

}  // namespace kiv
