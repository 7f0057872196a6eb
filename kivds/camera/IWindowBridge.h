// Seam to the UI backend for the two things the camera needs of a window: its
// client size, and the delivery of the camera's notifications to it from
// whatever thread the camera backend produces them on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kivds/platform/Types.h"

namespace kiv {

class ICameraControls;

// Messages of the capture dialog that the camera raises.
constexpr unsigned WM_GRAPHNOTIFY = 0x0401;   // graph events are waiting (posted)
constexpr unsigned WM_FRAMEARRIVED = 0x0403;  // the first frame after arming arrived (sent)

// One picture of the software preview (backends without a video renderer):
// the frame cut to the preview's source rectangle and scaled to the
// letterboxed area, placed at (left, top) of the preview window's client
// area. Bottom-up BGR24 rows, `stride` bytes apart (a multiple of 4), exactly
// stride * height bytes. Immutable once handed over.
struct PreviewPicture {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 0;
    std::vector<std::uint8_t> pixels;
};

// True when a view can draw `picture` as its header describes it: a positive
// size, rows of whole pixels padded to a multiple of 4 bytes (a DIB's rows)
// and at least stride * height bytes.
bool IsDrawable(const PreviewPicture& picture);

class IWindowBridge {
public:
    virtual ~IWindowBridge() = default;

    // The width and height of the window's client area; false when the window
    // cannot be asked.
    virtual bool GetClientSize(WindowHandle window, int& width, int& height) = 0;

    // WM_GRAPHNOTIFY to the window without waiting for it to be handled.
    // Called from any thread.
    virtual void PostGraphNotify(WindowHandle window) = 0;

    // WM_FRAMEARRIVED to the window. Called from the camera's streaming
    // thread; a backend that waits for the window's thread must not wait
    // forever, since stopping the camera on that thread joins the streamer.
    virtual void SendFrameArrived(WindowHandle window) = 0;

    // Hands the software preview's newest picture to the window. Called from
    // the camera's streaming thread; must not block: a view that has not yet
    // drawn the previous picture replaces it (frames are dropped, never
    // queued). The default shows nothing.
    virtual void PresentPreview(WindowHandle window, std::shared_ptr<const PreviewPicture> picture) {
        (void)window;
        (void)picture;
    }

    // False while the window has not taken the picture presented last (the
    // software preview then makes no new one yet). Any thread; must not
    // block. The default: always taken.
    virtual bool PreviewTaken(WindowHandle window) {
        (void)window;
        return true;
    }

    // Shows the camera's controls in a settings window with `caption`, modal
    // to the dialog window `owner`, and returns when it is closed (true), or
    // false at once when no window can be shown for that owner. Called on the
    // owner's thread; the settings window's loop serves that thread's queue,
    // so the owner's notifications (the camera's loss) are handled while it
    // is open. The default shows nothing.
    virtual bool ShowCameraControls(WindowHandle owner, const std::wstring& caption, ICameraControls& controls) {
        (void)owner;
        (void)caption;
        (void)controls;
        return false;
    }
};

// The process-wide bridge: the one installed last, or a default that knows no
// window (GetClientSize false) and delivers nothing.
IWindowBridge& WindowBridge();
// Installs a bridge (not owned; it must outlive its use); null restores the default.
void SetWindowBridge(IWindowBridge* bridge);

}  // namespace kiv
