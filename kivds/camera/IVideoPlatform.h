// Seam to a video platform: everything the camera logic needs of the
// operating system's capture stack, as small operations that report
// ok / not found / busy / failed. The camera logic (CCameraLogic) calls them
// in the order of a capture graph's life:
//
//   InitializeThread, CreateGraph              first build only
//   ListDevices, BindDevice                    every build
//   ReadStreamCaps                             first build only
//   SetStreamFormat                            every build
//   ConnectGraph                               every build
//   SetEventWindow, Run, Stop, preview calls, source rectangle, frames, events
//   DisconnectGraph                            partial teardown (format change)
//   DisconnectGraph, ReleaseGraph, UninitializeThread   full teardown
//
// Every operation must be safe to call in any state (it then fails, or for
// the teardown operations does nothing). Backends may deliver frames on a
// thread of their own; the calls below all come from the thread that owns the
// camera object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kivds/camera/Guid.h"
#include "kivds/platform/Types.h"

namespace kiv {

class ICameraControls;

enum class PlatformResult {
    Ok,
    NotFound,  // the device or something it needs is not there
    Busy,      // the device is in use by another program
    Failed,    // anything else
};

inline bool Ok(PlatformResult r) { return r == PlatformResult::Ok; }

// A video input device as the platform lists it.
struct VideoDevice {
    std::wstring path;  // USB ids in lower case, Windows style: ...vid_xxxx&pid_xxxx...
    std::wstring friendlyName;
    // False when the device's properties could not be opened at all; such a
    // device is passed over, and when it is the last one listed and nothing
    // matched before it, the listing counts as failed. Devices whose path or
    // name cannot be read are simply left out of the list.
    bool readable = true;
};

// One stream capability of the capture pin.
struct StreamCapability {
    Guid subtype;
    bool videoInfo = true;  // a video type described by a plain video info header
    std::int32_t width = 0;
    std::int32_t height = 0;
};

struct StreamCaps {
    bool hasCurrent = false;  // the pin reports its configured format as a plain video info header
    std::int32_t currentWidth = 0;
    std::int32_t currentHeight = 0;
    std::vector<StreamCapability> entries;  // in device order
};

// The most recent RGB24 frame: bottom-up rows of blue, green, red pixels.
// The backend states the row stride (a multiple of 4, at least width * 3);
// the sample holds exactly stride * height bytes, and a frame that does not
// is refused by the camera logic rather than read with a guessed stride.
struct VideoFrame {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 0;  // bytes from one row to the next
    // The whole sample. Never written once handed out: a still shares it, so
    // the backend puts every new frame into a new buffer.
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
};

// The frame's geometry is consistent: positive size, a stride that holds a
// row and is a multiple of 4, and exactly stride * height bytes.
bool IsWellFormed(const VideoFrame& frame);

struct SourceRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

enum class GraphEventCode { DeviceLost, Other };

struct GraphEvent {
    GraphEventCode code = GraphEventCode::Other;
    bool removed = false;        // device lost: removed (not arrived again)
    bool ofBoundDevice = false;  // device lost: the event names the bound capture device
};

enum class EventPoll { Event, Empty, Unavailable };

class IVideoPlatform {
public:
    virtual ~IVideoPlatform() = default;

    // -- the thread and the graph ------------------------------------------
    // Prepares the calling thread for the platform (COM: CoInitialize).
    virtual PlatformResult InitializeThread() = 0;
    virtual void UninitializeThread() = 0;
    // Creates the graph, its control, event and video-control parts.
    virtual PlatformResult CreateGraph() = 0;
    // Removes renderer, capture device and frame sink from the graph and
    // releases them; hides and detaches the preview first. Idempotent.
    virtual void DisconnectGraph() = 0;
    // Switches graph notifications off and releases the rest of the graph. Idempotent.
    virtual void ReleaseGraph() = 0;

    // -- devices -------------------------------------------------------------
    // The video input devices in a stable order; an empty category is a
    // failure. BindDevice takes an index into the list last returned.
    virtual PlatformResult ListDevices(std::vector<VideoDevice>& devices) = 0;
    virtual PlatformResult BindDevice(std::size_t index) = 0;

