#include "kivds/camera/SoftwarePreview.h"

#include <chrono>
#include <cstring>
#include <utility>

#include "kivds/image/Bgr24.h"

namespace kiv {
namespace {

// A placement larger than any screen is a mistake, not a picture to allocate.
constexpr std::int32_t kMaxPictureSide = 16384;
// How often a view that has not taken the last picture is asked again.
constexpr std::chrono::milliseconds kViewPoll{4};

bool Inside(const SourceRect& rect, std::int32_t frameWidth, std::int32_t frameHeight) {
    return rect.left >= 0 && rect.top >= 0 && rect.width > 0 && rect.height > 0 &&
           rect.width <= frameWidth - rect.left && rect.height <= frameHeight - rect.top;
}

}  // namespace

CSoftwarePreview::~CSoftwarePreview() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_stop = true;
    m_pending = VideoFrame();
    m_pendingPayload.reset();
    m_wake.notify_all();
    std::thread worker = std::move(m_thread);
    lock.unlock();
    if (worker.joinable()) worker.join();
}

void CSoftwarePreview::Interrupt(std::unique_lock<std::mutex>& lock) {
    ++m_generation;
    m_pending = VideoFrame();
    m_pendingPayload.reset();
    if (m_thread.joinable() && std::this_thread::get_id() == m_thread.get_id()) return;
    // The delivery loop takes no new frame while an interrupt waits: without
    // that, a stream that keeps offering frames could keep it busy forever.
    ++m_interrupting;
    m_idle.wait(lock, [this] { return !m_busy; });
    --m_interrupting;
    if (m_interrupting == 0 && Pending()) m_wake.notify_one();
}

void CSoftwarePreview::Reset(std::int32_t frameWidth, std::int32_t frameHeight) {
    std::unique_lock<std::mutex> lock(m_mutex);
    Interrupt(lock);
    m_settings = Settings();
    m_settings.frameWidth = frameWidth;
    m_settings.frameHeight = frameHeight;
    m_settings.source = SourceRect{0, 0, frameWidth, frameHeight};
}

void CSoftwarePreview::SetOwner(WindowHandle owner) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (owner != m_settings.owner) Interrupt(lock);
    m_settings.owner = owner;
}

void CSoftwarePreview::SetPlacement(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_generation;  // a picture of the old size is not delivered
    m_settings.left = left;
    m_settings.top = top;
    m_settings.width = width;
    m_settings.height = height;
}

void CSoftwarePreview::SetVisible(bool visible) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!visible) Interrupt(lock);
    m_settings.visible = visible;
}

void CSoftwarePreview::SetAutoShow(bool autoShow) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings.autoShow = autoShow;
}

bool CSoftwarePreview::SetSourceRect(const SourceRect& rect) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Inside(rect, m_settings.frameWidth, m_settings.frameHeight)) return false;
    ++m_generation;  // a picture of the old rectangle is not delivered
    m_settings.source = rect;
    return true;
}

CSoftwarePreview::Settings CSoftwarePreview::Current() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_settings;
}

void CSoftwarePreview::Quiesce() {
    std::unique_lock<std::mutex> lock(m_mutex);
    Interrupt(lock);
}

void CSoftwarePreview::OnFrame(const VideoFrame& frame) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stop || !Shown()) return;
    if (!IsWellFormed(frame) || frame.width != m_settings.frameWidth || frame.height != m_settings.frameHeight) return;
    m_pending = frame;  // replaces a frame that was not drawn yet
    m_pendingPayload.reset();
    Wake();
}

void CSoftwarePreview::OnPayload(std::shared_ptr<IPreviewPayload> payload) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stop || !Shown() || !payload) return;
    m_pendingPayload = std::move(payload);  // replaces one that was not reduced yet
    m_pending = VideoFrame();
    Wake();
}

void CSoftwarePreview::Wake() {
    if (!m_thread.joinable()) m_thread = std::thread(&CSoftwarePreview::DeliveryLoop, this);
    m_wake.notify_one();
}

