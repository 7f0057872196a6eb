#include "kivds/camera/dshow/DirectShowWrapper.h"

#include <olectl.h>
#include <oleauto.h>

#include <algorithm>
#include <cstring>

#include "kivds/camera/IWindowBridge.h"
#include "kivds/camera/dshow/HResultMap.h"
#include "kivds/image/Bgr24.h"
#include "kivds/platform/Log.h"

namespace kiv {
namespace dshow {
namespace {

constexpr long kPreviewStyle = WS_CHILD | WS_CLIPCHILDREN;  // 0x42000000
constexpr LONG kDeviceLost = 0x1F;                          // EC_DEVICE_LOST

GUID ToGuid(const Guid& g) {
    GUID out;
    out.Data1 = g.data1;
    out.Data2 = g.data2;
    out.Data3 = g.data3;
    std::memcpy(out.Data4, g.data4, sizeof out.Data4);
    return out;
}

Guid FromGuid(const GUID& g) {
    Guid out;
    out.data1 = g.Data1;
    out.data2 = g.Data2;
    out.data3 = g.Data3;
    std::memcpy(out.data4, g.Data4, sizeof out.data4);
    return out;
}

HWND ToHwnd(WindowHandle window) { return static_cast<HWND>(window); }
OAHWND ToOaHwnd(WindowHandle window) { return reinterpret_cast<OAHWND>(window); }

// Frees what an AM_MEDIA_TYPE holds: its format block and its pUnk.
void FreeMediaTypeContents(AM_MEDIA_TYPE& type) {
    if (type.cbFormat != 0 && type.pbFormat) CoTaskMemFree(type.pbFormat);
    type.cbFormat = 0;
    type.pbFormat = nullptr;
    if (type.pUnk) {
        type.pUnk->Release();
        type.pUnk = nullptr;
    }
}

// Owns a media type handed out by IAMStreamConfig.
class MediaTypePtr {
public:
    MediaTypePtr() = default;
    MediaTypePtr(const MediaTypePtr&) = delete;
    MediaTypePtr& operator=(const MediaTypePtr&) = delete;
    ~MediaTypePtr() { Reset(); }
    void Reset() {
        if (!m_type) return;
        FreeMediaTypeContents(*m_type);
        CoTaskMemFree(m_type);
        m_type = nullptr;
    }
    AM_MEDIA_TYPE** Put() {
        Reset();
        return &m_type;
    }
    AM_MEDIA_TYPE* Get() const { return m_type; }

private:
    AM_MEDIA_TYPE* m_type = nullptr;
};

// Owns the contents of a media type filled into a caller's record.
class MediaTypeRecord {
public:
    MediaTypeRecord() { std::memset(&m_type, 0, sizeof m_type); }
    MediaTypeRecord(const MediaTypeRecord&) = delete;
    MediaTypeRecord& operator=(const MediaTypeRecord&) = delete;
    ~MediaTypeRecord() { FreeMediaTypeContents(m_type); }
    AM_MEDIA_TYPE* Get() { return &m_type; }

private:
    AM_MEDIA_TYPE m_type;
};

// The VIDEOINFOHEADER of a plain video type, or null (also when the format
// block is too short to hold one).
const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE* type) {
    if (!type || !IsEqualGUID(type->formattype, FORMAT_VideoInfo) || !IsEqualGUID(type->majortype, MEDIATYPE_Video))
        return nullptr;
    if (!type->pbFormat || type->cbFormat < sizeof(VIDEOINFOHEADER)) return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
}

class VariantGuard {
public:
    VariantGuard() { VariantInit(&m_value); }
    VariantGuard(const VariantGuard&) = delete;
    VariantGuard& operator=(const VariantGuard&) = delete;
    ~VariantGuard() { VariantClear(&m_value); }
    VARIANT* Get() { return &m_value; }

private:
    VARIANT m_value;
};

// A string property of a device's property bag.
bool ReadBagString(IPropertyBag* bag, const wchar_t* name, std::wstring& out) {
    VariantGuard value;
    value.Get()->vt = VT_BSTR;
    if (FAILED(bag->Read(name, value.Get(), nullptr)) || value.Get()->vt != VT_BSTR) return false;
    const BSTR text = value.Get()->bstrVal;
    out.assign(text ? text : L"", text ? SysStringLen(text) : 0);
    return true;
}

// Two objects are the same when their IUnknowns are; two nulls are the same.
bool SameObject(IUnknown* a, IUnknown* b) {
    if (!a || !b) return a == b;
    ComPtr<IUnknown> ua, ub;
    if (FAILED(a->QueryInterface(IID_IUnknown, ua.PutVoid()))) return false;
    if (FAILED(b->QueryInterface(IID_IUnknown, ub.PutVoid()))) return false;
    return ua.Get() == ub.Get();
}

}  // namespace

PlatformResult CDirectShowWrapper::Map(const char* call, HRESULT hr, GraphStep step) const {
    const PlatformResult result = MapHResult(step, static_cast<std::uint32_t>(hr));
    if (result != PlatformResult::Ok && LogEnabled(LogLevel::Error))
        Log(LogLevel::Error, "dshow", "%s failed with HRESULT 0x%08lX, device %s", call,
            static_cast<unsigned long>(static_cast<std::uint32_t>(hr)),
            m_boundPath.empty() ? "none" : LogText(m_boundPath).c_str());
    return result;
}

void CDirectShowWrapper::LogFailure(const char* operation, const char* what) const {
    if (LogEnabled(LogLevel::Error))
        Log(LogLevel::Error, "dshow", "%s: %s, device %s", operation, what,
            m_boundPath.empty() ? "none" : LogText(m_boundPath).c_str());
}

CDirectShowWrapper::CDirectShowWrapper() : m_callback(std::make_unique<CKIVSampleCB>()) {}

CDirectShowWrapper::~CDirectShowWrapper() {
    DisconnectGraph();
    ReleaseGraph();
    UninitializeThread();
}

// -- the thread and the graph -------------------------------------------------

PlatformResult CDirectShowWrapper::InitializeThread() {
    if (m_comInitialised) return PlatformResult::Ok;
    const HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) {
        Map("CoInitialize", hr);
        return PlatformResult::Failed;
    }
    m_comInitialised = true;
    return PlatformResult::Ok;
}