    // -- formats of the bound device -----------------------------------------
    // A failure may leave the capabilities read so far in caps.
    virtual PlatformResult ReadStreamCaps(StreamCaps& caps) = 0;
    // Sets the first capability of that subtype and size (a video info header
    // type); Ok without a change when none matches.
    virtual PlatformResult SetStreamFormat(const Guid& subtype, std::int32_t width, std::int32_t height) = 0;

    // -- streaming -------------------------------------------------------------
    // capture -> RGB24 frame sink -> preview renderer. Busy when the preview
    // stream cannot be connected. A new connection shows the full frame.
    virtual PlatformResult ConnectGraph() = 0;
    // Busy when the device is in use elsewhere.
    virtual PlatformResult Run() = 0;
    virtual PlatformResult Stop() = 0;
    // The window that receives WM_GRAPHNOTIFY while events wait; null: none.
    virtual PlatformResult SetEventWindow(WindowHandle window) = 0;
    // Takes the next graph event, waiting up to waitMs for one.
    virtual EventPoll GetGraphEvent(GraphEvent& event, unsigned waitMs) = 0;
    // Arms (window non-null) or disarms (null) the one WM_FRAMEARRIVED sent
    // for the next frame. Fails only without a frame sink.
    virtual PlatformResult SetFrameNotify(WindowHandle window) = 0;
    // A copy (or shared reference) of the latest frame; fails when no frame
    // has arrived since the graph was connected.
    virtual PlatformResult GetLatestFrame(VideoFrame& frame) = 0;

    // -- preview -----------------------------------------------------------
    virtual PlatformResult SetPreviewAutoShow(bool autoShow) = 0;
    // Makes the preview a child of owner (null: no owner).
    virtual PlatformResult AttachPreview(WindowHandle owner) = 0;
    virtual PlatformResult SetPreviewPosition(std::int32_t left, std::int32_t top, std::int32_t width,
                                              std::int32_t height) = 0;
    virtual PlatformResult ShowPreview(bool visible) = 0;
    // The part of the frame the preview shows, in frame pixels.
    virtual PlatformResult GetSourceRect(SourceRect& rect) = 0;
    virtual PlatformResult SetSourceRect(const SourceRect& rect) = 0;

    // -- device extras -----------------------------------------------------
    // The device's own settings pages, modal.
    virtual PlatformResult ShowPropertyPages(WindowHandle owner, const std::wstring& caption) = 0;
    // The backend can show settings pages at all (the dialog disables its
    // settings button otherwise). Any thread.
    virtual bool HasPropertyPages() const { return true; }
    // The bound device's own controls (focus, exposure, ...) for a settings
    // window the UI shows through the window bridge; null where the backend
    // shows the driver's pages itself (ShowPropertyPages) or nothing is
    // bound. Valid while the device stays bound and the platform lives.
    virtual ICameraControls* CameraControls() { return nullptr; }
    // The device at path can be opened for reading and writing (it is still attached).
    virtual PlatformResult OpenDevicePath(const std::wstring& path) = 0;
    // The bound device has an extension unit with this GUID.
    virtual PlatformResult FindExtensionUnit(const Guid& unit) = 0;
    // GET / SET of a control selector of that unit; data holds length bytes.
    virtual PlatformResult ExtensionUnitGet(const Guid& unit, std::uint32_t selector, std::uint8_t* data,
                                            std::size_t length) = 0;
    virtual PlatformResult ExtensionUnitSet(const Guid& unit, std::uint32_t selector, const std::uint8_t* data,
                                            std::size_t length) = 0;

protected:
    IVideoPlatform() = default;
    IVideoPlatform(const IVideoPlatform&) = default;
    IVideoPlatform& operator=(const IVideoPlatform&) = default;
};

// The platform of a new camera object: KIVDS_CAMERA names the backend
// ("sim" is the virtual camera, configured by KIVDS_SIM at this call; "v4l2"
// the Linux capture backend). Unset, it is the platform's own backend: v4l2 on
// Linux, dshow on Windows. An unknown name
// is reported in one line on standard error and gives a platform without
// devices (ListDevices: NotFound), never the virtual camera.
std::unique_ptr<IVideoPlatform> CreateVideoPlatform();
// The platform of the backend with that name ("sim", "v4l2", "dshow"; ASCII
// case ignored), whatever KIVDS_CAMERA says; null when there is no such
// backend in this build.
std::unique_ptr<IVideoPlatform> CreateVideoPlatform(const std::string& backend);

}  // namespace kiv
