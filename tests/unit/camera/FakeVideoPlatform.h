// A scripted IVideoPlatform: tests set the devices, capabilities, frame,
// events and the result of any operation, and read back the calls made.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "kivds/camera/CameraControls.h"
#include "kivds/camera/IVideoPlatform.h"
#include "kivds/camera/IWindowBridge.h"

namespace kiv {
namespace test {

class FakeVideoPlatform : public IVideoPlatform {
public:
    // -- script ------------------------------------------------------------
    std::vector<VideoDevice> devices;
    StreamCaps caps;
    std::map<std::string, PlatformResult> results;  // by operation name; Ok when absent
    std::deque<GraphEvent> events;
    VideoFrame frame;  // GetLatestFrame fails while frame.bytes is null
    SourceRect source;
    ICameraControls* controls = nullptr;  // the backend's controls model (null: none)

    // -- record --------------------------------------------------------------
    std::vector<std::string> calls;
    // The same calls, readable after the fake was destroyed with its camera.
    std::shared_ptr<std::vector<std::string>> sharedCalls = std::make_shared<std::vector<std::string>>();
    std::vector<std::size_t> bindCalls;
    std::vector<unsigned> eventWaits;  // GetGraphEvent's waitMs, per call
    std::vector<SourceRect> sourceSets;
    struct FormatSet {
        Guid subtype;
        std::int32_t width, height;
    };
    std::vector<FormatSet> formatSets;
    SourceRect previewPosition;
    WindowHandle previewOwner = nullptr;
    WindowHandle frameNotify = nullptr;
    WindowHandle eventWindow = nullptr;
    bool previewVisible = false;
    bool autoShow = true;

    int CallCount(const std::string& name) const {
        int n = 0;
        for (const std::string& c : calls) n += (c == name);
        return n;
    }

    // -- IVideoPlatform ------------------------------------------------------
    PlatformResult InitializeThread() override { return Result("InitializeThread"); }
    void UninitializeThread() override { Record("UninitializeThread"); }
    PlatformResult CreateGraph() override { return Result("CreateGraph"); }
    void DisconnectGraph() override { Record("DisconnectGraph"); }
    void ReleaseGraph() override { Record("ReleaseGraph"); }
    PlatformResult ListDevices(std::vector<VideoDevice>& out) override {
        out = devices;
        return Result("ListDevices");
    }
    PlatformResult BindDevice(std::size_t index) override {
        bindCalls.push_back(index);
        return Result("BindDevice");
    }
    PlatformResult ReadStreamCaps(StreamCaps& out) override {
        out = caps;
        return Result("ReadStreamCaps");
    }
    PlatformResult SetStreamFormat(const Guid& subtype, std::int32_t w, std::int32_t h) override {
        formatSets.push_back({subtype, w, h});
        return Result("SetStreamFormat");
    }
    PlatformResult ConnectGraph() override {
        const PlatformResult r = Result("ConnectGraph");
        if (r == PlatformResult::Ok) source = SourceRect{0, 0, connectWidth, connectHeight};
        return r;
    }
    PlatformResult Run() override { return Result("Run"); }
    PlatformResult Stop() override { return Result("Stop"); }
    PlatformResult SetEventWindow(WindowHandle w) override {
        eventWindow = w;
        return Result("SetEventWindow");
    }
    EventPoll GetGraphEvent(GraphEvent& event, unsigned waitMs) override {
        Record("GetGraphEvent");
        eventWaits.push_back(waitMs);
        if (events.empty()) return EventPoll::Empty;
        event = events.front();
        events.pop_front();
        return EventPoll::Event;
    }
    PlatformResult SetFrameNotify(WindowHandle w) override {
        frameNotify = w;
        return Result("SetFrameNotify");
    }
    PlatformResult GetLatestFrame(VideoFrame& out) override {
        const PlatformResult r = Result("GetLatestFrame");
        if (r != PlatformResult::Ok) return r;
        if (!frame.bytes) return PlatformResult::Failed;
        out = frame;
        return r;
    }
    PlatformResult SetPreviewAutoShow(bool a) override {
        autoShow = a;
        return Result("SetPreviewAutoShow");
    }
    PlatformResult AttachPreview(WindowHandle owner) override {
        previewOwner = owner;
        return Result("AttachPreview");
    }
    PlatformResult SetPreviewPosition(std::int32_t l, std::int32_t t, std::int32_t w, std::int32_t h) override {
        previewPosition = SourceRect{l, t, w, h};
        return Result("SetPreviewPosition");
    }
    PlatformResult ShowPreview(bool v) override {
        previewVisible = v;
        return Result("ShowPreview");
    }
    PlatformResult GetSourceRect(SourceRect& r) override {
        r = source;
        return Result("GetSourceRect");
    }
    PlatformResult SetSourceRect(const SourceRect& r) override {
        sourceSets.push_back(r);
        const PlatformResult result = Result("SetSourceRect");
        if (result == PlatformResult::Ok) source = r;
        return result;
    }
    PlatformResult ShowPropertyPages(WindowHandle, const std::wstring&) override { return Result("ShowPropertyPages"); }
    ICameraControls* CameraControls() override { return controls; }
    PlatformResult OpenDevicePath(const std::wstring&) override { return Result("OpenDevicePath"); }
    PlatformResult FindExtensionUnit(const Guid&) override { return Result("FindExtensionUnit"); }
    PlatformResult ExtensionUnitGet(const Guid&, std::uint32_t, std::uint8_t*, std::size_t) override {
        return Result("ExtensionUnitGet");
    }
    PlatformResult ExtensionUnitSet(const Guid&, std::uint32_t, const std::uint8_t*, std::size_t) override {
        return Result("ExtensionUnitSet");
    }

