// The camera logic: builds, runs and tears down the capture graph through an
// IVideoPlatform, binds the maker's camera, chooses its format, places the
// preview, applies the digital zoom and grabs stills. Platform independent;
// all OS work happens behind the IVideoPlatform it owns.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kivds/camera/ButtonReader.h"
#include "kivds/camera/IKIVCameraControl.h"
#include "kivds/camera/IVideoPlatform.h"

namespace kiv {

// Where the preview goes inside a client area of the given size so that it
// keeps the frame's aspect ratio across the full width.
struct PreviewPlacement {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};
PreviewPlacement ComputePreviewPlacement(int clientWidth, int clientHeight, int frameWidth, int frameHeight);

// Greatest common divisor as the aspect-ratio reduction uses it: -1 when the
// smaller argument is 0 or less.
int AspectGcd(int a, int b);

// The source rectangle of a digital zoom (factor clamped to 1.0 ... 8.0).
SourceRect ComputeZoomRect(float factor, std::int32_t frameWidth, std::int32_t frameHeight, bool trim);

class CCameraLogic : public IKIVCameraControl {
public:
    explicit CCameraLogic(std::unique_ptr<IVideoPlatform> platform);
    ~CCameraLogic() override;
    CCameraLogic(const CCameraLogic&) = delete;
    CCameraLogic& operator=(const CCameraLogic&) = delete;

    int Open() override;
    void Close() override;
    int SetNotifyWindow(WindowHandle window) override;
    int SetPreviewWindow(WindowHandle window) override;
    int Run() override;
    int Stop() override;
    int SetMediaFormat(int type, const CResolution& size) override;
    int GetDeviceInfo(std::unique_ptr<CUVCDeviceInfo>& out) override;
    int HandleGraphEvents(CUVCState& state) override;
    int SetFrameCallback(WindowHandle window, int enable) override;
    int GrabStill(std::unique_ptr<CImageReference>& out) override;
    int ShowPropertyPages(WindowHandle owner, const std::wstring& caption) override;
    int HasPropertyPages() override;
    ICameraControls* CameraControls() override;
    int PollButtons(CameraButtonState* state) override;
    int IsDevicePresent(const std::wstring& modelName) override;

    // Sets the preview's source rectangle for a digital zoom factor.
    int SetZoom(float factor);

    // The device Open binds: the listed device with exactly this path instead
    // of the first of the maker's devices (empty: the maker's first again).
    // For hosts that let the user choose among several cameras.
    void SetDevicePath(const std::wstring& path) { m_wantedPath = path; }

    // HandleGraphEvents waiting at most waitMs for the first event (0: only
    // what is queued now), for a host that polls the camera between frames.
    int HandleGraphEvents(CUVCState& state, unsigned waitMs);

    // Model B's and model A's button reads (slot 13 chooses by model name):
    // 1 when the state was read; 0 without a bound device or device record,
    // without the unit, or when model A's camera is gone.
    int ReadButtonsStatus(CameraButtonState& state);
    int ReadButtonsRegister(CameraButtonState& state);

    // State, for the button logic and for tests.
    const CUVCMediaFormat& ChosenFormat() const { return m_chosenFormat; }
    float ZoomFactor() const { return m_zoomFactor; }
    bool IsRunning() const { return m_running != 0; }
    IVideoPlatform& Platform() { return *m_platform; }

private:
    // The controls KIVDS_CONTROLS names ("NAME=VALUE;..."), set once the
    // camera is open; a refusal is logged, the camera stays open.
    void ApplyEnvironmentControls();
    bool BuildGraph(bool rebuild);
    void TearDownGraph(bool full);
    bool BindDevice(bool rebuild);
    bool EnumerateFormats();
    bool ChooseFormat(bool rebuild);
    bool ApplyFormat(const CUVCMediaFormat& format);
    // The full frame less its first and last line is shown.
    bool TrimApplies() const;
    void ResetButtonState();

    std::unique_ptr<IVideoPlatform> m_platform;  // the capture graph
    WindowHandle m_notifyWindow = nullptr;
    WindowHandle m_previewWindow = nullptr;
    std::unique_ptr<CUVCDeviceInfo> m_deviceInfo;
    std::wstring m_wantedPath;  // SetDevicePath; empty: the maker's first device
    bool m_running = false;
    CUVCMediaFormat m_chosenFormat;
    bool m_threadInitialised = false;  // owes the platform an UninitializeThread
    float m_zoomFactor = 1.0f;
    CButtonAutoRepeat m_buttonRepeat;        // last button status, repeat countdown
    CRegisterButtonReader m_registerReader;  // model A's read, with the service-asked flag

    // Which parts of the graph exist.
    bool m_graphCreated = false;  // graph, control, events, video control
    bool m_deviceBound = false;   // capture device
    bool m_connected = false;     // frame sink, renderer, preview window
};

}  // namespace kiv
