#include "kivds/camera/sim/SimVideoPlatform.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <utility>

#include "kivds/camera/ExtensionUnit.h"
#include "kivds/camera/IWindowBridge.h"
#include "kivds/camera/sim/SimPattern.h"
#include "kivds/platform/Log.h"

namespace kiv {
namespace sim {
namespace {

constexpr std::int32_t kFallbackWidth = 640;  // a device that names no size at all
constexpr std::int32_t kFallbackHeight = 480;

// The injected result of op on device; a failure is logged where it arises.
PlatformResult InjectedFor(const SimDevice& device, SimOp op) {
    const PlatformResult injected = device.Failure(op);
    if (!Ok(injected) && LogEnabled(LogLevel::Error)) {
        const std::string operation = std::string("sim.") + SimOpName(op);
        Log(LogLevel::Error, operation.c_str(), "%s (injected by KIVDS_SIM fail=%s:%s), device %s",
            SimFailureName(injected), SimOpName(op), SimFailureName(injected), LogText(device.name).c_str());
    }
    return injected;
}

// NotFound for an operation on the removed device, logged.
PlatformResult Lost(const char* operation, const SimDevice& device) {
    if (LogEnabled(LogLevel::Error)) {
        const std::string lose = device.loseAfterFrames ? std::to_string(*device.loseAfterFrames) : std::string("?");
        Log(LogLevel::Error, operation, "notfound: the device is gone (removed by KIVDS_SIM lose=%s), device %s",
            lose.c_str(), LogText(device.name).c_str());
    }
    return PlatformResult::NotFound;
}

}  // namespace

SimVideoPlatform::SimVideoPlatform(SimConfig config) : m_config(std::move(config)) {
    m_devices.resize(m_config.devices.size());
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        const SimDevice& d = m_config.devices[i];
        DeviceState& s = m_devices[i];
        s.hasCurrent = d.hasCurrent;
        s.width = d.currentWidth;
        s.height = d.currentHeight;
        s.subtype = d.caps.empty() ? MediaSubtypeMJPG : d.caps.front().subtype;
    }
}

SimVideoPlatform::~SimVideoPlatform() {
    std::unique_lock<std::mutex> lock(m_mutex);
    StopStreaming(lock);
}

const SimDevice* SimVideoPlatform::BoundDevice() const {
    return m_bound ? &m_config.devices[*m_bound] : nullptr;
}

PlatformResult SimVideoPlatform::Injected(SimOp op) const {
    const SimDevice* device = BoundDevice();
    return device ? InjectedFor(*device, op) : PlatformResult::Ok;
}

void SimVideoPlatform::StopStreaming(std::unique_lock<std::mutex>& lock) {
    if (!m_streamer.joinable()) return;
    m_stopRequested = true;
    m_changed.notify_all();
    std::thread streamer = std::move(m_streamer);
    lock.unlock();
    streamer.join();
    lock.lock();
    m_stopRequested = false;
}

// -- the thread and the graph -------------------------------------------------

PlatformResult SimVideoPlatform::InitializeThread() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_threadInits;
    return PlatformResult::Ok;
}

void SimVideoPlatform::UninitializeThread() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_threadInits > 0) --m_threadInits;
}

PlatformResult SimVideoPlatform::CreateGraph() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_threadInits == 0) return PlatformResult::Failed;
    m_graph = true;
    return PlatformResult::Ok;
}

void SimVideoPlatform::DisconnectGraph() {
    std::unique_lock<std::mutex> lock(m_mutex);
    StopStreaming(lock);
    m_running = false;
    m_connected = false;
    m_bound.reset();
    m_frameTarget = nullptr;
    m_latest.reset();
    lock.unlock();
    m_preview.SetVisible(false);
    m_preview.SetOwner(nullptr);
}

void SimVideoPlatform::ReleaseGraph() {
    std::unique_lock<std::mutex> lock(m_mutex);
    StopStreaming(lock);
    m_running = false;
    m_graph = false;
    m_eventWindow = nullptr;
    m_events.clear();
}

// -- devices ------------------------------------------------------------------

