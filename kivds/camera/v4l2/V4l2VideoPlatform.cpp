#include "kivds/camera/v4l2/V4l2VideoPlatform.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <linux/videodev2.h>

#include "kivds/camera/IWindowBridge.h"
#include "kivds/camera/v4l2/Errno.h"
#include "kivds/camera/v4l2/UvcDescriptors.h"
#include "kivds/platform/Log.h"

namespace kiv {
namespace v4l2 {
namespace {

constexpr std::size_t kMaxDescriptorsSize = 1 << 16;

// The subtype of the pixel formats the camera logic knows; null for others.
const Guid* SubtypeOf(std::uint32_t pixelFormat) {
    if (pixelFormat == V4L2_PIX_FMT_MJPEG) return &MediaSubtypeMJPG;
    if (pixelFormat == V4L2_PIX_FMT_YUYV) return &MediaSubtypeYUY2;
    return nullptr;
}

// The whole of a small binary file; empty when unreadable or too large.
std::vector<std::uint8_t> ReadSmallFile(const std::string& file) {
    std::vector<std::uint8_t> bytes;
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) return bytes;
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.insert(bytes.end(), buffer, buffer + n);
        if (bytes.size() > kMaxDescriptorsSize) return {};
    }
    return bytes;
}

}  // namespace

V4l2VideoPlatform::V4l2VideoPlatform() {
    m_previewSink = [this](const std::shared_ptr<IPreviewPayload>& payload) { m_software.OnPayload(payload); };
}

V4l2VideoPlatform::~V4l2VideoPlatform() { StopStream(); }

void V4l2VideoPlatform::StopStream() {
    // The streaming thread takes m_mutex: never join it while holding it.
    m_stream.Stop();
}

// -- the thread and the graph ---------------------------------------------------

PlatformResult V4l2VideoPlatform::InitializeThread() { return m_graph.InitializeThread(); }

void V4l2VideoPlatform::UninitializeThread() { m_graph.UninitializeThread(); }

PlatformResult V4l2VideoPlatform::CreateGraph() { return m_graph.CreateGraph(); }

void V4l2VideoPlatform::DisconnectGraph() {
    StopStream();
    m_graph.Disconnect();
    m_bound.reset();  // m_formats stays for a rebuild on the same device
    m_controls.reset();
    m_fd.Reset();
    m_xu.Forget();
    m_software.SetVisible(false);  // may wait for a picture on its way
    m_software.SetOwner(nullptr);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_payload.reset();
    m_spare.reset();
}

void V4l2VideoPlatform::ReleaseGraph() {
    StopStream();
    m_graph.Release();
}

// -- devices --------------------------------------------------------------------

PlatformResult V4l2VideoPlatform::ListDevices(std::vector<VideoDevice>& devices) {
    devices.clear();
    m_listed = ListCaptureNodes();
    for (const CaptureNode& node : m_listed) devices.push_back({node.path, node.name, node.readable});
    if (devices.empty()) {
        Log(LogLevel::Error, "v4l2.list", "not found: no USB capture node under /sys/class/video4linux");
        return PlatformResult::NotFound;
    }
    return PlatformResult::Ok;
}

