#include "kivds/camera/CameraLogic.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "kivds/camera/CameraControls.h"
#include "kivds/camera/DigitalZoom.h"
#include "kivds/camera/IWindowBridge.h"
#include "kivds/camera/ModelName.h"
#include "kivds/image/ImageReference.h"
#include "kivds/platform/Env.h"
#include "kivds/platform/Log.h"

namespace kiv {

int LastCameraError = 0;

namespace {

constexpr unsigned kGraphEventWaitMs = 200;

// Records what a failing platform result says about the camera; a plain
// failure is left for the operation to report as CAMERA_ERR_FAILED.
void NoteResult(PlatformResult r) {
    if (r == PlatformResult::NotFound) LastCameraError = CAMERA_ERR_NOT_FOUND;
    else if (r == PlatformResult::Busy) LastCameraError = CAMERA_ERR_BUSY;
}

// Ends an operation with failure: CAMERA_ERR_FAILED unless a step already
// left a reason.
int Fail() {
    if (LastCameraError == 0) LastCameraError = CAMERA_ERR_FAILED;
    return 0;
}

int FailWith(PlatformResult r) {
    NoteResult(r);
    return Fail();
}

struct Ratio {
    int width = 0;
    int height = 0;
    bool operator==(const Ratio& o) const { return width == o.width && height == o.height; }
};

Ratio ReduceToRatio(int width, int height) {
    const int smaller = std::min(width, height);
    const int larger = std::max(width, height);
    if (smaller <= 0) return {};
    const int divisor = (larger % smaller == 0) ? smaller : AspectGcd(smaller, larger % smaller);
    return {width / divisor, height / divisor};
}

// The video's height across the full client width. For the common display
// ratios (terms up to 16: 4:3, 16:9, 16:10, 5:4, 3:2) it is the whole number
// of ratio steps that fit the width, (client width / ratio width) x ratio
// height, as the preview has always been placed. A frame of a coarse ratio
// (1366x768 is 683:384, 854x480 is 427:240) fits few or no whole steps, and
// that rounding would lose most of the picture (0 pixels high for 1366x768 in
// a 640-pixel area), so there the height is the exact proportion, computed in
// 64 bits so that no product overflows.
int LetterboxHeight(int clientWidth, int ratioWidth, int ratioHeight) {
    constexpr int kStepRoundingUpTo = 16;
    if (ratioWidth <= kStepRoundingUpTo && ratioHeight <= kStepRoundingUpTo)
        return (clientWidth / ratioWidth) * ratioHeight;
    const std::int64_t exact = static_cast<std::int64_t>(clientWidth) * ratioHeight / ratioWidth;
    return static_cast<int>(std::clamp<std::int64_t>(exact, INT32_MIN, INT32_MAX));
}

}  // namespace

int AspectGcd(int a, int b) {
    if (a < b) std::swap(a, b);
    if (b <= 0) return -1;
    for (;;) {
        a %= b;
        if (a == 0) return b;
        std::swap(a, b);
    }
}

PreviewPlacement ComputePreviewPlacement(int clientWidth, int clientHeight, int frameWidth, int frameHeight) {
    const Ratio client = ReduceToRatio(clientWidth, clientHeight);
    const Ratio frame = ReduceToRatio(frameWidth, frameHeight);
    int top = 0;
    int bottom = clientHeight;
    // A frame without a size (0 : 0) has no ratio to keep: the video fills the
    // client area rather than dividing by zero.
    if (!(client == frame) && frame.width > 0) {
        const int videoHeight = LetterboxHeight(clientWidth, frame.width, frame.height);
        const int offset = (clientHeight - videoHeight) / 2;
        top += offset;
        bottom -= offset;
    }
    return {0, top, clientWidth, bottom - top};
}

SourceRect ComputeZoomRect(float factor, std::int32_t frameWidth, std::int32_t frameHeight, bool trim) {
    factor = std::clamp(factor, kMinZoom, kMaxZoom);
    SourceRect rect;
    rect.width = static_cast<std::int32_t>(static_cast<float>(frameWidth) / factor);
    rect.height = static_cast<std::int32_t>(static_cast<float>(frameHeight) / factor);
    rect.left = (frameWidth - rect.width) / 2;
    rect.top = (frameHeight - rect.height) / 2;
    if (rect.top == 0 && trim) {
        rect.top = 1;
        rect.height -= 2;
    }
    return rect;
}

CCameraLogic::CCameraLogic(std::unique_ptr<IVideoPlatform> platform) : m_platform(std::move(platform)) {}

CCameraLogic::~CCameraLogic() {
    m_deviceInfo.reset();
    TearDownGraph(true);
}

void CCameraLogic::ResetButtonState() {
    m_zoomFactor = 1.0f;
    m_buttonRepeat.Reset();
    m_registerReader.Reset();
}

int CCameraLogic::Open() {
    LastCameraError = 0;
    if (!m_deviceInfo) m_deviceInfo = std::make_unique<CUVCDeviceInfo>();
    m_deviceInfo->Clear();
    ResetButtonState();
    if (!BuildGraph(false)) return Fail();
    ApplyEnvironmentControls();
    return 1;
}

void CCameraLogic::ApplyEnvironmentControls() {
    const std::optional<std::string> text = GetEnv("KIVDS_CONTROLS");
    ICameraControls* controls = m_platform->CameraControls();
    if (!text || text->empty() || !controls) return;
    ControlAssignments assignments;
    std::string error;
    if (!ParseControlAssignments(*text, assignments, error)) {
        Log(LogLevel::Error, "camera.controls", "KIVDS_CONTROLS: %s", error.c_str());
        return;
    }
    for (const auto& [name, value] : assignments) {
        const ControlOutcome outcome = SetControlByName(*controls, name, value);
        if (!outcome.Ok()) Log(LogLevel::Error, "camera.controls", "KIVDS_CONTROLS: %s", outcome.message.c_str());
    }
}

void CCameraLogic::Close() { TearDownGraph(true); }

bool CCameraLogic::BuildGraph(bool rebuild) {
    if (!rebuild) {
        if (!m_threadInitialised) {
            const PlatformResult r = m_platform->InitializeThread();
            if (!Ok(r)) return NoteResult(r), false;
            m_threadInitialised = true;
        }
        const PlatformResult r = m_platform->CreateGraph();
        if (!Ok(r)) return NoteResult(r), false;
        m_graphCreated = true;
    }
    if (!BindDevice(rebuild)) return false;
    if (!rebuild && !EnumerateFormats()) return false;
    if (!ChooseFormat(rebuild)) return false;
    const PlatformResult r = m_platform->ConnectGraph();
    if (!Ok(r)) return NoteResult(r), false;
    m_connected = true;
    return true;
}

void CCameraLogic::TearDownGraph(bool full) {
    m_platform->DisconnectGraph();
    m_deviceBound = false;
    m_connected = false;
    if (!full) return;
    m_platform->ReleaseGraph();
    m_graphCreated = false;
    // Without a graph nothing streams; Run must not answer "already running".
    m_running = false;
    if (m_threadInitialised) {
        m_platform->UninitializeThread();
        m_threadInitialised = false;
    }
}

bool CCameraLogic::BindDevice(bool rebuild) {
    auto notFound = [] {
        LastCameraError = CAMERA_ERR_NOT_FOUND;
        return false;
    };
    if (rebuild && !m_deviceInfo) return notFound();
    std::vector<VideoDevice> devices;
    if (!Ok(m_platform->ListDevices(devices))) return notFound();
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const VideoDevice& device = devices[i];
        if (!device.readable) continue;
        const bool match = rebuild                 ? device.path == m_deviceInfo->devicePath
                           : !m_wantedPath.empty() ? device.path == m_wantedPath
                                                   : IsMakerDevicePath(device.path);
        if (!match) continue;
        // The first match decides; a failure to bind it is not followed by a
        // try on the next device.
        if (!Ok(m_platform->BindDevice(i))) return notFound();
        m_deviceBound = true;
        if (!rebuild) {
            m_deviceInfo->devicePath = device.path;
            m_deviceInfo->friendlyName = NormaliseModelName(device.path, device.friendlyName);
        }
        return true;
    }
    return notFound();
}

