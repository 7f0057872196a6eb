#include "kivsane/StillCamera.h"

#include <algorithm>
#include <utility>

#include "kivds/camera/CameraLogic.h"
#include "kivds/camera/IVideoPlatform.h"
#include "kivds/image/ImageReference.h"
#include "kivds/platform/Log.h"
#include "kivsane/Signals.h"

namespace kiv {
namespace sane {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFirstFrameTimeoutMs = 5000;  // as the TWAIN source's wait without its dialog
constexpr int kPollMs = 10;

const char* CameraErrorText(int error) {
    switch (error) {
        case CAMERA_ERR_NOT_FOUND: return "camera not found or gone";
        case CAMERA_ERR_BUSY: return "camera in use by another program";
        default: return "camera failed";
    }
}

}  // namespace

StillCamera::StillCamera(DeviceEntry device) : m_device(std::move(device)) {}

StillCamera::~StillCamera() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    if (m_timer.joinable()) m_timer.join();
    Drop();
}

void StillCamera::Drop() {
    if (!m_camera) return;
    m_camera->Stop();
    m_camera->Close();
    m_camera.reset();
    m_hadFrame = false;
    m_stopPending = false;
}

SANE_Status StillCamera::Failure(const char* step) {
    const int error = LastCameraError;
    Log(LogLevel::Error, "sane.camera", "%s %s: %s", step, m_device.name.c_str(), CameraErrorText(error));
    Drop();
    return error == CAMERA_ERR_BUSY ? SANE_STATUS_DEVICE_BUSY : SANE_STATUS_IO_ERROR;
}

SANE_Status StillCamera::EnsureOpen() {
    if (m_camera) return SANE_STATUS_GOOD;
    std::unique_ptr<IVideoPlatform> platform = CreateVideoPlatform(m_device.backend);
    if (!platform) return SANE_STATUS_INVAL;
    auto camera = std::make_unique<CCameraLogic>(std::move(platform));
    camera->SetDevicePath(m_device.path);
    if (!camera->Open()) {
        m_camera = std::move(camera);
        return Failure("open");
    }
    m_camera = std::move(camera);
    return SANE_STATUS_GOOD;
}

SANE_Status StillCamera::Open() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const SANE_Status status = EnsureOpen();
    // A device that cannot be bound is not there for the frontend.
    if (status == SANE_STATUS_IO_ERROR && LastCameraError == CAMERA_ERR_NOT_FOUND) return SANE_STATUS_INVAL;
    return status;
}

bool StillCamera::DeviceInfo(CUVCDeviceInfo& info) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::unique_ptr<CUVCDeviceInfo> copy;
    if (!m_camera || !m_camera->GetDeviceInfo(copy) || !copy) return false;
    info = *copy;
    return true;
}

bool StillCamera::ReadButtons(CameraButtonState& state) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (EnsureOpen() != SANE_STATUS_GOOD) return false;
    return m_camera->PollButtons(&state) != 0;
}

bool StillCamera::Lost() {
    CUVCState state;
    return m_camera->HandleGraphEvents(state, 0) && state.state == CUVCState::CameraRemoved;
}

SANE_Status StillCamera::Grab(const GrabRequest& request, const CancelFlag& cancel,
                              std::unique_ptr<CImageReference>& still) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopPending = false;
    SANE_Status status = EnsureOpen();
    if (status != SANE_STATUS_GOOD) return status;
    if (Lost()) {
        LastCameraError = CAMERA_ERR_NOT_FOUND;
        return Failure("start");
    }
    const CUVCMediaFormat& chosen = m_camera->ChosenFormat();
    if (!m_camera->IsRunning() || chosen.type != request.formatType || !chosen.resolution.SameSize(request.frame)) {
        ScopedSignalBlock block;  // the camera's threads start with every signal blocked
        if (!m_camera->SetMediaFormat(request.formatType, request.frame)) return Failure("start");
        m_hadFrame = false;
        Log(LogLevel::Info, "sane.camera", "%s streams %s %dx%d", m_device.name.c_str(),
            request.formatType == UVCFMT_YUY2 ? "YUY2" : "MJPEG", request.frame.width, request.frame.height);
    }
    m_camera->SetZoom(static_cast<float>(request.zoom));

    // The first frame, then the settle time counted from it.
    const auto deadline = Clock::now() + std::chrono::milliseconds(kFirstFrameTimeoutMs);
    std::unique_ptr<CImageReference> image;
    while (!m_hadFrame) {
        if (m_camera->GrabStill(image)) {
            m_hadFrame = true;
            m_firstFrameAt = Clock::now();
            break;
        }
        if (Lost()) {
            LastCameraError = CAMERA_ERR_NOT_FOUND;
            return Failure("first frame");
        }
        if (Clock::now() >= deadline) {
            Log(LogLevel::Error, "sane.camera", "%s: no frame within %d ms", m_device.name.c_str(),
                kFirstFrameTimeoutMs);
            LastCameraError = CAMERA_ERR_FAILED;
            return Failure("first frame");
        }
        if (cancel.Wait(kPollMs)) return SANE_STATUS_CANCELLED;
    }
    const auto settled = m_firstFrameAt + std::chrono::milliseconds(request.settleMs);
    for (auto now = Clock::now(); now < settled; now = Clock::now()) {
        if (Lost()) {
            LastCameraError = CAMERA_ERR_NOT_FOUND;
            return Failure("settle");
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(settled - now).count();
        if (cancel.Wait(static_cast<int>(std::min<long long>(left + 1, kPollMs)))) return SANE_STATUS_CANCELLED;
    }
    if (cancel.Raised()) return SANE_STATUS_CANCELLED;
    if (!m_camera->GrabStill(image)) return Failure("grab");
    if (Lost()) {
        LastCameraError = CAMERA_ERR_NOT_FOUND;
        return Failure("grab");
    }
    still = std::move(image);
    StopLater(request.keepSeconds);
    return SANE_STATUS_GOOD;
}

void StillCamera::StopLater(int seconds) {
    if (seconds <= 0) {
        m_camera->Stop();
        m_hadFrame = false;
        return;
    }
    m_stopPending = true;
    m_stopAt = Clock::now() + std::chrono::seconds(seconds);
    if (!m_timer.joinable()) {
        ScopedSignalBlock block;
        m_timer = std::thread(&StillCamera::TimerLoop, this);
    }
    m_changed.notify_all();
}

void StillCamera::TimerLoop() {
    // Nothing may leave the thread (std::terminate would end the frontend).
    try {
        RunTimer();
    } catch (...) {
        Log(LogLevel::Error, "sane.camera", "keep-streaming timer of %s ended", m_device.name.c_str());
    }
}

void StillCamera::RunTimer() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        if (!m_stopPending) {
            m_changed.wait(lock);
            continue;
        }
        if (m_changed.wait_until(lock, m_stopAt, [this] { return m_quit || !m_stopPending; })) continue;
        m_stopPending = false;
        if (m_camera) {
            m_camera->Stop();
            m_hadFrame = false;
            Log(LogLevel::Info, "sane.camera", "%s stopped after the keep-streaming time", m_device.name.c_str());
        }
    }
}

}  // namespace sane
}  // namespace kiv