void CDirectShowWrapper::UninitializeThread() {
    if (!m_comInitialised) return;
    // Nothing of COM may outlive the apartment.
    m_monikers.clear();
    CoUninitialize();
    m_comInitialised = false;
}

PlatformResult CDirectShowWrapper::CreateGraph() {
    if (!m_comInitialised) return PlatformResult::Failed;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder, m_graph.PutVoid());
    if (FAILED(hr)) return Map("CoCreateInstance(CLSID_FilterGraph)", hr);
    hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC, IID_ICaptureGraphBuilder2,
                          m_builder.PutVoid());
    if (FAILED(hr)) return Map("CoCreateInstance(CLSID_CaptureGraphBuilder2)", hr);
    if (FAILED(hr = m_graph.As(IID_IMediaControl, m_control))) return Map("QueryInterface(IMediaControl)", hr);
    if (FAILED(hr = m_graph.As(IID_IMediaEventEx, m_events))) return Map("QueryInterface(IMediaEventEx)", hr);
    if (FAILED(hr = m_graph.As(IID_IBasicVideo, m_basicVideo))) return Map("QueryInterface(IBasicVideo)", hr);
    if (FAILED(hr = m_builder->SetFiltergraph(m_graph.Get()))) return Map("ICaptureGraphBuilder2::SetFiltergraph", hr);
    return PlatformResult::Ok;
}