bool CCameraLogic::EnumerateFormats() {
    StreamCaps caps;
    const PlatformResult r = m_platform->ReadStreamCaps(caps);
    std::int32_t currentWidth = 0, currentHeight = 0;
    if (caps.hasCurrent) {
        currentWidth = caps.currentWidth;
        currentHeight = caps.currentHeight;
        // Recorded as MJPEG whatever the pin streams now: MJPEG is preferred
        // by ChooseFormat, which corrects the type when the camera has none.
        m_deviceInfo->currentFormat = CUVCMediaFormat(MediaSubtypeMJPG, UVCFMT_MJPEG,
                                                      CResolution(currentWidth, currentHeight, 1));
    }
    for (const StreamCapability& entry : caps.entries) {
        const int type = FormatTypeOfSubtype(entry.subtype);
        if (!entry.videoInfo || type == 0) continue;
        const int isDefault = (entry.width == currentWidth && entry.height == currentHeight) ? 1 : 0;
        m_deviceInfo->AddFormat(
            CUVCMediaFormat(entry.subtype, type, CResolution(entry.width, entry.height, isDefault)));
    }
    if (!Ok(r)) return NoteResult(r), false;
    return true;
}

bool CCameraLogic::ChooseFormat(bool rebuild) {
    if (rebuild) return ApplyFormat(m_chosenFormat);
    CUVCMediaFormat format = m_deviceInfo->currentFormat;
    const std::vector<int> types = m_deviceInfo->Types();
    if (std::find(types.begin(), types.end(), UVCFMT_MJPEG) != types.end()) {
        format.type = UVCFMT_MJPEG;
        format.subtype = MediaSubtypeMJPG;
    } else {
        format.type = UVCFMT_YUY2;
        format.subtype = MediaSubtypeYUY2;
    }
    const std::vector<CResolution> sizes = m_deviceInfo->Sizes(format.type);
    const bool listed = std::any_of(sizes.begin(), sizes.end(),
                                    [&](const CResolution& s) { return s.SameSize(format.resolution); });
    if (!listed && !sizes.empty()) {
        format.resolution = sizes.front();
        format.resolution.isDefault = 1;
    }
    m_deviceInfo->currentFormat = format;
    m_chosenFormat = format;
    return ApplyFormat(format);
}

