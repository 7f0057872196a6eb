// The Windows camera backend: IVideoPlatform over a DirectShow capture graph
// (capture filter -> whatever decoder the graph builder inserts -> sample
// grabber forced to RGB24 -> video renderer as a child window of the
// preview). COM is initialised as a single-threaded apartment on the thread
// that owns the camera object; every call comes from that thread. Only the
// first-frame announcement runs on DirectShow's streaming thread.
//
// Every interface is held by a ComPtr and released on every path; the
// teardown order is: stop, hide and detach the preview, remove the filters,
// release renderer, capture filter, grabber and video window (partial),
// then switch notifications off and release event, control, builder, graph
// and basic video (full), then CoUninitialize.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <memory>
#include <vector>

#include "kivds/camera/IVideoPlatform.h"
#include "kivds/platform/win32/ComPtr.h"
#include "kivds/camera/dshow/KsInterop.h"
#include "kivds/camera/dshow/HResultMap.h"
#include "kivds/camera/dshow/PreviewWindowThread.h"
#include "kivds/camera/dshow/KIVSampleCB.h"

namespace kiv {
namespace dshow {

class CDirectShowWrapper final : public IVideoPlatform {
public:
    CDirectShowWrapper();
    ~CDirectShowWrapper() override;
    CDirectShowWrapper(const CDirectShowWrapper&) = delete;
    CDirectShowWrapper& operator=(const CDirectShowWrapper&) = delete;

    PlatformResult InitializeThread() override;
    void UninitializeThread() override;
    PlatformResult CreateGraph() override;
    void DisconnectGraph() override;
    void ReleaseGraph() override;
    PlatformResult ListDevices(std::vector<VideoDevice>& devices) override;
    PlatformResult BindDevice(std::size_t index) override;
    PlatformResult ReadStreamCaps(StreamCaps& caps) override;
    PlatformResult SetStreamFormat(const Guid& subtype, std::int32_t width, std::int32_t height) override;
    PlatformResult ConnectGraph() override;
    PlatformResult Run() override;
    PlatformResult Stop() override;
    PlatformResult SetEventWindow(WindowHandle window) override;
    EventPoll GetGraphEvent(GraphEvent& event, unsigned waitMs) override;
    PlatformResult SetFrameNotify(WindowHandle window) override;
    PlatformResult GetLatestFrame(VideoFrame& frame) override;
    PlatformResult SetPreviewAutoShow(bool autoShow) override;
    PlatformResult AttachPreview(WindowHandle owner) override;
    PlatformResult SetPreviewPosition(std::int32_t left, std::int32_t top, std::int32_t width,
                                      std::int32_t height) override;
    PlatformResult ShowPreview(bool visible) override;
    PlatformResult GetSourceRect(SourceRect& rect) override;
    PlatformResult SetSourceRect(const SourceRect& rect) override;
    PlatformResult ShowPropertyPages(WindowHandle owner, const std::wstring& caption) override;
    PlatformResult OpenDevicePath(const std::wstring& path) override;
    PlatformResult FindExtensionUnit(const Guid& unit) override;
    PlatformResult ExtensionUnitGet(const Guid& unit, std::uint32_t selector, std::uint8_t* data,
                                    std::size_t length) override;
    PlatformResult ExtensionUnitSet(const Guid& unit, std::uint32_t selector, const std::uint8_t* data,
                                    std::size_t length) override;

private:
    // The stream configuration of the bound capture filter's capture pin.
    HRESULT FindStreamConfig(ComPtr<IAMStreamConfig>& config) const;
    // The seam's result of a call's HRESULT (HResultMap.h); a failure is
    // logged with the call, the HRESULT in hex and the bound device.
    PlatformResult Map(const char* call, HRESULT hr, GraphStep step = GraphStep::Other) const;
    // Logs a failure that has no HRESULT (or one that is not a failure code).
    void LogFailure(const char* operation, const char* what) const;
    // IMediaControl::Stop with the renderer's input flushed meanwhile (see
    // the definition).
    HRESULT StopGraph();
    // The IKsControl of the unit's topology node, made for this request; null
    // when there is none. The node is the first that answers the probe of the
    // unit's property set, probed for once per bound filter (m_unitNodes).
    ComPtr<IKsControl> FindUnitNode(const Guid& unit, std::uint32_t& nodeId);
    PlatformResult UnitRequest(const Guid& unit, std::uint32_t selector, std::uint32_t flags, void* data,
                               std::size_t length);

    // Declared first: destroyed after the graph that calls it.
    std::unique_ptr<CKIVSampleCB> m_callback;
    // Owns the renderer's window; made with the first connection and
    // destroyed after the graph, whose renderer's window it must destroy.
    std::unique_ptr<CPreviewWindowThread> m_windowThread;
    bool m_comInitialised = false;

    // Monikers of the last listing, by list index (null: not bindable).
    std::vector<ComPtr<IMoniker>> m_monikers;
    std::vector<std::wstring> m_listedPaths;  // the device path of each moniker (for the log)
    std::wstring m_boundPath;

    ComPtr<IGraphBuilder> m_graph;
    ComPtr<ICaptureGraphBuilder2> m_builder;
    ComPtr<IMediaControl> m_control;
    ComPtr<IMediaEventEx> m_events;
    ComPtr<IBasicVideo> m_basicVideo;

    ComPtr<IBaseFilter> m_capture;
    // The node ids of the units found on m_capture, forgotten with it. A
    // unit not found is probed for again at its next request.
    struct FoundNode {
        Guid unit;
        std::uint32_t nodeId;
    };
    std::vector<FoundNode> m_unitNodes;
    ComPtr<IBaseFilter> m_grabberFilter;
    ComPtr<ISampleGrabber> m_grabber;
    ComPtr<IBaseFilter> m_renderer;
    ComPtr<IVideoWindow> m_videoWindow;
};

}  // namespace dshow
}  // namespace kiv
