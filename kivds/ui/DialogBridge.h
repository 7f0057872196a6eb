// The window bridge of the dialogs that run on a DialogThread (headless,
// FLTK): the camera's notifications for a dialog window go to the loop of the
// dialog that owns it, and the software preview's pictures wait, the newest
// per window, until the preview takes them.
//
// Threads: every operation may be called from any thread; nothing blocks on
// the dialog's thread, and the bridge never calls out while it holds its
// lock. Notifications and pictures for windows that are not registered (any
// more) are dropped.
#pragma once

#include <functional>
#include <memory>

#include "kivds/camera/IWindowBridge.h"

namespace kiv {

class DialogBridge final : public IWindowBridge {
public:
    // What the bridge needs of a registered window. `deliver` receives
    // WM_GRAPHNOTIFY / WM_FRAMEARRIVED; `repaint` is called when a picture
    // starts waiting (once until it is taken), to have the window's thread
    // take it. Neither may block; either may be empty.
    struct Target {
        int width = 0;
        int height = 0;
        std::function<void(unsigned)> deliver;
        std::function<void()> repaint;
        // Runs the settings window (ShowCameraControls) on the window's
        // thread; empty: the window has none.
        std::function<bool(const std::wstring&, ICameraControls&)> showControls;
    };

    // The process-wide instance; installed as the window bridge by Install().
    static DialogBridge& Instance();
    static void Install();

    // Registering a window again replaces its target and keeps its pictures.
    void Register(WindowHandle window, Target target);
    void Unregister(WindowHandle window);
    // The preview control was laid out anew: the client size the camera asks
    // for (to letterbox its picture) follows. Unregistered windows: nothing.
    void SetClientSize(WindowHandle window, int width, int height);
    // Takes the picture waiting for `window` (null when none is new since the
    // last call). The last picture presented stays available through Latest.
    std::shared_ptr<const PreviewPicture> Take(WindowHandle window);
    std::shared_ptr<const PreviewPicture> Latest(WindowHandle window) const;

    bool GetClientSize(WindowHandle window, int& width, int& height) override;
    void PostGraphNotify(WindowHandle window) override;
    // Queued like a posted message: the streaming thread never waits for the
    // dialog (the dialog's thread may be stopping the camera, which joins it).
    void SendFrameArrived(WindowHandle window) override;
    void PresentPreview(WindowHandle window, std::shared_ptr<const PreviewPicture> picture) override;
    bool PreviewTaken(WindowHandle window) override;
    bool ShowCameraControls(WindowHandle owner, const std::wstring& caption, ICameraControls& controls) override;

private:
    DialogBridge() = default;
    void Deliver(WindowHandle window, unsigned message);
    struct Impl;
    Impl& State() const;
};

}  // namespace kiv