bool CCameraLogic::ApplyFormat(const CUVCMediaFormat& format) {
    const PlatformResult r = m_platform->SetStreamFormat(format.subtype, format.resolution.width,
                                                         format.resolution.height);
    if (!Ok(r)) return NoteResult(r), false;
    return true;
}

int CCameraLogic::SetNotifyWindow(WindowHandle window) {
    LastCameraError = 0;
    if (!m_graphCreated) return Fail();
    m_notifyWindow = window;
    const PlatformResult r = m_platform->SetEventWindow(window);
    if (!Ok(r)) return FailWith(r);
    return 1;
}

bool CCameraLogic::TrimApplies() const {
    if (m_chosenFormat.type == UVCFMT_MJPEG) return true;
    return m_deviceInfo && SameModelName(m_deviceInfo->friendlyName, kModelC);
}

int CCameraLogic::SetPreviewWindow(WindowHandle window) {
    LastCameraError = 0;
    if (!m_connected) return Fail();
    if (!window) {
        const PlatformResult r = m_platform->SetPreviewAutoShow(false);
        if (!Ok(r)) return FailWith(r);
    } else {
        PlatformResult r = m_platform->AttachPreview(window);
        if (!Ok(r)) return FailWith(r);
        int clientWidth = 0, clientHeight = 0;
        if (!WindowBridge().GetClientSize(window, clientWidth, clientHeight)) return Fail();
        const PreviewPlacement place = ComputePreviewPlacement(clientWidth, clientHeight,
                                                               m_chosenFormat.resolution.width,
                                                               m_chosenFormat.resolution.height);
        r = m_platform->SetPreviewPosition(place.left, place.top, place.width, place.height);
        if (!Ok(r)) return FailWith(r);
        r = m_platform->ShowPreview(true);
        if (!Ok(r)) return FailWith(r);
        m_previewWindow = window;
    }
    if (!m_graphCreated) return Fail();
    if (TrimApplies()) {
        const SourceRect rect{0, 1, m_chosenFormat.resolution.width, m_chosenFormat.resolution.height - 2};
        const PlatformResult r = m_platform->SetSourceRect(rect);
        if (!Ok(r)) return FailWith(r);
    }
    return 1;
}

