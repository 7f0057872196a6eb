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

SimVideoPlatform::SimVideoPlatform(SimConfig config) {
    m_devices.reserve(config.devices.size());
    for (SimDevice& device : config.devices) m_devices.emplace_back(std::move(device));
}

SimVideoPlatform::~SimVideoPlatform() {
    std::unique_lock<std::mutex> lock(m_mutex);
    StopStreaming(lock);
}

VirtualDevice* SimVideoPlatform::Bound() { return m_bound ? &m_devices[*m_bound] : nullptr; }

const VirtualDevice* SimVideoPlatform::Bound() const { return m_bound ? &m_devices[*m_bound] : nullptr; }

PlatformResult SimVideoPlatform::Injected(SimOp op) const {
    const VirtualDevice* device = Bound();
    return device ? InjectedFor(device->Description(), op) : PlatformResult::Ok;
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

PlatformResult SimVideoPlatform::InitializeThread() { return m_graph.InitializeThread(); }

void SimVideoPlatform::UninitializeThread() { m_graph.UninitializeThread(); }

PlatformResult SimVideoPlatform::CreateGraph() { return m_graph.CreateGraph(); }

void SimVideoPlatform::DisconnectGraph() {
    std::unique_lock<std::mutex> lock(m_mutex);
    StopStreaming(lock);
    m_graph.Disconnect();
    m_bound.reset();
    m_latest.reset();
    lock.unlock();
    m_preview.SetVisible(false);
    m_preview.SetOwner(nullptr);
}

void SimVideoPlatform::ReleaseGraph() {
    std::unique_lock<std::mutex> lock(m_mutex);
    StopStreaming(lock);
    m_graph.Release();
}

// -- devices ------------------------------------------------------------------

PlatformResult SimVideoPlatform::ListDevices(std::vector<VideoDevice>& devices) {
    std::lock_guard<std::mutex> lock(m_mutex);
    devices.clear();
    m_listed.clear();
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        if (m_devices[i].Lost()) continue;
        const SimDevice& description = m_devices[i].Description();
        devices.push_back({description.path, description.name, true});
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
    if (m_devices[device].Lost()) return Lost("sim.bind", m_devices[device].Description());
    const PlatformResult injected = InjectedFor(m_devices[device].Description(), SimOp::Bind);
    if (!Ok(injected)) return injected;
    m_bound = device;
    return PlatformResult::Ok;
}

// -- formats ------------------------------------------------------------------

PlatformResult SimVideoPlatform::ReadStreamCaps(StreamCaps& caps) {
    std::lock_guard<std::mutex> lock(m_mutex);
    caps = StreamCaps();
    const VirtualDevice* device = Bound();
    if (!device) return PlatformResult::Failed;
    const PlatformResult injected = Injected(SimOp::Caps);
    if (!Ok(injected)) return injected;
    caps.hasCurrent = device->HasCurrent();
    if (caps.hasCurrent) {
        caps.currentWidth = device->Width();
        caps.currentHeight = device->Height();
    }
    caps.entries = device->Caps();
    return PlatformResult::Ok;
}

PlatformResult SimVideoPlatform::SetStreamFormat(const Guid& subtype, std::int32_t width, std::int32_t height) {
    std::lock_guard<std::mutex> lock(m_mutex);
    VirtualDevice* device = Bound();
    if (!device) return PlatformResult::Failed;
    const PlatformResult injected = Injected(SimOp::SetFormat);
    if (!Ok(injected)) return injected;
    device->SetFormat(subtype, width, height);  // no match: nothing changes
    return PlatformResult::Ok;
}

// -- streaming ----------------------------------------------------------------

PlatformResult SimVideoPlatform::ConnectGraph() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_graph.HasGraph() || !m_bound) return PlatformResult::Failed;
    const PlatformResult injected = Injected(SimOp::Connect);
    if (!Ok(injected)) return injected;
    const VirtualDevice& device = *Bound();
    if (device.Lost()) return Lost("sim.connect", device.Description());
    device.StreamSize(m_frameWidth, m_frameHeight);
    m_graph.Connect();
    m_latest.reset();
    m_frames = 0;
    m_preview.Reset(m_frameWidth, m_frameHeight);
    return PlatformResult::Ok;
}