void CSoftwarePreview::DeliveryLoop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || (Pending() && m_interrupting == 0); });
        if (m_stop) break;
        // The view has not taken the last picture: the waiting frame is not
        // drawn yet, so that newer ones replace it before it costs anything.
        if (Shown() && !WindowBridge().PreviewTaken(m_settings.owner)) {
            m_wake.wait_for(lock, kViewPoll);
            continue;
        }
        VideoFrame frame = std::move(m_pending);
        m_pending = VideoFrame();
        std::shared_ptr<IPreviewPayload> payload = std::move(m_pendingPayload);
        m_pendingPayload.reset();
        if (!Shown()) continue;
        const Settings settings = m_settings;
        const std::uint64_t generation = m_generation;
        m_busy = true;
        lock.unlock();
        SourceRect part = settings.source;
        std::shared_ptr<const PreviewPicture> picture;
        if (!payload || payload->Reduce(settings.source, settings.width, settings.height, frame, part))
            picture = Render(frame, part, settings);
        frame = VideoFrame();  // the backend may reuse the frame's buffer
        payload.reset();
        lock.lock();
        if (picture && generation == m_generation && Shown() && !m_stop) {
            const WindowHandle owner = m_settings.owner;
            lock.unlock();
            WindowBridge().PresentPreview(owner, std::move(picture));
            lock.lock();
        }
        picture.reset();
        m_busy = false;
        m_idle.notify_all();
    }
}

std::shared_ptr<PreviewPicture> CSoftwarePreview::FreeBuffer() {
    for (int i = 0; i < 2; ++i) {
        const int index = (m_nextBuffer + i) % 2;
        std::shared_ptr<PreviewPicture>& buffer = m_buffers[index];
        if (!buffer) buffer = std::make_shared<PreviewPicture>();
        // Only this object holds it: the view has let go of the picture.
        if (buffer.use_count() == 1) {
            m_nextBuffer = (index + 1) % 2;
            return buffer;
        }
    }
    // The view still holds both: the older one is left to it.
    std::shared_ptr<PreviewPicture>& replaced = m_buffers[m_nextBuffer];
    replaced = std::make_shared<PreviewPicture>();
    m_nextBuffer = (m_nextBuffer + 1) % 2;
    return replaced;
}

std::shared_ptr<const PreviewPicture> CSoftwarePreview::Render(const VideoFrame& frame, const SourceRect& src,
                                                               const Settings& settings) {
    const std::int32_t width = settings.width;
    const std::int32_t height = settings.height;
    if (!IsWellFormed(frame) || !Inside(src, frame.width, frame.height)) return nullptr;
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide) return nullptr;

    if (m_columnsLeft != src.left || m_columnsWidth != src.width || m_columnsOut != width) {
        m_columns.resize(static_cast<std::size_t>(width));
        for (std::int32_t dx = 0; dx < width; ++dx) {
            const std::int32_t sx = NearestSource(src.left, src.width, width, dx);
            m_columns[static_cast<std::size_t>(dx)] = static_cast<std::uint32_t>(sx) * 3u;
        }
        m_columnsLeft = src.left;
        m_columnsWidth = src.width;
        m_columnsOut = width;
    }

    std::shared_ptr<PreviewPicture> picture = FreeBuffer();
    const std::int32_t stride = Bgr24Stride(width);
    picture->left = settings.left;
    picture->top = settings.top;
    picture->width = width;
    picture->height = height;
    picture->stride = stride;
    picture->pixels.resize(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));

    const std::uint8_t* const source = frame.bytes->data();
    std::uint8_t* const target = picture->pixels.data();
    const std::size_t padding = static_cast<std::size_t>(stride - width * 3);
    // Rows in memory order on both sides (bottom-up): picture row y, y = 0 at
    // the top, comes from frame row src.top + y * src.height / height.
    for (std::int32_t row = 0; row < height; ++row) {
        const std::int32_t y = height - 1 - row;
        const std::int32_t sy = NearestSource(src.top, src.height, height, y);
        const std::uint8_t* in = source + static_cast<std::size_t>(frame.height - 1 - sy) *
                                              static_cast<std::size_t>(frame.stride);
        std::uint8_t* out = target + static_cast<std::size_t>(row) * static_cast<std::size_t>(stride);
        for (const std::uint32_t offset : m_columns) {
            out[0] = in[offset];
            out[1] = in[offset + 1];
            out[2] = in[offset + 2];
            out += 3;
        }
        if (padding) std::memset(out, 0, padding);
    }
    return picture;
}

}  // namespace kiv