int CCameraLogic::Run() {
    LastCameraError = 0;
    if (m_running) return 1;
    if (!m_graphCreated) return Fail();
    const PlatformResult r = m_platform->Run();
    if (!Ok(r)) {
        LastCameraError = (r == PlatformResult::Busy) ? CAMERA_ERR_BUSY : CAMERA_ERR_NOT_FOUND;
        return 0;
    }
    m_running = true;
    ResetButtonState();
    return 1;
}

int CCameraLogic::Stop() {
    LastCameraError = 0;
    if (!m_running) return 1;
    if (!m_graphCreated || !m_connected) return Fail();
    PlatformResult r = m_platform->Stop();
    if (!Ok(r)) return FailWith(r);
    r = m_platform->ShowPreview(false);
    if (!Ok(r)) return FailWith(r);
    r = m_platform->AttachPreview(nullptr);
    if (!Ok(r)) return FailWith(r);
    m_running = false;
    return 1;
}

int CCameraLogic::SetMediaFormat(int type, const CResolution& size) {
    LastCameraError = 0;
    SubtypeOfFormatType(type, m_chosenFormat.subtype);  // other types keep the subtype
    m_chosenFormat.type = type;
    m_chosenFormat.resolution = size;
    if (!Stop()) return Fail();
    TearDownGraph(false);
    if (!BuildGraph(true)) return Fail();
    if (!SetNotifyWindow(m_notifyWindow)) return Fail();
    if (!SetPreviewWindow(m_previewWindow)) return Fail();
    if (!Run()) return Fail();
    return 1;
}

int CCameraLogic::GetDeviceInfo(std::unique_ptr<CUVCDeviceInfo>& out) {
    LastCameraError = 0;
    if (!m_deviceInfo) return Fail();
    out = std::make_unique<CUVCDeviceInfo>(*m_deviceInfo);
    return 1;
}

int CCameraLogic::HandleGraphEvents(CUVCState& state) { return HandleGraphEvents(state, kGraphEventWaitMs); }

int CCameraLogic::HandleGraphEvents(CUVCState& state, unsigned waitMs) {
    LastCameraError = 0;
    if (!m_graphCreated) return Fail();
    state.state = CUVCState::NoEvent;
    GraphEvent event;
    while (m_platform->GetGraphEvent(event, waitMs) == EventPoll::Event) {
        if (event.code == GraphEventCode::DeviceLost && event.removed && event.ofBoundDevice)
            state.state = CUVCState::CameraRemoved;
        event = GraphEvent();
    }
    return 1;
}

int CCameraLogic::SetFrameCallback(WindowHandle window, int enable) {
    LastCameraError = 0;
    if (enable && !window) return Fail();
    if (!m_connected) return Fail();
    m_platform->SetFrameNotify(enable ? window : nullptr);
    return 1;
}

