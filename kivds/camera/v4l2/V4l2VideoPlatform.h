// The Linux camera backend: an IVideoPlatform over V4L2 (uvcvideo). Devices
// come from sysfs (DeviceList.h), formats from ENUM_FMT / ENUM_FRAMESIZES,
// frames from memory-mapped streaming (CaptureStream.h). The streaming thread
// only keeps a copy of the newest payload; it is converted to the full-size
// bottom-up BGR24 frame only when someone asks for it (GetLatestFrame: a
// still), so a compressed stream costs no decoding while nobody looks. There
// is no renderer: the preview calls go to the portable software preview,
// which holds what a renderer would (Preview, Source) and, while it is shown,
// reduces the payloads the preview sink hands it to its picture's scale
// (PreviewPayload.h) on its own thread.
//
// The IVideoPlatform calls come from the camera's owner thread; the preview
// accessors below may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "kivds/camera/EmulatedGraph.h"
#include "kivds/camera/IVideoPlatform.h"
#include "kivds/camera/SoftwarePreview.h"
#include "kivds/camera/convert/FrameConvert.h"
#include "kivds/camera/v4l2/CaptureStream.h"
#include "kivds/camera/v4l2/DeviceList.h"
#include "kivds/camera/v4l2/PreviewPayload.h"
#include "kivds/camera/v4l2/UniqueFd.h"
#include "kivds/camera/v4l2/V4l2Controls.h"
#include "kivds/camera/v4l2/XuControls.h"

namespace kiv {
namespace v4l2 {

class V4l2VideoPlatform final : public IVideoPlatform, private IFrameSink {
public:
    V4l2VideoPlatform();
    ~V4l2VideoPlatform() override;
    V4l2VideoPlatform(const V4l2VideoPlatform&) = delete;
    V4l2VideoPlatform& operator=(const V4l2VideoPlatform&) = delete;

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
    // Linux has no driver settings pages: Ok without showing anything, so
    // that the camera logic shows the controls below through the window bridge.
    PlatformResult ShowPropertyPages(WindowHandle owner, const std::wstring& caption) override;
    bool HasPropertyPages() const override { return false; }
    ICameraControls* CameraControls() override { return m_controls.get(); }
    PlatformResult OpenDevicePath(const std::wstring& path) override;
    PlatformResult FindExtensionUnit(const Guid& unit) override;
    PlatformResult ExtensionUnitGet(const Guid& unit, std::uint32_t selector, std::uint8_t* data,
                                    std::size_t length) override;
    PlatformResult ExtensionUnitSet(const Guid& unit, std::uint32_t selector, const std::uint8_t* data,
                                    std::size_t length) override;

    // -- the software preview's hooks (any thread) ---------------------------
    using PreviewState = CSoftwarePreview::Settings;
    PreviewState Preview() const;
    SourceRect Source() const;
    // Called on the streaming thread with each new payload while the preview
    // is visible; it must not block. Null: no preview sink.
    using PreviewSink = std::function<void(const std::shared_ptr<IPreviewPayload>& payload)>;
    void SetPreviewSink(PreviewSink sink);
    // Payloads received since the graph was connected (good buffers only).
    std::uint64_t PayloadsReceived() const;
    // Full-size frames converted since the graph was connected (the lazy
    // decoding at work: the preview's reductions do not count).
    std::uint64_t FramesConverted() const;

private:
    struct FormatEntry {
        StreamCapability cap;
        std::uint32_t pixelFormat = 0;
    };
    // The stream's format, fixed when the graph is connected.
    using StreamFormat = PayloadFormat;

    void OnPayload(const std::uint8_t* data, std::size_t size) override;
    void OnDeviceLost() override;
    // Converts the newest payload unless it already was; the last good frame
    // stays when the newest cannot be decoded. False: no frame at all.
    bool ConvertLatest(VideoFrame& frame);
    void StopStream();
    // The unit id of an extension unit of the bound device.
    std::optional<std::uint8_t> UnitId(const Guid& unit) const;

    // Thread, graph, connection, events and the first-frame arming.
    CEmulatedGraph m_graph;

    // Owner thread only.
    std::vector<CaptureNode> m_listed;
    std::optional<CaptureNode> m_bound;
    UniqueFd m_fd;
    XuControls m_xu;                           // the extension-unit controls of m_fd
    std::unique_ptr<V4l2Controls> m_controls;  // the V4L2 controls of m_fd
    std::vector<FormatEntry> m_formats;        // as read from the device below
    std::wstring m_formatsPath;
    // The preview's decoder: used on the preview's thread; shared with the
    // payloads on their way to it.
    std::shared_ptr<PreviewReducer> m_previewReducer = std::make_shared<PreviewReducer>();
    // The preview a renderer would draw: fed through the preview sink, it
    // hands scaled pictures to the window bridge on a thread of its own.
    CSoftwarePreview m_software;
    CaptureStream m_stream;

    // Shared with the streaming thread.
    mutable std::mutex m_mutex;
    StreamFormat m_format;
    std::shared_ptr<std::vector<std::uint8_t>> m_payload;  // the newest good payload
    std::shared_ptr<std::vector<std::uint8_t>> m_spare;    // the one before, reused
    std::uint64_t m_payloadSeq = 0;
    std::uint64_t m_converted = 0;
    PreviewSink m_previewSink;

    // The conversion: one at a time (owner thread or preview).
    std::mutex m_convertMutex;
    convert::MjpegDecoder m_decoder;
    convert::MjpegDecoder m_headerReader;  // streaming thread only
    VideoFrame m_lastFrame;                // the last converted frame
    // Its bytes, and those of the frame before (reused when no still holds them).
    std::shared_ptr<std::vector<std::uint8_t>> m_lastBytes, m_spareFrame;
    std::uint64_t m_lastFrameSeq = 0;
};

}  // namespace v4l2
}  // namespace kiv