PlatformResult V4l2VideoPlatform::BindDevice(std::size_t index) {
    if (index >= m_listed.size()) return PlatformResult::NotFound;
    // Node numbers may have changed since the listing: go by the path.
    std::optional<CaptureNode> node = FindCaptureNode(m_listed[index].path);
    if (!node) {
        Log(LogLevel::Error, "v4l2.bind", "not found: no capture node has the path %s (was %s)",
            LogText(m_listed[index].path).c_str(), m_listed[index].node.c_str());
        return PlatformResult::NotFound;
    }
    UniqueFd fd(::open(node->node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) {
        // A node that does not open is not there for us, unless it is in use.
        const int error = errno;
        ErrnoFailure("v4l2.bind", "open", node->node, error);
        return error == EBUSY ? PlatformResult::Busy : PlatformResult::NotFound;
    }
    StopStream();
    m_graph.Disconnect();
    // A rebuild binds the same device again and keeps the formats it read.
    if (node->path != m_formatsPath) m_formats.clear();
    m_formatsPath = node->path;
    m_controls.reset();
    m_fd = std::move(fd);
    m_xu.Forget();  // the lengths are asked again on the new node
    m_controls = std::make_unique<V4l2Controls>(m_fd.Get(), node->node);
    m_bound = std::move(node);
    return PlatformResult::Ok;
}

// -- formats --------------------------------------------------------------------

PlatformResult V4l2VideoPlatform::ReadStreamCaps(StreamCaps& caps) {
    caps = StreamCaps();
    m_formats.clear();
    m_formatsPath = m_bound ? m_bound->path : std::wstring();
    if (!m_bound) return PlatformResult::Failed;
    const int fd = m_fd.Get();
    for (std::uint32_t i = 0;; ++i) {
        v4l2_fmtdesc desc{};
        desc.index = i;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (Xioctl(fd, VIDIOC_ENUM_FMT, &desc) != 0) {
            if (errno == EINVAL) break;  // the end of the list
            return ErrnoFailure("v4l2.caps", "VIDIOC_ENUM_FMT", m_bound->node, errno);
        }
        const Guid* subtype = SubtypeOf(desc.pixelformat);
        if (!subtype) continue;
        for (std::uint32_t j = 0;; ++j) {
            v4l2_frmsizeenum size{};
            size.index = j;
            size.pixel_format = desc.pixelformat;
            if (Xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) != 0) {
                if (errno == EINVAL) break;
                return ErrnoFailure("v4l2.caps", "VIDIOC_ENUM_FRAMESIZES", m_bound->node, errno);
            }
            // Stepwise and continuous ranges name no sizes to offer.
            if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) break;
            if (size.discrete.width == 0 || size.discrete.height == 0 || size.discrete.width > 65535 ||
                size.discrete.height > 65535)
                continue;
            FormatEntry entry;
            entry.cap.subtype = *subtype;
            entry.cap.videoInfo = true;
            entry.cap.width = static_cast<std::int32_t>(size.discrete.width);
            entry.cap.height = static_cast<std::int32_t>(size.discrete.height);
            entry.pixelFormat = desc.pixelformat;
            m_formats.push_back(entry);
            caps.entries.push_back(entry.cap);
        }
    }
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(fd, VIDIOC_G_FMT, &format) != 0) return ErrnoFailure("v4l2.caps", "VIDIOC_G_FMT", m_bound->node, errno);
    if (format.fmt.pix.width > 0 && format.fmt.pix.height > 0 && format.fmt.pix.width <= 65535 &&
        format.fmt.pix.height <= 65535) {
        caps.hasCurrent = true;
        caps.currentWidth = static_cast<std::int32_t>(format.fmt.pix.width);
        caps.currentHeight = static_cast<std::int32_t>(format.fmt.pix.height);
    }
    return PlatformResult::Ok;
}

PlatformResult V4l2VideoPlatform::SetStreamFormat(const Guid& subtype, std::int32_t width, std::int32_t height) {
    if (!m_bound) return PlatformResult::Failed;
    const FormatEntry* match = nullptr;
    for (const FormatEntry& entry : m_formats)
        if (entry.cap.subtype == subtype && entry.cap.width == width && entry.cap.height == height) {
            match = &entry;
            break;
        }
    if (!match) return PlatformResult::Ok;
    // The driver refuses a new format while buffers exist.
    if (m_stream.Active()) {
        StopStream();
        m_graph.SetRunning(false);
    }
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = static_cast<std::uint32_t>(width);
    format.fmt.pix.height = static_cast<std::uint32_t>(height);
    format.fmt.pix.pixelformat = match->pixelFormat;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (Xioctl(m_fd.Get(), VIDIOC_S_FMT, &format) != 0)
        return ErrnoFailure("v4l2.setformat", "VIDIOC_S_FMT", m_bound->node, errno);
    // The driver adjusts to what it can do; anything else than asked is a failure.
    if (format.fmt.pix.width != static_cast<std::uint32_t>(width) ||
        format.fmt.pix.height != static_cast<std::uint32_t>(height) ||
        format.fmt.pix.pixelformat != match->pixelFormat) {
        Log(LogLevel::Error, "v4l2.setformat", "failed: VIDIOC_S_FMT gave %ux%u for %dx%d on %s",
            static_cast<unsigned>(format.fmt.pix.width), static_cast<unsigned>(format.fmt.pix.height), width, height,
            m_bound->node.c_str());
        return PlatformResult::Failed;
    }
    return PlatformResult::Ok;
}