int CCameraLogic::GrabStill(std::unique_ptr<CImageReference>& out) {
    LastCameraError = 0;
    if (!m_connected || !m_graphCreated) return Fail();
    VideoFrame frame;
    const PlatformResult r = m_platform->GetLatestFrame(frame);
    if (!Ok(r)) return FailWith(r);
    // A frame whose rows cannot hold its width, or whose size is not its
    // stride times its height, would be read sheared or past its end: refuse it.
    if (!IsWellFormed(frame)) return Fail();
    // The still shares the frame (immutable once handed over) instead of
    // copying it; the zoom below is kept as a map applied by the transfer.
    auto image = std::make_unique<CImageReference>();
    if (!image->SetFrame(std::move(frame.bytes), frame.width, frame.height, frame.stride)) return Fail();
    CImageReference* still = image.get();
    out = std::move(image);
    SourceRect source;
    const PlatformResult s = m_platform->GetSourceRect(source);
    if (!Ok(s)) return FailWith(s);
    if (source.left != 0 || source.top != 0)
        still->CropAndStretch(source.left, source.top, source.width, source.height);
    return 1;
}

int CCameraLogic::ShowPropertyPages(WindowHandle owner, const std::wstring& caption) {
    LastCameraError = 0;
    if (!m_deviceBound) return Fail();
    const PlatformResult r = m_platform->ShowPropertyPages(owner, caption);
    if (!Ok(r)) return FailWith(r);
    // A backend with controls of its own: the UI shows them, modal to owner.
    if (ICameraControls* controls = m_platform->CameraControls()) {
        if (!WindowBridge().ShowCameraControls(owner, caption, *controls)) return Fail();
    }
    return 1;
}

int CCameraLogic::HasPropertyPages() {
    // A backend with a controls model has its window, which says so when the
    // camera lists no controls.
    if (m_platform->CameraControls()) return 1;
    return m_platform->HasPropertyPages() ? 1 : 0;
}

ICameraControls* CCameraLogic::CameraControls() { return m_deviceBound ? m_platform->CameraControls() : nullptr; }

int CCameraLogic::ReadButtonsStatus(CameraButtonState& state) {
    if (!m_deviceBound) return 0;
    return kiv::ReadButtonsStatus(*m_platform, state);
}

int CCameraLogic::ReadButtonsRegister(CameraButtonState& state) {
    if (!m_deviceBound || !m_deviceInfo) return 0;
    return m_registerReader.Read(*m_platform, m_deviceInfo->devicePath, state);
}

int CCameraLogic::PollButtons(CameraButtonState* state) {
    if (!state || !m_deviceInfo) return 0;
    *state = CameraButtonState();
    int read = 0;
    switch (ButtonReadOfModel(m_deviceInfo->friendlyName)) {
        case ButtonRead::None: return 0;
        case ButtonRead::Status: read = ReadButtonsStatus(*state); break;
        case ButtonRead::Register: read = ReadButtonsRegister(*state); break;
        case ButtonRead::StatusThenRegister:
            read = ReadButtonsStatus(*state);
            if (!read) read = ReadButtonsRegister(*state);
            break;
    }
    if (read && m_buttonRepeat.Poll(*state, m_zoomFactor)) {
        // The poll reports nothing: neither SetZoom's result nor its error
        // code outlives it.
        const int lastError = LastCameraError;
        SetZoom(m_zoomFactor);
        LastCameraError = lastError;
    }
    return read;
}

int CCameraLogic::IsDevicePresent(const std::wstring& modelName) {
    std::vector<VideoDevice> devices;
    if (!Ok(m_platform->ListDevices(devices))) {
        LastCameraError = CAMERA_ERR_NOT_FOUND;
        return 0;
    }
    bool lastUnreadable = false;
    for (const VideoDevice& device : devices) {
        lastUnreadable = !device.readable;
        if (!device.readable || !IsMakerDevicePath(device.path)) continue;
        if (SameModelName(NormaliseModelName(device.path, device.friendlyName), modelName)) return 1;
    }
    if (lastUnreadable) LastCameraError = CAMERA_ERR_NOT_FOUND;
    return 0;
}

int CCameraLogic::SetZoom(float factor) {
    LastCameraError = 0;
    if (!m_graphCreated) return Fail();
    const SourceRect rect = ComputeZoomRect(factor, m_chosenFormat.resolution.width, m_chosenFormat.resolution.height,
                                            TrimApplies());
    m_platform->SetSourceRect(rect);  // a rectangle the renderer refuses changes nothing
    return 1;
}

}  // namespace kiv