PlatformResult SimVideoPlatform::Run() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_graph.HasGraph() || !m_graph.Connected()) return PlatformResult::Failed;
    const PlatformResult injected = Injected(SimOp::Run);
    if (!Ok(injected)) return injected;
    if (Bound()->Lost()) return Lost("sim.run", Bound()->Description());
    if (m_graph.Running()) return PlatformResult::Ok;
    m_graph.SetRunning(true);
    m_stopRequested = false;
    m_streamer = std::thread(&SimVideoPlatform::StreamLoop, this);
    return PlatformResult::Ok;
}

PlatformResult SimVideoPlatform::Stop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_graph.HasGraph()) return PlatformResult::Failed;
    const PlatformResult injected = Injected(SimOp::Stop);
    if (!Ok(injected)) return injected;
    StopStreaming(lock);
    m_graph.SetRunning(false);
    lock.unlock();
    m_preview.Quiesce();  // no picture arrives after the stream stopped
    return PlatformResult::Ok;
}

WindowHandle SimVideoPlatform::LoseBoundDevice() {
    VirtualDevice& device = *Bound();
    device.Lose();
    if (LogEnabled(LogLevel::Info))
        Log(LogLevel::Info, "sim.stream", "device %s removed after %llu frames (KIVDS_SIM lose=)",
            LogText(device.Description().name).c_str(), static_cast<unsigned long long>(m_frames));
    m_changed.notify_all();
    return m_graph.QueueDeviceLost();
}

void SimVideoPlatform::Unplug() {
    WindowHandle eventWindow = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Bound() || Bound()->Lost()) return;
        eventWindow = LoseBoundDevice();
    }
    if (eventWindow) WindowBridge().PostGraphNotify(eventWindow);
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
    const VirtualDevice& device = *Bound();
    if (!Ok(Injected(SimOp::Stream))) throw std::bad_alloc();
    const auto interval = std::chrono::microseconds(1000000 / device.Description().fps);
    // Once per size and brightness; every frame shares it.
    const auto makePattern = [&] {
        if (m_pattern && Bgr24Stride(m_frameWidth) * m_frameHeight == static_cast<std::int64_t>(m_pattern->size()) &&
            m_patternShift == device.Controls().BrightnessShift())
            return;
        const std::int32_t width = m_frameWidth, height = m_frameHeight;
        const int shift = device.Controls().BrightnessShift();
        lock.unlock();
        auto pattern = MakePattern(width, height, shift);
        lock.lock();
        m_pattern = std::move(pattern);
        m_patternShift = shift;
    };
    makePattern();
    auto next = Clock::now() + interval;
    while (!m_stopRequested) {
        if (m_changed.wait_until(lock, next, [this] { return m_stopRequested; })) break;
        const auto now = Clock::now();
        next += interval;
        if (next < now) next = now + interval;  // fell behind: do not burst
        makePattern();
        if (m_stopRequested || device.Lost()) break;  // a removed device sends nothing more

        WindowHandle frameTarget = nullptr;
        VideoFrame produced;
        if (!device.LosesAfter(m_frames)) {
            m_latest = m_pattern;
            produced.width = m_frameWidth;
            produced.height = m_frameHeight;
            produced.stride = Bgr24Stride(m_frameWidth);
            produced.bytes = m_latest;
            ++m_frames;
            frameTarget = m_graph.TakeFrameTarget();  // one notification per arming
            m_changed.notify_all();
        }
        const bool lost = device.LosesAfter(m_frames);
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

PlatformResult SimVideoPlatform::SetEventWindow(WindowHandle window) { return m_graph.SetEventWindow(window); }

EventPoll SimVideoPlatform::GetGraphEvent(GraphEvent& event, unsigned waitMs) {
    return m_graph.GetGraphEvent(event, waitMs);
}

PlatformResult SimVideoPlatform::SetFrameNotify(WindowHandle window) { return m_graph.SetFrameNotify(window); }

PlatformResult SimVideoPlatform::GetLatestFrame(VideoFrame& frame) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_graph.Connected()) return PlatformResult::Failed;
    const PlatformResult injected = Injected(SimOp::Grab);
    if (!Ok(injected)) return injected;
    if (!m_latest) return PlatformResult::Failed;  // nothing buffered yet
    // A brightness set since the last frame: the next frame shows it, made now.
    const VirtualDevice* device = Bound();
    const int shift = device ? device->Controls().BrightnessShift() : 0;
    if (m_patternShift != shift) {
        if (auto pattern = MakePattern(m_frameWidth, m_frameHeight, shift)) {
            m_pattern = std::move(pattern);
            m_patternShift = shift;
            m_latest = m_pattern;
        }
    }
    frame.width = m_frameWidth;
    frame.height = m_frameHeight;
    frame.stride = static_cast<std::int32_t>(Bgr24Stride(m_frameWidth));
    frame.bytes = m_latest;
    return PlatformResult::Ok;
}

