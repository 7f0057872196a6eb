// The window bridge of the FLTK dialogs: the camera's notifications for a
// dialog window go to the loop of the dialog that owns it, and the software
// preview's pictures wait, the newest per window, until the preview draws.
//
// Threads: every operation may be called from any thread; nothing blocks on
// the dialog's thread. Notifications and pictures for windows that are not
// registered (any more) are dropped.
#pragma once

#include <functional>
#include <memory>

#include "kivds/camera/IWindowBridge.h"

namespace kiv {

class FltkBridge final : public IWindowBridge {
public:
    // What the bridge needs of a registered window. `deliver` receives
    // WM_GRAPHNOTIFY / WM_FRAMEARRIVED; `repaint` asks the window's thread to
    // draw the waiting picture. Neither may block.
    struct Target {
        int width = 0;
        int height = 0;
        std::function<void(unsigned)> deliver;
        std::function<void()> repaint;
    };

    // The process-wide instance; installed as the window bridge by Install().
    static FltkBridge& Instance();
    static void Install();

    void Register(WindowHandle window, Target target);
    void Unregister(WindowHandle window);
    // The preview control was laid out anew: the client size the camera asks
    // for (to letterbox its picture) follows. Unregistered windows: nothing.
    void SetClientSize(WindowHandle window, int width, int height);
    // Takes the picture waiting for `window` (null when none is new since the
    // last call). The last picture taken stays available through Latest.
    std::shared_ptr<const PreviewPicture> Take(WindowHandle window);
    std::shared_ptr<const PreviewPicture> Latest(WindowHandle window) const;

    bool GetClientSize(WindowHandle window, int& width, int& height) override;
    void PostGraphNotify(WindowHandle window) override;
    void SendFrameArrived(WindowHandle window) override;
    void PresentPreview(WindowHandle window, std::shared_ptr<const PreviewPicture> picture) override;

private:
    FltkBridge() = default;
    void Deliver(WindowHandle window, unsigned message);
    struct Impl;
    Impl& State() const;
};

}  // namespace kiv