PlatformResult SimVideoPlatform::ListDevices(std::vector<VideoDevice>& devices) {
    std::lock_guard<std::mutex> lock(m_mutex);
    devices.clear();
    m_listed.clear();
    for (std::size_t i = 0; i < m_config.devices.size(); ++i) {
        if (m_devices[i].lost) continue;
        devices.push_back({m_config.devices[i].path, m_config.devices[i].name, true});
        m_listed.push_back(i);
    }
    // An empty video input category counts as a failure.
    if (!devices.empty()) return PlatformResult::Ok;
    Log(LogLevel::Error, "sim.list", "notfound: no device (KIVDS_SIM names none, or every one was removed)");
    return PlatformResult::NotFound;
}

PlatformResult SimVideoPlatform::BindDevice(std::size_t index) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (index >= m_listed.size()) return PlatformResult::NotFound;
    const std::size_t device = m_listed[index];
    if (m_devices[device].lost) return Lost("sim.bind", m_config.devices[device]);
    const PlatformResult injected = InjectedFor(m_config.devices[device], SimOp::Bind);
    if (!Ok(injected)) return injected;
    m_bound = device;
    return PlatformResult::Ok;
}

// -- formats ------------------------------------------------------------------

PlatformResult SimVideoPlatform::ReadStreamCaps(StreamCaps& caps) {
    std::lock_guard<std::mutex> lock(m_mutex);
    caps = StreamCaps();
    const SimDevice* device = BoundDevice();
    if (!device) return PlatformResult::Failed;
    const PlatformResult injected = InjectedFor(*device, SimOp::Caps);
    if (!Ok(injected)) return injected;
    const DeviceState& state = m_devices[*m_bound];
    caps.hasCurrent = state.hasCurrent;
    if (state.hasCurrent) {
        caps.currentWidth = state.width;
        caps.currentHeight = state.height;
    }
    caps.entries = device->caps;
    return PlatformResult::Ok;
}

PlatformResult SimVideoPlatform::SetStreamFormat(const Guid& subtype, std::int32_t width, std::int32_t height) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const SimDevice* device = BoundDevice();
    if (!device) return PlatformResult::Failed;
    const PlatformResult injected = InjectedFor(*device, SimOp::SetFormat);
    if (!Ok(injected)) return injected;
    for (const StreamCapability& cap : device->caps) {
        if (cap.videoInfo && cap.subtype == subtype && cap.width == width && cap.height == height) {
            DeviceState& state = m_devices[*m_bound];
            state.subtype = subtype;
            state.hasCurrent = true;
            state.width = width;
            state.height = height;
            break;
        }
    }
    return PlatformResult::Ok;
}

// -- streaming ----------------------------------------------------------------

PlatformResult SimVideoPlatform::ConnectGraph() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_graph || !m_bound) return PlatformResult::Failed;
    const PlatformResult injected = Injected(SimOp::Connect);
    if (!Ok(injected)) return injected;
    if (m_devices[*m_bound].lost) return Lost("sim.connect", *BoundDevice());
    const DeviceState& state = m_devices[*m_bound];
    const SimDevice& device = *BoundDevice();
    if (state.hasCurrent) {
        m_frameWidth = state.width;
        m_frameHeight = state.height;
    } else if (!device.caps.empty()) {
        m_frameWidth = device.caps.front().width;
        m_frameHeight = device.caps.front().height;
    } else {
        m_frameWidth = kFallbackWidth;
        m_frameHeight = kFallbackHeight;
    }
    m_connected = true;
    m_latest.reset();
    m_frames = 0;
    m_frameTarget = nullptr;
    m_preview.Reset(m_frameWidth, m_frameHeight);
    return PlatformResult::Ok;
}

PlatformResult SimVideoPlatform::Run() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_graph || !m_connected) return PlatformResult::Failed;
    const PlatformResult injected = Injected(SimOp::Run);
    if (!Ok(injected)) return injected;
    if (m_devices[*m_bound].lost) return Lost("sim.run", *BoundDevice());
    if (m_running) return PlatformResult::Ok;
    m_running = true;
    m_stopRequested = false;
    m_streamer = std::thread(&SimVideoPlatform::StreamLoop, this);
    return PlatformResult::Ok;
}

