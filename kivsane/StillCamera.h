// One opened camera of the backend: the camera logic the TWAIN source uses
// (CCameraLogic) over the device's video platform, the stills it grabs and
// the keep-streaming timer that stops it some seconds after a scan.
//
// Grab runs the camera in the asked format (reusing it when it streams that
// already), waits for its first frame and the settle time, sets the zoom and
// grabs the still exactly as the TWAIN source's transfers do (the one-line
// trim and the zoom as the still's map). A failure drops the camera object,
// so that the next Grab starts afresh once the cause is gone (the device
// plugged in again, the other program done with it).
//
// Any thread may call; calls are serialised with the timer's thread. The
// timer's thread runs with every signal blocked.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <sane/sane.h>

#include "kivds/camera/CameraRecords.h"
#include "kivsane/Devices.h"

namespace kiv {

class CCameraLogic;
class CImageReference;

namespace sane {

class CancelFlag;

struct GrabRequest {
    int formatType = UVCFMT_MJPEG;
    CResolution frame;
    double zoom = 1.0;
    int settleMs = 0;
    int keepSeconds = 0;  // 0: stop right after the grab
};

class StillCamera {
public:
    explicit StillCamera(DeviceEntry device);
    ~StillCamera();  // stops the timer's thread and the camera
    StillCamera(const StillCamera&) = delete;
    StillCamera& operator=(const StillCamera&) = delete;

    // Opens the camera (binds the device, reads its formats): GOOD; INVAL when
    // the device is not there, DEVICE_BUSY when another program holds it,
    // IO_ERROR else.
    SANE_Status Open();
    // The opened camera's record (formats, default format, model).
    bool DeviceInfo(CUVCDeviceInfo& info);
    bool ReadButtons(CameraButtonState& state);

    // GOOD with the still; CANCELLED when cancel was raised meanwhile;
    // DEVICE_BUSY, IO_ERROR (camera gone or silent), NO_MEM.
    SANE_Status Grab(const GrabRequest& request, const CancelFlag& cancel, std::unique_ptr<CImageReference>& still);

private:
    SANE_Status EnsureOpen();
    SANE_Status Failure(const char* step);
    void Drop();
    bool Lost();
    void StopLater(int seconds);
    void TimerLoop();
    void RunTimer();

    const DeviceEntry m_device;
    std::mutex m_mutex;  // the camera and the timer's state
    std::condition_variable m_changed;
    std::unique_ptr<CCameraLogic> m_camera;
    std::chrono::steady_clock::time_point m_firstFrameAt;
    bool m_hadFrame = false;  // a frame arrived since the camera started
    bool m_stopPending = false;
    std::chrono::steady_clock::time_point m_stopAt;
    bool m_quit = false;
    std::thread m_timer;
};

}  // namespace sane
}  // namespace kiv