void CDirectShowWrapper::DisconnectGraph() {
    m_callback->Arm(nullptr);
    // Filters can only leave a stopped graph.
    if (m_control) StopGraph();
    if (m_videoWindow) {
        m_videoWindow->put_Visible(OAFALSE);
        m_videoWindow->put_Owner(0);
    }
    if (m_grabber) m_grabber->SetCallback(nullptr, 0);
    if (m_graph) {
        if (m_renderer) m_graph->RemoveFilter(m_renderer.Get());
        if (m_capture) m_graph->RemoveFilter(m_capture.Get());
        if (m_grabberFilter) m_graph->RemoveFilter(m_grabberFilter.Get());
        // The decoder and the tee that the builder inserted go too, so that a
        // rebuild starts from an empty graph.
        std::vector<ComPtr<IBaseFilter>> rest;
        ComPtr<IEnumFilters> filters;
        if (SUCCEEDED(m_graph->EnumFilters(filters.Put())) && filters) {
            ComPtr<IBaseFilter> filter;
            while (filters->Next(1, filter.Put(), nullptr) == S_OK) rest.push_back(std::move(filter));
        }
        filters.Reset();
        for (const ComPtr<IBaseFilter>& filter : rest) m_graph->RemoveFilter(filter.Get());
    }
    m_renderer.Reset();
    m_capture.Reset();
    m_unitNodes.clear();
    m_grabber.Reset();
    m_grabberFilter.Reset();
    m_videoWindow.Reset();
}

void CDirectShowWrapper::ReleaseGraph() {
    if (m_events) m_events->SetNotifyWindow(0, WM_GRAPHNOTIFY, 0);
    m_events.Reset();
    m_control.Reset();
    m_builder.Reset();
    m_graph.Reset();
    m_basicVideo.Reset();
    m_monikers.clear();
}

// -- devices ------------------------------------------------------------------

PlatformResult CDirectShowWrapper::ListDevices(std::vector<VideoDevice>& devices) {
    devices.clear();
    m_monikers.clear();
    m_listedPaths.clear();
    ComPtr<ICreateDevEnum> enumerator;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  enumerator.PutVoid());
    if (FAILED(hr)) {
        Map("CoCreateInstance(CLSID_SystemDeviceEnum)", hr);
        return PlatformResult::NotFound;
    }
    ComPtr<IEnumMoniker> monikers;
    // Anything but S_OK, an empty category (S_FALSE) too, is a failure.
    hr = enumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Put(), 0);
    if (hr != S_OK || !monikers) {
        if (FAILED(hr)) Map("ICreateDevEnum::CreateClassEnumerator", hr);
        else LogFailure("list", "not found: the video input category is empty");
        return PlatformResult::NotFound;
    }
    if (FAILED(hr = monikers->Reset())) {
        Map("IEnumMoniker::Reset", hr);
        return PlatformResult::NotFound;
    }
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.Put(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid())) || !bag) {
            devices.push_back(VideoDevice{std::wstring(), std::wstring(), false});
            m_monikers.emplace_back();
            m_listedPaths.emplace_back();
            continue;
        }
        VideoDevice device;
        if (!ReadBagString(bag.Get(), L"DevicePath", device.path)) continue;
        if (!ReadBagString(bag.Get(), L"FriendlyName", device.friendlyName)) continue;
        m_listedPaths.push_back(device.path);
        devices.push_back(std::move(device));
        m_monikers.push_back(std::move(moniker));
    }
    return PlatformResult::Ok;
}

PlatformResult CDirectShowWrapper::BindDevice(std::size_t index) {
    if (index >= m_monikers.size() || !m_monikers[index]) return PlatformResult::NotFound;
    m_capture.Reset();
    m_unitNodes.clear();
    m_boundPath = index < m_listedPaths.size() ? m_listedPaths[index] : std::wstring();
    const HRESULT hr = m_monikers[index]->BindToObject(nullptr, nullptr, IID_IBaseFilter, m_capture.PutVoid());
    if (FAILED(hr) || !m_capture) {
        m_capture.Reset();
        if (FAILED(hr)) Map("IMoniker::BindToObject", hr);
        else LogFailure("bind", "not found: IMoniker::BindToObject gave no filter");
        return PlatformResult::NotFound;
    }
    return PlatformResult::Ok;
}

// -- formats ------------------------------------------------------------------