// -- preview --------------------------------------------------------------------

PlatformResult SimVideoPlatform::SetPreviewAutoShow(bool autoShow) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_graph.Connected()) return PlatformResult::Failed;
    const PlatformResult injected = Injected(SimOp::Preview);
    if (!Ok(injected)) return injected;
    m_preview.SetAutoShow(autoShow);
    return PlatformResult::Ok;
}

PlatformResult SimVideoPlatform::AttachPreview(WindowHandle owner) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_graph.Connected()) return PlatformResult::Failed;
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
    if (!m_graph.Connected()) return PlatformResult::Failed;
    const PlatformResult injected = Injected(SimOp::Preview);
    if (!Ok(injected)) return injected;
    m_preview.SetPlacement(left, top, width, height);
    return PlatformResult::Ok;
}

PlatformResult SimVideoPlatform::ShowPreview(bool visible) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_graph.Connected()) return PlatformResult::Failed;
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
    if (!m_graph.Connected()) return PlatformResult::Failed;
    const PlatformResult injected = Injected(SimOp::SourceRect);
    if (!Ok(injected)) return injected;
    rect = m_preview.Current().source;
    return PlatformResult::Ok;
}

PlatformResult SimVideoPlatform::SetSourceRect(const SourceRect& rect) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_graph.Connected()) return PlatformResult::Failed;
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

ICameraControls* SimVideoPlatform::CameraControls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bound ? &m_controls : nullptr;
}

PlatformResult SimVideoPlatform::OpenDevicePath(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const VirtualDevice& device : m_devices)
        if (!device.Lost() && device.Description().path == path) return PlatformResult::Ok;
    return PlatformResult::NotFound;
}

PlatformResult SimVideoPlatform::FindExtensionUnit(const Guid& unit) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const VirtualDevice* device = Bound();
    if (!device || device->Lost()) return PlatformResult::NotFound;
    const PlatformResult injected = Injected(SimOp::Xu);
    if (!Ok(injected)) return injected;
    return device->HasUnit(unit) ? PlatformResult::Ok : PlatformResult::NotFound;
}

PlatformResult SimVideoPlatform::Answer(XuAnswer answer, const Guid& unit, SimOp op) const {
    switch (answer) {
        case XuAnswer::Ok: return PlatformResult::Ok;
        case XuAnswer::Gone: return PlatformResult::NotFound;
        case XuAnswer::Injected:  // the unit hidden, or its GETs or SETs failing
            return Ok(Bound()->Failure(SimOp::Xu)) ? Injected(op) : Injected(SimOp::Xu);
        case XuAnswer::NoControl:  // no such unit, or a selector the unit has not
            return Bound()->HasUnit(unit) ? PlatformResult::Failed : PlatformResult::NotFound;
        default:  // a size or direction refused, or a stall
            return PlatformResult::Failed;
    }
}

PlatformResult SimVideoPlatform::ExtensionUnitGet(const Guid& unit, std::uint32_t selector, std::uint8_t* data,
                                                  std::size_t length) {
    std::lock_guard<std::mutex> lock(m_mutex);
    VirtualDevice* device = Bound();
    if (!device) return PlatformResult::NotFound;
    return Answer(device->Get(unit, selector, data, length, XuLength::Protocol), unit, SimOp::XuGet);
}

PlatformResult SimVideoPlatform::ExtensionUnitSet(const Guid& unit, std::uint32_t selector, const std::uint8_t* data,
                                                  std::size_t length) {
    std::lock_guard<std::mutex> lock(m_mutex);
    VirtualDevice* device = Bound();
    if (!device) return PlatformResult::NotFound;
    return Answer(device->Set(unit, selector, data, length, XuLength::Protocol), unit, SimOp::XuSet);
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
    return m_graph.Running() && m_streamer.joinable();
}

void SimVideoPlatform::FrameSize(std::int32_t& width, std::int32_t& height) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    width = m_frameWidth;
    height = m_frameHeight;
}

bool SimVideoPlatform::WaitForFrames(std::uint64_t count, unsigned timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool lostOrDone = m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return m_frames >= count || (m_bound && m_devices[*m_bound].Lost());
    });
    return lostOrDone && m_frames >= count;
}

}  // namespace sim
}  // namespace kiv
