// The camera double of the dialog tests: an IKIVCameraControl whose answers
// come from a CameraScript and which records what the dialog asked of it.
// The dialog calls it on its own thread; `lost` may be set from another one
// (the rest is read by the test once the dialog is idle or gone).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kivds/camera/IKIVCameraControl.h"

namespace kiv {

struct CameraScript {
    std::vector<CUVCMediaFormat> formats;
    CUVCMediaFormat current;
    std::wstring name = L"ORVAN KIVCAMC";
    bool failRun = false;  // Run fails with CAMERA_ERR_BUSY
    bool failSetFormat = false;
    bool failPages = false;
    bool hasPages = true;
    bool present = true;
    std::atomic<bool> lost{false};      // graph events report the camera removed
    bool lossIsOneEvent = false;        // a loss is reported once, then cleared
    std::function<void()> duringPages;  // the property frame's nested loop
    std::vector<std::string> calls;
    std::vector<std::pair<int, CResolution>> setFormats;
    int armed = 0;
    int polls = 0;
    int runs = 0;
    int stops = 0;
};

class ScriptedCamera final : public IKIVCameraControl {
public:
    explicit ScriptedCamera(CameraScript& script) : m_s(script) {}
    int Open() override { return 1; }
    void Close() override {}
    int SetNotifyWindow(WindowHandle) override { return 1; }
    int SetPreviewWindow(WindowHandle w) override {
        return Call(w ? "SetPreviewWindow(window)" : "SetPreviewWindow(null)");
    }
    int Run() override {
        ++m_s.runs;
        return m_s.failRun ? Fail("Run", CAMERA_ERR_BUSY) : Call("Run");
    }
    int Stop() override {
        ++m_s.stops;
        return Call("Stop");
    }
    int SetMediaFormat(int type, const CResolution& size) override {
        m_s.setFormats.emplace_back(type, size);
        return m_s.failSetFormat ? Fail("SetMediaFormat", CAMERA_ERR_FAILED) : Call("SetMediaFormat");
    }
    int GetDeviceInfo(std::unique_ptr<CUVCDeviceInfo>& out) override {
        out = std::make_unique<CUVCDeviceInfo>();
        for (const auto& f : m_s.formats) out->AddFormat(f);
        out->currentFormat = m_s.current;
        out->friendlyName = m_s.name;
        return 1;
    }
    int HandleGraphEvents(CUVCState& state) override {
        const bool lost = m_s.lossIsOneEvent ? m_s.lost.exchange(false) : m_s.lost.load();
        state.state = lost ? CUVCState::CameraRemoved : CUVCState::NoEvent;
        return 1;
    }
    int SetFrameCallback(WindowHandle w, int enable) override {
        if (w && enable) ++m_s.armed;
        return 1;
    }
    int GrabStill(std::unique_ptr<CImageReference>&) override { return 0; }
    int ShowPropertyPages(WindowHandle, const std::wstring& caption) override {
        m_s.calls.push_back("ShowPropertyPages " + std::string(caption.begin(), caption.end()));
        if (m_s.duringPages) m_s.duringPages();
        return m_s.failPages ? Fail("pages", CAMERA_ERR_NOT_FOUND) : 1;
    }
    int PollButtons(CameraButtonState*) override { return ++m_s.polls, 1; }
    int IsDevicePresent(const std::wstring&) override { return m_s.present ? 1 : 0; }
    int HasPropertyPages() override { return m_s.hasPages ? 1 : 0; }

private:
    int Call(const char* name) {
        m_s.calls.push_back(name);
        LastCameraError = 0;
        return 1;
    }
    int Fail(const char* name, int error) {
        m_s.calls.push_back(std::string(name) + " failed");
        LastCameraError = error;
        return 0;
    }
    CameraScript& m_s;
};

}  // namespace kiv