HRESULT CDirectShowWrapper::FindStreamConfig(ComPtr<IAMStreamConfig>& config) const {
    if (!m_builder || !m_capture) return E_POINTER;
    return m_builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, m_capture.Get(), IID_IAMStreamConfig,
                                    config.PutVoid());
}

PlatformResult CDirectShowWrapper::ReadStreamCaps(StreamCaps& caps) {
    caps = StreamCaps();
    ComPtr<IAMStreamConfig> config;
    HRESULT hr = FindStreamConfig(config);
    if (FAILED(hr) || !config) {
        if (FAILED(hr)) Map("ICaptureGraphBuilder2::FindInterface(IAMStreamConfig)", hr);
        return PlatformResult::Failed;
    }
    {
        MediaTypePtr current;
        if (FAILED(hr = config->GetFormat(current.Put()))) return Map("IAMStreamConfig::GetFormat", hr);
        if (const VIDEOINFOHEADER* info = VideoInfoOf(current.Get())) {
            caps.hasCurrent = true;
            caps.currentWidth = info->bmiHeader.biWidth;
            caps.currentHeight = info->bmiHeader.biHeight;
        }
    }
    int count = 0, size = 0;
    if (FAILED(hr = config->GetNumberOfCapabilities(&count, &size)))
        return Map("IAMStreamConfig::GetNumberOfCapabilities", hr);
    if (size != static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS))) return PlatformResult::Failed;
    for (int i = 0; i < count; ++i) {
        VIDEO_STREAM_CONFIG_CAPS scc;
        MediaTypePtr type;
        if (FAILED(hr = config->GetStreamCaps(i, type.Put(), reinterpret_cast<BYTE*>(&scc))) || !type.Get())
            return FAILED(hr) ? Map("IAMStreamConfig::GetStreamCaps", hr) : PlatformResult::Failed;
        StreamCapability entry;
        entry.subtype = FromGuid(type.Get()->subtype);
        const VIDEOINFOHEADER* info = VideoInfoOf(type.Get());
        entry.videoInfo = info != nullptr;
        if (info) {
            entry.width = info->bmiHeader.biWidth;
            entry.height = info->bmiHeader.biHeight;
        }
        caps.entries.push_back(entry);
    }
    return PlatformResult::Ok;
}

PlatformResult CDirectShowWrapper::SetStreamFormat(const Guid& subtype, std::int32_t width, std::int32_t height) {
    ComPtr<IAMStreamConfig> config;
    HRESULT hr = FindStreamConfig(config);
    if (FAILED(hr) || !config) {
        if (FAILED(hr)) Map("ICaptureGraphBuilder2::FindInterface(IAMStreamConfig)", hr);
        return PlatformResult::Failed;
    }
    int count = 0, size = 0;
    if (FAILED(hr = config->GetNumberOfCapabilities(&count, &size)))
        return Map("IAMStreamConfig::GetNumberOfCapabilities", hr);
    if (size != static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS))) return PlatformResult::Failed;
    const GUID wanted = ToGuid(subtype);
    HRESULT last = S_OK;
    for (int i = 0; i < count; ++i) {
        VIDEO_STREAM_CONFIG_CAPS scc;
        MediaTypePtr type;
        last = config->GetStreamCaps(i, type.Put(), reinterpret_cast<BYTE*>(&scc));
        if (FAILED(last)) continue;
        const VIDEOINFOHEADER* info = VideoInfoOf(type.Get());
        if (!info || !IsEqualGUID(type.Get()->subtype, wanted) || info->bmiHeader.biWidth != width ||
            info->bmiHeader.biHeight != height)
            continue;
        last = config->SetFormat(type.Get());
        break;
    }
    return FAILED(last) ? Map("IAMStreamConfig::SetFormat", last) : PlatformResult::Ok;
}

// -- streaming ----------------------------------------------------------------

