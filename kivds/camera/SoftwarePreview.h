// The preview of backends without a video renderer (the virtual camera, and
// any backend that only receives frames): it plays the renderer's part. It
// keeps what the camera logic decides about the preview (owner window,
// letterboxed placement, visibility, source rectangle) and turns frames into
// PreviewPictures for IWindowBridge::PresentPreview: each picture is the
// frame cut to the source rectangle and scaled (nearest neighbour) to the
// placement's size.
//
// Threads: the settings are changed from the thread that owns the camera;
// frames are handed in from the backend's streaming thread. Scaling and
// delivery run on a thread of the preview's own (started with the first frame
// that is to be shown), so the streaming thread never waits for a view: while
// a picture is being made or delivered, or the view has not taken the last
// one (IWindowBridge::PreviewTaken), newer frames replace the waiting one and
// the frames in between are dropped, never queued nor drawn.
//
// Frames come converted (OnFrame) or as the camera sent them (OnPayload): a
// payload is reduced on the delivery thread to only what the picture needs,
// so one that is replaced while it waits costs nothing.
//
// Buffers: the column map is kept while the geometry stays; pictures are
// drawn into one of two reused buffers unless the view still holds both.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "kivds/camera/IVideoPlatform.h"
#include "kivds/camera/IWindowBridge.h"

namespace kiv {

// A frame not converted yet (a compressed or raw camera payload).
class IPreviewPayload {
public:
    virtual ~IPreviewPayload() = default;
    // Makes a bottom-up BGR24 frame from which the nearest-neighbour picture
    // of `source` (in full-frame pixels) at width x height is drawn from the
    // rectangle `part` of it; `part` has at least width x height pixels where
    // the frame has them. False: nothing to draw. Delivery thread only.
    virtual bool Reduce(const SourceRect& source, std::int32_t width, std::int32_t height, VideoFrame& reduced,
                        SourceRect& part) = 0;
};

class CSoftwarePreview {
public:
    // What the preview is set to, as a renderer would report it.
    struct Settings {
        WindowHandle owner = nullptr;
        bool autoShow = true;
        bool visible = false;
        std::int32_t left = 0, top = 0, width = 0, height = 0;  // placement in the owner's client area
        std::int32_t frameWidth = 0, frameHeight = 0;
        SourceRect source;  // part of the frame shown, in frame pixels (y = 0 the top row)
    };

    CSoftwarePreview() = default;
    // Stops the delivery thread; no picture is delivered after it returns.
    ~CSoftwarePreview();
    CSoftwarePreview(const CSoftwarePreview&) = delete;
    CSoftwarePreview& operator=(const CSoftwarePreview&) = delete;

    // -- camera thread -------------------------------------------------------
    // A new connection: frames of this size, the full frame as source
    // rectangle, no owner, hidden, no placement. Waits for a delivery in
    // progress (see Hide).
    void Reset(std::int32_t frameWidth, std::int32_t frameHeight);
    // Null detaches the preview from its window; any change of owner waits for
    // a delivery in progress, so the old window receives nothing once this
    // returns.
    void SetOwner(WindowHandle owner);
    void SetPlacement(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height);
    // Hiding waits for a delivery in progress, like a change of owner.
    void SetVisible(bool visible);
    void SetAutoShow(bool autoShow);
    // Refuses (false, nothing changed) a rectangle that is empty or not inside
    // the frame.
    bool SetSourceRect(const SourceRect& rect);
    Settings Current() const;
    // Drops a waiting frame and waits until no delivery is in progress
    // (stopping the stream; detaching the window).
    void Quiesce();

    // -- streaming thread ----------------------------------------------------
    // Offers a frame (bottom-up BGR24 with its stride). Cheap: keeps a
    // reference to the frame when the preview is shown and wakes the delivery
    // thread; malformed frames and frames of another size are ignored.
    void OnFrame(const VideoFrame& frame);
    // Offers a payload of a frame of the preview's size; as cheap as OnFrame.
    void OnPayload(std::shared_ptr<IPreviewPayload> payload);

private:
    // Draws the rectangle part of frame (settings.source of the full frame)
    // into a picture of the settings' placement; null when there is nothing
    // to draw. Delivery thread only.
    std::shared_ptr<const PreviewPicture> Render(const VideoFrame& frame, const SourceRect& part,
                                                 const Settings& settings);
    // Converted or not, one pending frame (the lock held).
    bool Pending() const { return m_pending.bytes || m_pendingPayload; }
    void Wake();
    std::shared_ptr<PreviewPicture> FreeBuffer();
    void DeliveryLoop();
    bool Shown() const { return m_settings.owner && m_settings.visible; }
    // Invalidates the waiting frame and, unless called from the delivery
    // thread, waits for the delivery in progress; lock is m_mutex.
    void Interrupt(std::unique_lock<std::mutex>& lock);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;  // a frame waits, or stop
    std::condition_variable m_idle;  // a delivery ended
    Settings m_settings;
    std::uint64_t m_generation = 0;  // bumped by every change that voids a picture in the making
    VideoFrame m_pending;            // the newest frame not yet drawn
    // Or the newest payload not yet drawn.
    std::shared_ptr<IPreviewPayload> m_pendingPayload;
    bool m_busy = false;     // the delivery thread is drawing or delivering
    int m_interrupting = 0;  // Interrupt calls waiting for m_busy to fall: no new delivery starts
    bool m_stop = false;
    std::thread m_thread;

    // Delivery thread only.
    std::vector<std::uint32_t> m_columns;  // source byte offset of each destination pixel
    std::int32_t m_columnsLeft = -1, m_columnsWidth = -1, m_columnsOut = -1;
    std::shared_ptr<PreviewPicture> m_buffers[2];
    int m_nextBuffer = 0;
};

}  // namespace kiv