// -- streaming ------------------------------------------------------------------

PlatformResult V4l2VideoPlatform::ConnectGraph() {
    if (!m_graph.HasGraph() || !m_bound) return PlatformResult::Failed;
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(m_fd.Get(), VIDIOC_G_FMT, &format) != 0)
        return ErrnoFailure("v4l2.connect", "VIDIOC_G_FMT", m_bound->node, errno);
    const v4l2_pix_format& pix = format.fmt.pix;
    if (!SubtypeOf(pix.pixelformat) || pix.width == 0 || pix.height == 0 || pix.width > 65535 || pix.height > 65535) {
        Log(LogLevel::Error, "v4l2.connect", "failed: the node streams %ux%u of a format not read, on %s",
            static_cast<unsigned>(pix.width), static_cast<unsigned>(pix.height), m_bound->node.c_str());
        return PlatformResult::Failed;
    }
    {
        std::lock_guard<std::mutex> convertLock(m_convertMutex);  // before m_mutex, as ConvertLatest
        m_lastFrame = VideoFrame();
        m_lastBytes.reset();
        m_lastFrameSeq = 0;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_format.pixelFormat = pix.pixelformat;
    m_format.width = static_cast<std::int32_t>(pix.width);
    m_format.height = static_cast<std::int32_t>(pix.height);
    m_format.bytesPerLine = pix.bytesperline ? static_cast<std::int32_t>(pix.bytesperline) : m_format.width * 2;
    m_payload.reset();
    m_payloadSeq = 0;
    m_converted = 0;
    m_software.Reset(m_format.width, m_format.height);
    m_graph.Connect();
    return PlatformResult::Ok;
}

PlatformResult V4l2VideoPlatform::Run() {
    if (!m_graph.HasGraph() || !m_graph.Connected()) return PlatformResult::Failed;
    if (m_graph.Running()) return PlatformResult::Ok;
    const PlatformResult r = m_stream.Start(m_fd.Get(), m_bound->node, *this);
    if (!Ok(r)) return r;
    m_graph.SetRunning(true);
    return PlatformResult::Ok;
}

PlatformResult V4l2VideoPlatform::Stop() {
    if (!m_graph.HasGraph()) return PlatformResult::Failed;
    StopStream();
    m_software.Quiesce();  // no picture arrives after the stream stopped
    m_graph.SetRunning(false);
    return PlatformResult::Ok;
}

void V4l2VideoPlatform::OnPayload(const std::uint8_t* data, std::size_t size) {
    StreamFormat format;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        format = m_format;
    }
    if (format.pixelFormat == V4L2_PIX_FMT_MJPEG) {
        // A payload without a readable header is garbage, and one of another
        // size than the stream's would not fit the source rectangle: the
        // previous one stays.
        std::int32_t w = 0, h = 0;
        if (!m_headerReader.ReadSize(data, size, w, h) || w != format.width || h != format.height) return;
    } else {
        const std::int64_t need = static_cast<std::int64_t>(format.bytesPerLine) * (format.height - 1) +
                                  std::int64_t{format.width} * 2;
        if (static_cast<std::int64_t>(size) < need) return;  // a short frame
    }
    // Copy out of the driver's buffer before it is queued again, into the
    // spare vector when nobody else holds it.
    std::shared_ptr<std::vector<std::uint8_t>> copy;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        copy = std::move(m_spare);
    }
    if (!copy || copy.use_count() != 1) copy = std::make_shared<std::vector<std::uint8_t>>();
    copy->assign(data, data + size);

    // Only a shown preview is handed the payload; it reduces it to its
    // picture's scale on its own thread, and a still decodes it in full.
    const bool shown = m_software.Current().visible;
    WindowHandle frameTarget = nullptr;
    PreviewSink sink;
    std::shared_ptr<const std::vector<std::uint8_t>> current = copy;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_spare = std::move(m_payload);
        m_payload = std::move(copy);
        ++m_payloadSeq;
        frameTarget = m_graph.TakeFrameTarget();  // one notification per arming
        if (shown) sink = m_previewSink;
    }
    if (frameTarget) WindowBridge().SendFrameArrived(frameTarget);
    if (sink) {
        sink(std::make_shared<PreviewPayload>(std::move(current), format, m_previewReducer));
    }
}