PlatformResult CDirectShowWrapper::ConnectGraph() {
    if (!m_graph || !m_builder || !m_capture) return PlatformResult::Failed;
    HRESULT hr = CoCreateInstance(kCLSID_SampleGrabber, nullptr, CLSCTX_INPROC, IID_IBaseFilter,
                                  m_grabberFilter.PutVoid());
    if (FAILED(hr)) return Map("CoCreateInstance(CLSID_SampleGrabber)", hr);
    if (FAILED(hr = m_grabberFilter.As(IID_ISampleGrabber, m_grabber)))
        return Map("QueryInterface(ISampleGrabber)", hr);

    AM_MEDIA_TYPE rgb;
    std::memset(&rgb, 0, sizeof rgb);
    rgb.majortype = MEDIATYPE_Video;
    rgb.subtype = MEDIASUBTYPE_RGB24;
    rgb.formattype = FORMAT_VideoInfo;
    if (FAILED(hr = m_grabber->SetMediaType(&rgb))) return Map("ISampleGrabber::SetMediaType", hr);
    if (FAILED(hr = m_grabber->SetBufferSamples(TRUE))) return Map("ISampleGrabber::SetBufferSamples", hr);

    if (FAILED(hr = m_graph->AddFilter(m_grabberFilter.Get(), L"Sample Grabber")))
        return Map("IGraphBuilder::AddFilter", hr);
    if (FAILED(hr = m_graph->AddFilter(m_capture.Get(), L"Device Filter"))) return Map("IGraphBuilder::AddFilter", hr);
    // The renderer is made on a thread that always pumps messages: its window
    // must answer the dialog's thread while this one waits (see
    // PreviewWindowThread.h).
    if (!m_windowThread) m_windowThread = std::make_unique<CPreviewWindowThread>();
    hr = m_windowThread->CreateInstance(CLSID_VideoRenderer, IID_IBaseFilter, m_renderer.PutVoid());
    if (FAILED(hr)) return Map("CoCreateInstance(CLSID_VideoRenderer)", hr);
    if (FAILED(hr = m_graph->AddFilter(m_renderer.Get(), L"Video Renderer")))
        return Map("IGraphBuilder::AddFilter", hr);
    if (FAILED(hr = m_graph.As(IID_IVideoWindow, m_videoWindow))) return Map("QueryInterface(IVideoWindow)", hr);

    hr = m_builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, m_capture.Get(), m_grabberFilter.Get(),
                                 m_renderer.Get());
    if (FAILED(hr)) return Map("ICaptureGraphBuilder2::RenderStream", hr, GraphStep::RenderPreview);
    // Mode 0: the callback sees each sample without a copy of its buffer.
    m_callback->Arm(nullptr);
    m_grabber->SetCallback(m_callback.get(), 0);
    return PlatformResult::Ok;
}

PlatformResult CDirectShowWrapper::Run() {
    if (!m_control) return PlatformResult::Failed;
    return Map("IMediaControl::Run", m_control->Run(), GraphStep::Run);  // S_FALSE: still starting, fine
}

PlatformResult CDirectShowWrapper::Stop() {
    if (!m_control) return PlatformResult::Failed;
    return Map("IMediaControl::Stop", StopGraph());
}

// The graph stops a running graph by pausing every filter, then stopping
// them. A paused renderer holds the next sample until it runs again or is
// flushed, so a capture filter that waits in Pause or Stop for its streaming
// thread, while that thread is inside the renderer, would wait for ever. The
// renderer's input is flushed for the length of the stop: it lets every
// sample go at once and nothing downstream can hold the streaming thread.
HRESULT CDirectShowWrapper::StopGraph() {
    ComPtr<IPin> rendererInput;
    if (m_renderer) {
        ComPtr<IEnumPins> pins;
        if (SUCCEEDED(m_renderer->EnumPins(pins.Put())) && pins) {
            ComPtr<IPin> pin;
            while (!rendererInput && pins->Next(1, pin.Put(), nullptr) == S_OK) {
                PIN_DIRECTION direction = PINDIR_OUTPUT;
                ComPtr<IPin> peer;
                if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_INPUT &&
                    SUCCEEDED(pin->ConnectedTo(peer.Put())) && peer)
                    rendererInput = std::move(pin);
            }
        }
    }
    const bool flushing = rendererInput && SUCCEEDED(rendererInput->BeginFlush());
    const HRESULT hr = m_control->Stop();
    if (flushing) rendererInput->EndFlush();
    return hr;
}