PlatformResult SimVideoPlatform::Stop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_graph) return PlatformResult::Failed;
    const PlatformResult injected = Injected(SimOp::Stop);
    if (!Ok(injected)) return injected;
    StopStreaming(lock);
    m_running = false;
    lock.unlock();
    m_preview.Quiesce();  // no picture arrives after the stream stopped
    return PlatformResult::Ok;
}

WindowHandle SimVideoPlatform::LoseBoundDevice() {
    m_devices[*m_bound].lost = true;
    if (LogEnabled(LogLevel::Info))
        Log(LogLevel::Info, "sim.stream", "device %s removed after %llu frames (KIVDS_SIM lose=)",
            LogText(BoundDevice()->name).c_str(), static_cast<unsigned long long>(m_frames));
    GraphEvent event;
    event.code = GraphEventCode::DeviceLost;
    event.removed = true;
    event.ofBoundDevice = true;
    m_events.push_back(event);
    m_changed.notify_all();
    return m_eventWindow;
}

void SimVideoPlatform::StreamLoop() {
    // Nothing may leave the thread: an exception there would end the
    // application's process through std::terminate. A stream that cannot make
    // its frames (no memory for a large pattern) simply delivers none, so
    // grabs fail as they do before the first frame.
    try {
        StreamFrames();
    } catch (...) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_latest.reset();
        m_changed.notify_all();
    }
}

void SimVideoPlatform::StreamFrames() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(m_mutex);
    const SimDevice& device = *BoundDevice();
    if (!Ok(Injected(SimOp::Stream))) throw std::bad_alloc();
    const auto interval = std::chrono::microseconds(1000000 / device.fps);
    if (!m_pattern || Bgr24Stride(m_frameWidth) * m_frameHeight != static_cast<std::int64_t>(m_pattern->size())) {
        const std::int32_t width = m_frameWidth, height = m_frameHeight;
        lock.unlock();
        auto pattern = MakePattern(width, height);  // once per size; every frame shares it
        lock.lock();
        m_pattern = std::move(pattern);
    }
    auto next = Clock::now() + interval;
    while (!m_stopRequested) {
        if (m_changed.wait_until(lock, next, [this] { return m_stopRequested; })) break;
        const auto now = Clock::now();
        next += interval;
        if (next < now) next = now + interval;  // fell behind: do not burst

        const std::optional<std::uint64_t> loseAfter = device.loseAfterFrames;
        WindowHandle frameTarget = nullptr;
        VideoFrame produced;
        if (!loseAfter || m_frames < *loseAfter) {
            m_latest = m_pattern;
            produced.width = m_frameWidth;
            produced.height = m_frameHeight;
            produced.stride = Bgr24Stride(m_frameWidth);
            produced.bytes = m_latest;
            ++m_frames;
            frameTarget = m_frameTarget;
            m_frameTarget = nullptr;  // one notification per arming
            m_changed.notify_all();
        }
        const bool lost = loseAfter && m_frames >= *loseAfter;
        WindowHandle eventWindow = lost ? LoseBoundDevice() : nullptr;
        // Deliver outside the lock: the receiver may call back into the camera.
        lock.unlock();
        if (produced.bytes) m_preview.OnFrame(produced);
        if (frameTarget) WindowBridge().SendFrameArrived(frameTarget);
        if (eventWindow) WindowBridge().PostGraphNotify(eventWindow);
        lock.lock();
        if (lost) break;  // a removed device sends nothing more
    }
}

PlatformResult SimVideoPlatform::SetEventWindow(WindowHandle window) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_graph) return PlatformResult::Failed;
    m_eventWindow = window;
    return PlatformResult::Ok;
}

EventPoll SimVideoPlatform::GetGraphEvent(GraphEvent& event, unsigned waitMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_graph) return EventPoll::Unavailable;
    if (!m_changed.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return !m_events.empty(); }))
        return EventPoll::Empty;
    event = m_events.front();
    m_events.pop_front();
    return EventPoll::Event;
}