    std::int32_t connectWidth = 1920;  // the full frame a new connection shows
    std::int32_t connectHeight = 1080;

private:
    void Record(const char* name) {
        calls.push_back(name);
        sharedCalls->push_back(name);
    }
    PlatformResult Result(const char* name) {
        Record(name);
        const auto it = results.find(name);
        return it == results.end() ? PlatformResult::Ok : it->second;
    }
};

// A window bridge with fixed client sizes that records what it delivered.
class FakeWindowBridge : public IWindowBridge {
public:
    int clientWidth = 640;
    int clientHeight = 480;
    bool knowsWindows = true;
    std::vector<WindowHandle> graphNotifies;
    std::vector<WindowHandle> framesArrived;
    std::mutex mutex;

    bool GetClientSize(WindowHandle, int& w, int& h) override {
        w = clientWidth;
        h = clientHeight;
        return knowsWindows;
    }
    void PostGraphNotify(WindowHandle w) override {
        std::lock_guard<std::mutex> lock(mutex);
        graphNotifies.push_back(w);
    }
    void SendFrameArrived(WindowHandle w) override {
        std::lock_guard<std::mutex> lock(mutex);
        framesArrived.push_back(w);
    }
    std::size_t FramesArrived() {
        std::lock_guard<std::mutex> lock(mutex);
        return framesArrived.size();
    }
    bool ShowCameraControls(WindowHandle, const std::wstring& caption, ICameraControls& controls) override {
        shownControls.push_back({caption, controls.List().size()});
        return true;
    }
    std::vector<std::pair<std::wstring, std::size_t>> shownControls;  // caption, rows
    std::size_t GraphNotifies() {
        std::lock_guard<std::mutex> lock(mutex);
        return graphNotifies.size();
    }
};

// Installs a bridge for the length of a test.
class ScopedBridge {
public:
    explicit ScopedBridge(IWindowBridge& bridge) { SetWindowBridge(&bridge); }
    ~ScopedBridge() { SetWindowBridge(nullptr); }
    ScopedBridge(const ScopedBridge&) = delete;
    ScopedBridge& operator=(const ScopedBridge&) = delete;
};

}  // namespace test
}  // namespace kiv