PlatformResult CDirectShowWrapper::SetEventWindow(WindowHandle window) {
    if (!m_events) return PlatformResult::Failed;
    return Map("IMediaEventEx::SetNotifyWindow", m_events->SetNotifyWindow(ToOaHwnd(window), WM_GRAPHNOTIFY, 0));
}

EventPoll CDirectShowWrapper::GetGraphEvent(GraphEvent& event, unsigned waitMs) {
    if (!m_events) return EventPoll::Unavailable;
    long code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    const HRESULT hr = m_events->GetEvent(&code, &param1, &param2, static_cast<long>(waitMs));
    if (hr != S_OK) return hr == E_ABORT ? EventPoll::Empty : EventPoll::Unavailable;
    event = GraphEvent();
    if (code == kDeviceLost) {
        event.code = GraphEventCode::DeviceLost;
        event.removed = param2 == 0;
        IUnknown* subject = reinterpret_cast<IUnknown*>(param1);
        ComPtr<IBaseFilter> filter;
        if (subject && SUCCEEDED(subject->QueryInterface(IID_IBaseFilter, filter.PutVoid())))
            event.ofBoundDevice = m_capture && SameObject(filter.Get(), m_capture.Get());
    }
    m_events->FreeEventParams(code, param1, param2);
    return EventPoll::Event;
}

PlatformResult CDirectShowWrapper::SetFrameNotify(WindowHandle window) {
    if (!m_grabber) return PlatformResult::Failed;
    m_callback->Arm(window);
    return PlatformResult::Ok;
}

PlatformResult CDirectShowWrapper::GetLatestFrame(VideoFrame& frame) {
    if (!m_grabber) return PlatformResult::Failed;
    MediaTypeRecord connected;
    HRESULT hr = m_grabber->GetConnectedMediaType(connected.Get());
    if (FAILED(hr)) return Map("ISampleGrabber::GetConnectedMediaType", hr);
    const AM_MEDIA_TYPE* type = connected.Get();
    if (!IsEqualGUID(type->formattype, FORMAT_VideoInfo) || !type->pbFormat || type->cbFormat < sizeof(VIDEOINFOHEADER))
        return PlatformResult::Failed;
    if (!IsEqualGUID(type->majortype, MEDIATYPE_Video) && !IsEqualGUID(type->subtype, MEDIASUBTYPE_RGB24))
        return PlatformResult::Failed;
    const BITMAPINFOHEADER& header = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader;
    const std::int32_t width = header.biWidth;
    const bool topDown = header.biHeight < 0;
    const std::int32_t height = topDown ? -header.biHeight : header.biHeight;
    if (width <= 0 || height <= 0 || width > 0x7FFFFFFF / 3 - 1) return PlatformResult::Failed;

    long size = 0;
    if (FAILED(hr = m_grabber->GetCurrentBuffer(&size, nullptr)))
        return Map("ISampleGrabber::GetCurrentBuffer", hr);  // nothing buffered yet
    if (size <= 0) return PlatformResult::Failed;
    // The rows must be exactly the DWORD-aligned RGB24 rows; any other
    // layout would be read sheared.
    const std::int32_t stride = static_cast<std::int32_t>(size / height);
    if (stride != Bgr24Stride(width) || static_cast<long long>(stride) * height != size) return PlatformResult::Failed;
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(size));
    long got = size;
    if (FAILED(hr = m_grabber->GetCurrentBuffer(&got, reinterpret_cast<long*>(bytes->data()))))
        return Map("ISampleGrabber::GetCurrentBuffer", hr);
    if (got != size) return PlatformResult::Failed;
    if (topDown) {
        std::vector<std::uint8_t> row(static_cast<std::size_t>(stride));
        for (std::int32_t y = 0; y < height / 2; ++y) {
            std::uint8_t* a = bytes->data() + static_cast<std::size_t>(y) * stride;
            std::uint8_t* b = bytes->data() + static_cast<std::size_t>(height - 1 - y) * stride;
            std::copy(a, a + stride, row.data());
            std::copy(b, b + stride, a);
            std::copy(row.begin(), row.end(), b);
        }
    }
    frame.width = width;
    frame.height = height;
    frame.stride = stride;
    frame.bytes = std::move(bytes);
    return PlatformResult::Ok;
}