PlatformResult SimVideoPlatform::SetFrameNotify(WindowHandle window) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_connected) return PlatformResult::Failed;
    m_frameTarget = window;
    return PlatformResult::Ok;
}

PlatformResult SimVideoPlatform::GetLatestFrame(VideoFrame& frame) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_connected) return PlatformResult::Failed;
    const PlatformResult injected = Injected(SimOp::Grab);
    if (!Ok(injected)) return injected;
    if (!m_latest) return PlatformResult::Failed;  // nothing buffered yet
    frame.width = m_frameWidth;
    frame.height = m_frameHeight;
    frame.stride = static_cast<std::int32_t>(Bgr24Stride(m_frameWidth));
    frame.bytes = m_latest;
    return PlatformResult::Ok;
}

// -- preview --------------------------------------------------------------------

PlatformResult SimVideoPlatform::SetPreviewAutoShow(bool autoShow) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_connected) return PlatformResult::Failed;
    const PlatformResult injected = Injected(SimOp::Preview);
    if (!Ok(injected)) return injected;
    m_preview.SetAutoShow(autoShow);
    return PlatformResult::Ok;
}

PlatformResult SimVideoPlatform::AttachPreview(WindowHandle owner) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_connected) return PlatformResult::Failed;
        if (owner) {
            const PlatformResult injected = Injected(SimOp::Preview);
            if (!Ok(injected)) return injected;
        }
    }
    m_preview.SetOwner(owner);  // may wait for a picture on its way to the old owner
    return PlatformResult::Ok;
}

PlatformResult SimVideoPlatform::SetPreviewPosition(std::int32_t left, std::int32_t top, std::int32_t width,
                                                    std::int32_t height) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_connected) return PlatformResult::Failed;
    const PlatformResult injected = Injected(SimOp::Preview);
    if (!Ok(injected)) return injected;
    m_preview.SetPlacement(left, top, width, height);
    return PlatformResult::Ok;
}

PlatformResult SimVideoPlatform::ShowPreview(bool visible) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_connected) return PlatformResult::Failed;
        if (visible) {
            const PlatformResult injected = Injected(SimOp::Preview);
            if (!Ok(injected)) return injected;
        }
    }
    m_preview.SetVisible(visible);  // hiding may wait for a picture on its way
    return PlatformResult::Ok;
}

PlatformResult SimVideoPlatform::GetSourceRect(SourceRect& rect) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_connected) return PlatformResult::Failed;
    const PlatformResult injected = Injected(SimOp::SourceRect);
    if (!Ok(injected)) return injected;
    rect = m_preview.Current().source;
    return PlatformResult::Ok;
}

PlatformResult SimVideoPlatform::SetSourceRect(const SourceRect& rect) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_connected) return PlatformResult::Failed;
    const PlatformResult injected = Injected(SimOp::SourceRect);
    if (!Ok(injected)) return injected;
    // A renderer refuses a rectangle that is empty or leaves the frame.
    return m_preview.SetSourceRect(rect) ? PlatformResult::Ok : PlatformResult::Failed;
}

// -- device extras ----------------------------------------------------------------

PlatformResult SimVideoPlatform::ShowPropertyPages(WindowHandle, const std::wstring&) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bound) return PlatformResult::Failed;
    // The simulated pages are closed at once.
    return Injected(SimOp::PropertyPages);
}

PlatformResult SimVideoPlatform::OpenDevicePath(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (std::size_t i = 0; i < m_config.devices.size(); ++i)
        if (!m_devices[i].lost && m_config.devices[i].path == path) return PlatformResult::Ok;
    return PlatformResult::NotFound;
}

PlatformResult SimVideoPlatform::FindExtensionUnit(const Guid& unit) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const SimDevice* device = BoundDevice();
    if (!device || m_devices[*m_bound].lost) return PlatformResult::NotFound;
    const PlatformResult injected = InjectedFor(*device, SimOp::Xu);
    if (!Ok(injected)) return injected;
    const bool present = (device->unit == SimUnit::A && unit == kExtensionUnitModelA) ||
                         (device->unit == SimUnit::B && unit == kExtensionUnitModelB);
    return present ? PlatformResult::Ok : PlatformResult::NotFound;
}

