// The window bridge of the headless dialogs: the camera's notifications for a
// headless window are queued to the loop of the dialog that owns it, and the
// software preview's pictures are kept, the newest per window.
//
// Threads: any thread. Notifications for windows that are not registered (any
// more) are dropped.
#pragma once

#include <functional>
#include <memory>

#include "kivds/camera/IWindowBridge.h"

namespace kiv {

class HeadlessBridge final : public IWindowBridge {
public:
    // The process-wide instance; installed as the window bridge by Install().
    static HeadlessBridge& Instance();
    static void Install();

    // `deliver` receives WM_GRAPHNOTIFY / WM_FRAMEARRIVED for `window`; it must
    // not block. `width` x `height` is the window's client size.
    void Register(WindowHandle window, int width, int height, std::function<void(unsigned)> deliver);
    void Unregister(WindowHandle window);
    // The preview control was laid out anew: the client size the camera asks
    // for (to letterbox its picture) follows. Unregistered windows: nothing.
    void SetClientSize(WindowHandle window, int width, int height);
    // The newest picture presented to `window`, or null.
    std::shared_ptr<const PreviewPicture> LastPicture(WindowHandle window) const;

    bool GetClientSize(WindowHandle window, int& width, int& height) override;
    void PostGraphNotify(WindowHandle window) override;
    void SendFrameArrived(WindowHandle window) override;
    void PresentPreview(WindowHandle window, std::shared_ptr<const PreviewPicture> picture) override;

private:
    HeadlessBridge() = default;
    void Deliver(WindowHandle window, unsigned message);
    struct Impl;
    Impl& State() const;
};

}  // namespace kiv