// -- preview --------------------------------------------------------------------

PlatformResult CDirectShowWrapper::SetPreviewAutoShow(bool autoShow) {
    if (!m_videoWindow) return PlatformResult::Failed;
    return Map("IVideoWindow::put_AutoShow", m_videoWindow->put_AutoShow(autoShow ? OATRUE : OAFALSE));
}

PlatformResult CDirectShowWrapper::AttachPreview(WindowHandle owner) {
    if (!m_videoWindow) return PlatformResult::Failed;
    HRESULT hr = m_videoWindow->put_Owner(ToOaHwnd(owner));
    if (FAILED(hr) || !owner) return Map("IVideoWindow::put_Owner", hr);
    return Map("IVideoWindow::put_WindowStyle", m_videoWindow->put_WindowStyle(kPreviewStyle));
}

PlatformResult CDirectShowWrapper::SetPreviewPosition(std::int32_t left, std::int32_t top, std::int32_t width,
                                                      std::int32_t height) {
    if (!m_videoWindow) return PlatformResult::Failed;
    return Map("IVideoWindow::SetWindowPosition", m_videoWindow->SetWindowPosition(left, top, width, height));
}

PlatformResult CDirectShowWrapper::ShowPreview(bool visible) {
    if (!m_videoWindow) return PlatformResult::Failed;
    return Map("IVideoWindow::put_Visible", m_videoWindow->put_Visible(visible ? OATRUE : OAFALSE));
}

PlatformResult CDirectShowWrapper::GetSourceRect(SourceRect& rect) {
    if (!m_basicVideo) return PlatformResult::Failed;
    long left = 0, top = 0, width = 0, height = 0;
    const HRESULT hr = m_basicVideo->GetSourcePosition(&left, &top, &width, &height);
    if (FAILED(hr)) return Map("IBasicVideo::GetSourcePosition", hr);
    rect = SourceRect{left, top, width, height};
    return PlatformResult::Ok;
}

PlatformResult CDirectShowWrapper::SetSourceRect(const SourceRect& rect) {
    if (!m_basicVideo) return PlatformResult::Failed;
    const HRESULT hr = m_basicVideo->SetSourcePosition(rect.left, rect.top, rect.width, rect.height);
    if (hr == S_OK) return PlatformResult::Ok;
    if (FAILED(hr)) Map("IBasicVideo::SetSourcePosition", hr);
    else LogFailure("sourcerect", "IBasicVideo::SetSourcePosition did not answer S_OK");
    return PlatformResult::Failed;
}

// -- device extras ----------------------------------------------------------------

PlatformResult CDirectShowWrapper::ShowPropertyPages(WindowHandle owner, const std::wstring& caption) {
    if (!m_capture) return PlatformResult::Failed;
    ComPtr<ISpecifyPropertyPages> specify;
    ComPtr<IUnknown> object;
    HRESULT hr = m_capture.As(IID_ISpecifyPropertyPages, specify);
    if (FAILED(hr)) return Map("QueryInterface(ISpecifyPropertyPages)", hr);
    if (FAILED(hr = m_capture.As(IID_IUnknown, object))) return Map("QueryInterface(IUnknown)", hr);
    CAUUID pages{0, nullptr};
    hr = specify->GetPages(&pages);
    specify.Reset();
    if (FAILED(hr)) return Map("ISpecifyPropertyPages::GetPages", hr);
    struct PagesGuard {
        CAUUID& pages;
        ~PagesGuard() { CoTaskMemFree(pages.pElems); }
    } pagesGuard{pages};
    IUnknown* objects[1] = {object.Get()};
    hr = OleCreatePropertyFrame(ToHwnd(owner), 0, 0, caption.c_str(), 1, objects, pages.cElems, pages.pElems, 0, 0,
                                nullptr);
    return Map("OleCreatePropertyFrame", hr);
}