void V4l2VideoPlatform::OnDeviceLost() {
    if (WindowHandle window = m_graph.QueueDeviceLost()) WindowBridge().PostGraphNotify(window);
}

bool V4l2VideoPlatform::ConvertLatest(VideoFrame& frame) {
    std::lock_guard<std::mutex> convertLock(m_convertMutex);
    std::shared_ptr<const std::vector<std::uint8_t>> payload;
    std::uint64_t seq = 0;
    StreamFormat format;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        payload = m_payload;
        seq = m_payloadSeq;
        format = m_format;
    }
    if (payload && seq != m_lastFrameSeq) {
        // The buffer of the frame before the last one, unless a still still
        // shares it: a frame handed out is never written.
        std::shared_ptr<std::vector<std::uint8_t>> bytes = std::move(m_spareFrame);
        if (!bytes || bytes.use_count() != 1) bytes = std::make_shared<std::vector<std::uint8_t>>();
        VideoFrame converted;
        bool ok = false;
        if (format.pixelFormat == V4L2_PIX_FMT_MJPEG) {
            const convert::DecodeResult r = m_decoder.Decode(payload->data(), payload->size(), *bytes, converted.width,
                                                             converted.height, converted.stride);
            ok = r != convert::DecodeResult::Failed && converted.width == format.width &&
                 converted.height == format.height;
        } else {
            converted.width = format.width;
            converted.height = format.height;
            converted.stride = Bgr24Stride(format.width);
            bytes->resize(static_cast<std::size_t>(converted.stride) * static_cast<std::size_t>(format.height));
            ok = convert::YuyvToBgr24BottomUp(payload->data(), payload->size(), format.bytesPerLine, format.width,
                                              format.height, bytes->data(), converted.stride);
        }
        m_lastFrameSeq = seq;  // a payload that failed is not tried again
        if (ok) {
            converted.bytes = bytes;
            m_spareFrame = std::move(m_lastBytes);
            m_lastBytes = std::move(bytes);
            m_lastFrame = std::move(converted);
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_converted;
        }
    }
    if (!m_lastFrame.bytes) return false;
    frame = m_lastFrame;
    return true;
}

PlatformResult V4l2VideoPlatform::SetEventWindow(WindowHandle window) { return m_graph.SetEventWindow(window); }

EventPoll V4l2VideoPlatform::GetGraphEvent(GraphEvent& event, unsigned waitMs) {
    return m_graph.GetGraphEvent(event, waitMs);
}

PlatformResult V4l2VideoPlatform::SetFrameNotify(WindowHandle window) { return m_graph.SetFrameNotify(window); }

PlatformResult V4l2VideoPlatform::GetLatestFrame(VideoFrame& frame) {
    if (!m_graph.Connected()) return PlatformResult::Failed;
    return ConvertLatest(frame) ? PlatformResult::Ok : PlatformResult::Failed;
}

// -- preview ----------------------------------------------------------------------

PlatformResult V4l2VideoPlatform::SetPreviewAutoShow(bool autoShow) {
    if (!m_graph.Connected()) return PlatformResult::Failed;
    m_software.SetAutoShow(autoShow);
    return PlatformResult::Ok;
}

PlatformResult V4l2VideoPlatform::AttachPreview(WindowHandle owner) {
    if (!m_graph.Connected()) return PlatformResult::Failed;
    m_software.SetOwner(owner);  // may wait for a picture on its way to the old owner
    return PlatformResult::Ok;
}

