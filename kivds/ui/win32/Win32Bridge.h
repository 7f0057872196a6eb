// The window bridge of the Win32 dialogs: the camera's notifications are
// window messages to real HWNDs, and the software preview (cameras without a
// video renderer, such as the virtual one) is painted by the preview control
// itself: the bridge keeps the newest picture per preview window, and a
// preview attached here draws it in its WM_PAINT.
//
// Threads: GetClientSize, PostGraphNotify, SendFrameArrived and PresentPreview
// may be called from any thread and never wait for a window's thread.
// AttachPreview and DetachPreview on the thread that owns the preview window.
#pragma once

#include <memory>

#include "kivds/camera/IWindowBridge.h"

namespace kiv {

class Win32Bridge final : public IWindowBridge {
public:
    // The process-wide instance; Install makes it the window bridge.
    static Win32Bridge& Instance();
    static void Install();

    // Subclasses the preview control `window` so that it paints the pictures
    // presented to it (black around them); DetachPreview restores its own
    // window procedure and drops its picture. Pictures for windows that are
    // not attached are dropped. Until the first picture arrives the control
    // paints as before (a video renderer may be its child).
    void AttachPreview(WindowHandle window);
    void DetachPreview(WindowHandle window);
    // The picture the preview `window` paints now, null when none.
    std::shared_ptr<const PreviewPicture> Latest(WindowHandle window) const;

    bool GetClientSize(WindowHandle window, int& width, int& height) override;
    void PostGraphNotify(WindowHandle window) override;
    // Posted, not sent: the streaming thread that calls this must never wait
    // for the dialog's thread, which may be joining it (Stop). The logic
    // ignores a notification that arrives after it disarmed.
    void SendFrameArrived(WindowHandle window) override;
    void PresentPreview(WindowHandle window, std::shared_ptr<const PreviewPicture> picture) override;

private:
    Win32Bridge() = default;
};

}  // namespace kiv