PlatformResult CDirectShowWrapper::OpenDevicePath(const std::wstring& path) {
    const HANDLE device = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return PlatformResult::NotFound;
    CloseHandle(device);
    return PlatformResult::Ok;
}

ComPtr<IKsControl> CDirectShowWrapper::FindUnitNode(const Guid& unit, std::uint32_t& nodeId) {
    ComPtr<IKsControl> found;
    if (!m_capture) return found;
    ComPtr<IKsTopologyInfo> topology;
    if (FAILED(m_capture.As(kIID_IKsTopologyInfo, topology)) || !topology) return found;
    for (auto known = m_unitNodes.begin(); known != m_unitNodes.end(); ++known) {
        if (!(known->unit == unit)) continue;
        nodeId = known->nodeId;
        if (topology->CreateNodeInstance(nodeId, kIID_IKsControl, found.PutVoid()) == S_OK && found) return found;
        found.Reset();
        m_unitNodes.erase(known);  // probed for again below
        break;
    }
    DWORD nodes = 0;
    if (FAILED(topology->get_NumNodes(&nodes))) return found;
    for (DWORD node = 0; node < nodes; ++node) {
        ComPtr<IKsControl> control;
        if (topology->CreateNodeInstance(node, kIID_IKsControl, control.PutVoid()) != S_OK || !control) continue;
        KspNode probe{ToGuid(unit), 0, kKsPropertySetSupport | kKsPropertyTopology, node, 0};
        ULONG returned = 0;
        if (SUCCEEDED(control->KsProperty(&probe, sizeof probe, nullptr, 0, &returned))) {
            nodeId = node;
            m_unitNodes.push_back(FoundNode{unit, node});
            return control;
        }
    }
    return found;
}

PlatformResult CDirectShowWrapper::FindExtensionUnit(const Guid& unit) {
    std::uint32_t node = 0;
    return FindUnitNode(unit, node) ? PlatformResult::Ok : PlatformResult::NotFound;
}

PlatformResult CDirectShowWrapper::UnitRequest(const Guid& unit, std::uint32_t selector, std::uint32_t flags,
                                               void* data, std::size_t length) {
    if (length > 0xFFFFFFFFu || (length && !data)) return PlatformResult::Failed;
    std::uint32_t node = 0;
    ComPtr<IKsControl> control = FindUnitNode(unit, node);
    if (!control) return PlatformResult::NotFound;
    KspNode request{ToGuid(unit), selector, flags | kKsPropertyTopology, node, 0};
    ULONG returned = 0;
    const HRESULT hr = control->KsProperty(&request, sizeof request, data, static_cast<ULONG>(length), &returned);
    if (hr == S_OK) return PlatformResult::Ok;
    if (LogEnabled(LogLevel::Error))
        Log(LogLevel::Error, "dshow",
            "IKsControl::KsProperty (%s, node %u, selector %u, %zu bytes) failed with "
            "HRESULT 0x%08lX, device %s",
            (flags & kKsPropertySet) ? "SET" : "GET", static_cast<unsigned>(node), static_cast<unsigned>(selector),
            length, static_cast<unsigned long>(static_cast<std::uint32_t>(hr)),
            m_boundPath.empty() ? "none" : LogText(m_boundPath).c_str());
    return PlatformResult::Failed;
}

PlatformResult CDirectShowWrapper::ExtensionUnitGet(const Guid& unit, std::uint32_t selector, std::uint8_t* data,
                                                    std::size_t length) {
    return UnitRequest(unit, selector, kKsPropertyGet, data, length);
}

PlatformResult CDirectShowWrapper::ExtensionUnitSet(const Guid& unit, std::uint32_t selector, const std::uint8_t* data,
                                                    std::size_t length) {
    // The request only reads the buffer of a SET.
    return UnitRequest(unit, selector, kKsPropertySet, const_cast<std::uint8_t*>(data), length);
}

}  // namespace dshow
}  // namespace kiv