PlatformResult V4l2VideoPlatform::SetPreviewPosition(std::int32_t left, std::int32_t top, std::int32_t width,
                                                     std::int32_t height) {
    if (!m_graph.Connected()) return PlatformResult::Failed;
    m_software.SetPlacement(left, top, width, height);
    return PlatformResult::Ok;
}

PlatformResult V4l2VideoPlatform::ShowPreview(bool visible) {
    if (!m_graph.Connected()) return PlatformResult::Failed;
    m_software.SetVisible(visible);  // hiding may wait for a picture on its way
    return PlatformResult::Ok;
}

PlatformResult V4l2VideoPlatform::GetSourceRect(SourceRect& rect) {
    if (!m_graph.Connected()) return PlatformResult::Failed;
    rect = m_software.Current().source;
    return PlatformResult::Ok;
}

PlatformResult V4l2VideoPlatform::SetSourceRect(const SourceRect& rect) {
    if (!m_graph.Connected()) return PlatformResult::Failed;
    // As a renderer: an empty rectangle or one that leaves the frame is refused.
    return m_software.SetSourceRect(rect) ? PlatformResult::Ok : PlatformResult::Failed;
}

V4l2VideoPlatform::PreviewState V4l2VideoPlatform::Preview() const { return m_software.Current(); }

SourceRect V4l2VideoPlatform::Source() const { return m_software.Current().source; }

void V4l2VideoPlatform::SetPreviewSink(PreviewSink sink) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_previewSink = std::move(sink);
}

std::uint64_t V4l2VideoPlatform::PayloadsReceived() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_payloadSeq;
}

std::uint64_t V4l2VideoPlatform::FramesConverted() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_converted;
}

// -- device extras ------------------------------------------------------------------

PlatformResult V4l2VideoPlatform::ShowPropertyPages(WindowHandle, const std::wstring&) {
    return m_controls ? PlatformResult::Ok : PlatformResult::Failed;
}

PlatformResult V4l2VideoPlatform::OpenDevicePath(const std::wstring& path) {
    const std::optional<CaptureNode> node = FindCaptureNode(path);
    if (!node) return PlatformResult::NotFound;
    UniqueFd fd(::open(node->node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (fd.Valid()) return PlatformResult::Ok;
    // The dialog asks while it waits for the camera: an answer, not a failure.
    if (LogEnabled(LogLevel::Info))
        Log(LogLevel::Info, "v4l2.present", "not present: open failed with %s on %s", ErrnoName(errno).c_str(),
            node->node.c_str());
    return PlatformResult::NotFound;
}

std::optional<std::uint8_t> V4l2VideoPlatform::UnitId(const Guid& unit) const {
    if (!m_bound) return std::nullopt;
    const std::vector<std::uint8_t> descriptors = ReadSmallFile(m_bound->usbDevice + "/descriptors");
    return FindExtensionUnitId(descriptors.data(), descriptors.size(), unit);
}

PlatformResult V4l2VideoPlatform::FindExtensionUnit(const Guid& unit) {
    return UnitId(unit) ? PlatformResult::Ok : PlatformResult::NotFound;
}

PlatformResult V4l2VideoPlatform::ExtensionUnitGet(const Guid& unit, std::uint32_t selector, std::uint8_t* data,
                                                   std::size_t length) {
    const std::optional<std::uint8_t> id = UnitId(unit);
    if (!id) return PlatformResult::NotFound;
    if (selector > 0xFF) return PlatformResult::Failed;
    return m_xu.Get(m_fd.Get(), m_bound->node, *id, static_cast<std::uint8_t>(selector), data, length);
}

PlatformResult V4l2VideoPlatform::ExtensionUnitSet(const Guid& unit, std::uint32_t selector, const std::uint8_t* data,
                                                   std::size_t length) {
    const std::optional<std::uint8_t> id = UnitId(unit);
    if (!id) return PlatformResult::NotFound;
    if (selector > 0xFF) return PlatformResult::Failed;
    return m_xu.Set(m_fd.Get(), m_bound->node, *id, static_cast<std::uint8_t>(selector), data, length);
}

}  // namespace v4l2
}  // namespace kiv
