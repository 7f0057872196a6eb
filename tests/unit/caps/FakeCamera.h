// A scripted camera object for the facade: it lists the frame sizes it is
// given, can fail the probe steps or the device information, and records
// the calls the capability set makes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "kivds/camera/KIVUVCControl.h"

namespace kivtest {

struct CameraScript {
    bool available = true;  // false: the factory makes no camera object
    std::vector<kiv::CUVCMediaFormat> formats;
    int currentType = kiv::UVCFMT_MJPEG;
    bool failPreview = false;
    bool failRun = false;
    bool failStop = false;
    bool failInfo = false;
    bool running = false;
    std::vector<std::string> calls;
};

class FakeCamera : public kiv::IKIVCameraControl {
public:
    explicit FakeCamera(CameraScript& s) : s_(s) {}
    int Open() override { return 1; }
    void Close() override {}
    int SetNotifyWindow(kiv::WindowHandle) override { return 1; }
    int SetPreviewWindow(kiv::WindowHandle w) override {
        s_.calls.push_back(w ? "SetPreviewWindow(window)" : "SetPreviewWindow(null)");
        return s_.failPreview ? 0 : 1;
    }
    int Run() override {
        s_.calls.push_back("Run");
        if (s_.failRun) {
            kiv::LastCameraError = kiv::CAMERA_ERR_BUSY;
            return 0;
        }
        s_.running = true;
        return 1;
    }
    int Stop() override {
        s_.calls.push_back("Stop");
        if (s_.failStop) return 0;
        s_.running = false;
        return 1;
    }
    int SetMediaFormat(int, const kiv::CResolution&) override { return 1; }
    int GetDeviceInfo(std::unique_ptr<kiv::CUVCDeviceInfo>& out) override {
        s_.calls.push_back("GetDeviceInfo");
        if (s_.failInfo) return 0;
        out = std::make_unique<kiv::CUVCDeviceInfo>();
        for (const auto& f : s_.formats) out->AddFormat(f);
        out->currentFormat.type = s_.currentType;
        return 1;
    }
    int HandleGraphEvents(kiv::CUVCState&) override { return 1; }
    int SetFrameCallback(kiv::WindowHandle, int) override { return 1; }
    int GrabStill(std::unique_ptr<kiv::CImageReference>&) override { return 0; }
    int ShowPropertyPages(kiv::WindowHandle, const std::wstring&) override { return 1; }
    int PollButtons(kiv::CameraButtonState*) override { return 0; }
    int IsDevicePresent(const std::wstring&) override { return 1; }

private:
    CameraScript& s_;
};

inline kiv::CUVCMediaFormat Mjpeg(int w, int h) {
    return kiv::CUVCMediaFormat(kiv::MediaSubtypeMJPG, kiv::UVCFMT_MJPEG, kiv::CResolution(w, h));
}
inline kiv::CUVCMediaFormat Yuy2(int w, int h) {
    return kiv::CUVCMediaFormat(kiv::MediaSubtypeYUY2, kiv::UVCFMT_YUY2, kiv::CResolution(w, h));
}

// Installs the scripted camera as the facade's camera for one test.
class ScriptedCameraScope {
public:
    explicit ScriptedCameraScope(CameraScript& s) {
        kiv::CKIVUVCControl::DestroyInstance();
        kiv::CKIVUVCControl::SetCameraFactory([&s]() -> std::unique_ptr<kiv::IKIVCameraControl> {
            if (!s.available) return nullptr;
            return std::make_unique<FakeCamera>(s);
        });
    }
    ~ScriptedCameraScope() {
        kiv::CKIVUVCControl::DestroyInstance();
        kiv::CKIVUVCControl::SetCameraFactory({});
    }
    ScriptedCameraScope(const ScriptedCameraScope&) = delete;
    ScriptedCameraScope& operator=(const ScriptedCameraScope&) = delete;
};

}  // namespace kivtest
