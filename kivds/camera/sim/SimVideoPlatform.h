// The virtual camera: an IVideoPlatform that simulates the devices of a
// SimConfig, each a VirtualDevice. Frames of the test pattern are produced on a streaming thread at
// the device's frame rate from Run on; the latest one is handed over under a
// lock. Its preview is the software preview (SoftwarePreview.h), which keeps
// the placement and source rectangle as a renderer does and draws the frames
// into the owner window through the window bridge. It raises the device-lost
// event after the configured number of frames, answers the first-frame arming
// and the extension-unit requests of models A and B (see SimConfig.h).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "kivds/camera/EmulatedGraph.h"
#include "kivds/camera/IVideoPlatform.h"
#include "kivds/camera/SoftwarePreview.h"
#include "kivds/camera/sim/SimCameraControls.h"
#include "kivds/camera/sim/SimConfig.h"
#include "kivds/camera/sim/VirtualDevice.h"

namespace kiv {
namespace sim {

class SimVideoPlatform final : public IVideoPlatform {
public:
    explicit SimVideoPlatform(SimConfig config);
    ~SimVideoPlatform() override;
    SimVideoPlatform(const SimVideoPlatform&) = delete;
    SimVideoPlatform& operator=(const SimVideoPlatform&) = delete;

    PlatformResult InitializeThread() override;
    void UninitializeThread() override;
    PlatformResult CreateGraph() override;
    void DisconnectGraph() override;
    void ReleaseGraph() override;
    PlatformResult ListDevices(std::vector<VideoDevice>& devices) override;
    PlatformResult BindDevice(std::size_t index) override;
    PlatformResult ReadStreamCaps(StreamCaps& caps) override;
    PlatformResult SetStreamFormat(const Guid& subtype, std::int32_t width, std::int32_t height) override;
    PlatformResult ConnectGraph() override;
    PlatformResult Run() override;
    PlatformResult Stop() override;
    PlatformResult SetEventWindow(WindowHandle window) override;
    EventPoll GetGraphEvent(GraphEvent& event, unsigned waitMs) override;
    PlatformResult SetFrameNotify(WindowHandle window) override;
    PlatformResult GetLatestFrame(VideoFrame& frame) override;
    PlatformResult SetPreviewAutoShow(bool autoShow) override;
    PlatformResult AttachPreview(WindowHandle owner) override;
    PlatformResult SetPreviewPosition(std::int32_t left, std::int32_t top, std::int32_t width,
                                      std::int32_t height) override;
    PlatformResult ShowPreview(bool visible) override;
    PlatformResult GetSourceRect(SourceRect& rect) override;
    PlatformResult SetSourceRect(const SourceRect& rect) override;
    PlatformResult ShowPropertyPages(WindowHandle owner, const std::wstring& caption) override;
    ICameraControls* CameraControls() override;
    PlatformResult OpenDevicePath(const std::wstring& path) override;
    PlatformResult FindExtensionUnit(const Guid& unit) override;
    PlatformResult ExtensionUnitGet(const Guid& unit, std::uint32_t selector, std::uint8_t* data,
                                    std::size_t length) override;
    PlatformResult ExtensionUnitSet(const Guid& unit, std::uint32_t selector, const std::uint8_t* data,
                                    std::size_t length) override;

    // Removes the bound device now, as "lose=" does after its frames: the
    // stream ends and the device-lost event is posted (tests, demos).
    void Unplug();

    // What a renderer window would show, for tests and demos.
    using PreviewState = CSoftwarePreview::Settings;
    PreviewState Preview() const;
    SourceRect Source() const;
    std::uint64_t FramesProduced() const;  // since the graph was connected
    bool IsStreaming() const;
    // The size frames have (fixed when the graph is connected).
    void FrameSize(std::int32_t& width, std::int32_t& height) const;
    // Waits until at least count frames were produced since the connection,
    // or the device was lost, or timeoutMs passed; true in the first case.
    bool WaitForFrames(std::uint64_t count, unsigned timeoutMs) const;

private:
    VirtualDevice* Bound();
    const VirtualDevice* Bound() const;
    // The injected result of op for the bound device (Ok without a device).
    PlatformResult Injected(SimOp op) const;
    // Stops and joins the streamer; the caller holds lock, which is released
    // while joining.
    void StopStreaming(std::unique_lock<std::mutex>& lock);
    void StreamLoop();
    void StreamFrames();
    // Marks the bound device lost and queues its event; returns the window to notify.
    WindowHandle LoseBoundDevice();
    // A request's answer as the platform's result; a failure is logged.
    PlatformResult Answer(XuAnswer answer, const Guid& unit, SimOp op) const;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;  // frames, stop requests
    std::vector<VirtualDevice> m_devices;       // in the description's order
    std::vector<std::size_t> m_listed;          // index of each entry of the last listing

    CEmulatedGraph m_graph;  // thread, graph, connection, events, first-frame arming
    std::optional<std::size_t> m_bound;

    std::int32_t m_frameWidth = 0, m_frameHeight = 0;
    std::shared_ptr<const std::vector<std::uint8_t>> m_pattern;  // for the frame size
    int m_patternShift = 0;                                      // and the brightness it shows
    std::shared_ptr<const std::vector<std::uint8_t>> m_latest;   // the sink's buffered frame
    std::uint64_t m_frames = 0;

    CSoftwarePreview m_preview;  // owner, placement, visibility, source rectangle

    SimCameraControls m_controls{m_mutex, [this] { return Bound(); }};

    std::thread m_streamer;
    bool m_stopRequested = false;
};

}  // namespace sim
}  // namespace kiv