std::uint8_t SimVideoPlatform::NextButtonStatus() {
    const SimDevice& device = *BoundDevice();
    // Without a script the buttons rest: model B reports no bit, model A's
    // zoom bits are set while their buttons are up.
    if (device.buttons.empty()) return device.unit == SimUnit::A ? 0x42 : 0x00;
    DeviceState& state = m_devices[*m_bound];
    const std::uint8_t status = device.buttons[std::min(state.buttonRead, device.buttons.size() - 1)];
    if (state.buttonRead < device.buttons.size()) ++state.buttonRead;
    return status;
}

PlatformResult SimVideoPlatform::ExtensionUnitGet(const Guid& unit, std::uint32_t selector, std::uint8_t* data,
                                                  std::size_t length) {
    const PlatformResult found = FindExtensionUnit(unit);
    if (!Ok(found)) return found;
    std::lock_guard<std::mutex> lock(m_mutex);
    const SimDevice& device = *BoundDevice();
    const PlatformResult injected = InjectedFor(device, SimOp::XuGet);
    if (!Ok(injected)) return injected;
    if (!data) return PlatformResult::Failed;
    DeviceState& state = m_devices[*m_bound];
    // Anything but the tabled read is stalled by the device; a stalled read
    // does not advance the button script.
    if (device.unit == SimUnit::B) {
        if (selector != kModelBStatusSelector || length != 2) return PlatformResult::Failed;
        data[0] = NextButtonStatus();
        data[1] = 0;
        return PlatformResult::Ok;
    }
    if (selector != kModelARegisterSelector || length != 1) return PlatformResult::Failed;
    // Each register read needs the mode and address written before it.
    const bool selected = state.registerMode && state.registerSelected;
    state.registerMode = false;
    state.registerSelected = false;
    if (!selected) return PlatformResult::Failed;
    data[0] = NextButtonStatus();
    return PlatformResult::Ok;
}

PlatformResult SimVideoPlatform::ExtensionUnitSet(const Guid& unit, std::uint32_t selector, const std::uint8_t* data,
                                                  std::size_t length) {
    const PlatformResult found = FindExtensionUnit(unit);
    if (!Ok(found)) return found;
    std::lock_guard<std::mutex> lock(m_mutex);
    const SimDevice& device = *BoundDevice();
    const PlatformResult injected = InjectedFor(device, SimOp::XuSet);
    if (!Ok(injected)) return injected;
    if (!data || device.unit != SimUnit::A) return PlatformResult::Failed;  // model B's control is read-only
    DeviceState& state = m_devices[*m_bound];
    if (selector == kModelAModeSelector && length == 1 && data[0] == 0x02) {
        state.registerMode = true;
        state.registerSelected = false;
        return PlatformResult::Ok;
    }
    if (selector == kModelARegisterSelector && length == 2 && data[0] == 0x84 && data[1] == 0x01 &&
        state.registerMode) {
        state.registerSelected = true;
        return PlatformResult::Ok;
    }
    // A write out of order or of other bytes is stalled and drops the mode.
    state.registerMode = false;
    state.registerSelected = false;
    return PlatformResult::Failed;
}

// -- observation ------------------------------------------------------------------

SimVideoPlatform::PreviewState SimVideoPlatform::Preview() const { return m_preview.Current(); }

SourceRect SimVideoPlatform::Source() const { return m_preview.Current().source; }

std::uint64_t SimVideoPlatform::FramesProduced() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

bool SimVideoPlatform::IsStreaming() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running && m_streamer.joinable();
}

void SimVideoPlatform::FrameSize(std::int32_t& width, std::int32_t& height) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    width = m_frameWidth;
    height = m_frameHeight;
}

bool SimVideoPlatform::WaitForFrames(std::uint64_t count, unsigned timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool lostOrDone = m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return m_frames >= count || (m_bound && m_devices[*m_bound].lost);
    });
    return lostOrDone && m_frames >= count;
}

}  // namespace sim
}  // namespace kiv
