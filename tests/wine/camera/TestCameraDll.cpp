// The Wine test camera's COM server: see TestCamera.h.
#include <windows.h>
#include <dshow.h>
#include <olectl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kivds/camera/dshow/KsInterop.h"
#include "kivds/camera/ExtensionUnit.h"
#include "kivds/camera/sim/SimConfig.h"
#include "kivds/camera/sim/SimPattern.h"
#include "kivds/camera/sim/VirtualDevice.h"
#include "wine/camera/TestCamera.h"
#include "wine/camera/TestCameraCom.h"
#include "wine/camera/TestPin.h"
#include "wine/camera/TestPropertyPage.h"
#include "wine/camera/TestTransform.h"

using kiv::dshow::IKsControl;
using kiv::dshow::IKsTopologyInfo;
using kiv::dshow::KspNode;
using kiv::dshow::KsTopologyConnection;

namespace testcam {
std::atomic<LONG> g_live{0};
}  // namespace testcam

using namespace testcam;

namespace {

HMODULE g_module = nullptr;

// What a driver keeps per device across filter instances: the device itself
// (its format, buttons, extension unit and removal), made at the first filter.
struct Slot {
    std::mutex mutex;
    bool initialised = false;
    std::unique_ptr<kiv::sim::VirtualDevice> device;
};
Slot g_slots[kTestCamSlots];
// Queries of a filter for IKsTopologyInfo: one per button read of the backend.
std::atomic<LONG> g_topologyQueries{0};
// Probes (SETSUPPORT requests) sent to extension-unit nodes, for any set.
std::atomic<LONG> g_unitProbes{0};

kiv::sim::SimDevice DeviceOfSlot(int slot) {
    const kiv::sim::SimConfig config = kiv::sim::LoadSimConfig();
    if (slot >= 0 && static_cast<std::size_t>(slot) < config.devices.size()) return config.devices[slot];
    return kiv::sim::SimDevice();
}

// The caller holds the slot's lock.
void InitSlot(Slot& s, const kiv::sim::SimDevice& d) {
    if (s.initialised) return;
    s.initialised = true;
    s.device = std::make_unique<kiv::sim::VirtualDevice>(d);
}

// The device's answer to a kernel-streaming request.
HRESULT KsResult(kiv::sim::XuAnswer answer) {
    switch (answer) {
        case kiv::sim::XuAnswer::Ok: return S_OK;
        case kiv::sim::XuAnswer::NoControl: return E_PROP_ID_UNSUPPORTED;
        case kiv::sim::XuAnswer::Gone: return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
        case kiv::sim::XuAnswer::Stall: return HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
        default: return E_INVALIDARG;  // a size or direction refused, or an injected fault
    }
}

class CaptureFilter;

// -- an extension-unit node ---------------------------------------------------

constexpr HRESULT kPropSetUnsupported = static_cast<HRESULT>(0x80070492);  // ERROR_SET_NOT_FOUND

class UnitNode final : public IKsControl, Counted {
public:
    UnitNode(int slot, ULONG nodeId) : m_slot(slot), m_nodeId(nodeId) {}
    KIV_REFCOUNT
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kiv::dshow::kIID_IKsControl)) {
            *out = static_cast<IKsControl*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // The request goes to the slot's device with the cameras' byte counts.
    STDMETHODIMP KsProperty(void* property, ULONG length, void* data, ULONG dataLength, ULONG* returned) override {
        if (returned) *returned = 0;
        if (!property || length < sizeof(KspNode)) return E_INVALIDARG;
        KspNode request;
        std::memcpy(&request, property, sizeof request);
        if (request.flags & kiv::dshow::kKsPropertySetSupport) ++g_unitProbes;
        const kiv::Guid set = FromGuid(request.set);
        Slot& s = g_slots[m_slot];
        std::lock_guard<std::mutex> lock(s.mutex);
        kiv::sim::VirtualDevice& device = *s.device;
        if (!device.HasUnit(set) || request.nodeId != m_nodeId) return kPropSetUnsupported;
        if (!(request.flags & kiv::dshow::kKsPropertyTopology)) return E_INVALIDARG;
        if (request.flags & kiv::dshow::kKsPropertySetSupport) return S_OK;
        auto* bytes = static_cast<BYTE*>(data);
        if (request.flags & kiv::dshow::kKsPropertySet)
            return KsResult(device.Set(set, request.id, bytes, dataLength, kiv::sim::XuLength::Protocol));
        if (!(request.flags & kiv::dshow::kKsPropertyGet)) return E_INVALIDARG;
        const HRESULT hr = KsResult(device.Get(set, request.id, bytes, dataLength, kiv::sim::XuLength::Protocol));
        if (hr == S_OK && returned) *returned = dataLength;
        return hr;
    }
    STDMETHODIMP KsMethod(void*, ULONG, void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP KsEvent(void*, ULONG, void*, ULONG, ULONG*) override { return E_NOTIMPL; }

private:
    int m_slot;
    ULONG m_nodeId;
};

// -- the capture filter and its pin -------------------------------------------

class CapturePin final : public PinBase<CaptureFilter>, public IAMStreamConfig, public IKsPropertySet {
public:
    explicit CapturePin(CaptureFilter& filter) : PinBase(filter, PINDIR_OUTPUT, L"Capture") {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return PinBase::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return PinBase::Release(); }

    // IPin
    STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
    STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
    STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // IAMStreamConfig
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* type) override;
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** type) override;
    STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
    STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;

    // IKsPropertySet: the pin category.
    STDMETHODIMP Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD length, DWORD* returned) override {
        if (!IsEqualGUID(set, AMPROPSETID_Pin) || id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
        if (!data || length < sizeof(GUID)) return E_POINTER;
        *static_cast<GUID*>(data) = PIN_CATEGORY_CAPTURE;
        if (returned) *returned = sizeof(GUID);
        return S_OK;
    }
    STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override {
        if (!IsEqualGUID(set, AMPROPSETID_Pin) || id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
        if (support) *support = KSPROPERTY_SUPPORT_GET;
        return S_OK;
    }

    // Streaming, for the filter.
    HRESULT Commit() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_allocator ? m_allocator->Commit() : VFW_E_NOT_CONNECTED;
    }
    void Decommit() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_allocator) m_allocator->Decommit();
    }
    // Flushes the downstream input: a delivery held there (a paused
    // renderer keeps its sample) returns at once.
    void FlushDownstream(bool begin) {
        IPin* peer = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            peer = m_peer;
            if (peer) peer->AddRef();
        }
        if (!peer) return;
        if (begin) peer->BeginFlush();
        else peer->EndFlush();
        peer->Release();
    }
    // Delivers one picture; false when the stream cannot go on.
    bool Deliver(const std::vector<std::uint8_t>& picture);
};

class CaptureFilter final : public IBaseFilter, public IKsTopologyInfo, public ISpecifyPropertyPages, Counted {
public:
    explicit CaptureFilter(int slot) : m_slot(slot), m_device(DeviceOfSlot(slot)), m_pin(*this) {
        Slot& s = g_slots[slot];
        std::lock_guard<std::mutex> lock(s.mutex);
        InitSlot(s, m_device);
    }
    ~CaptureFilter() {
        StopStreaming(true);
        if (m_clock) m_clock->Release();
    }
    KIV_REFCOUNT

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IMediaFilter) ||
            IsEqualIID(iid, IID_IBaseFilter)) {
            *out = static_cast<IBaseFilter*>(this);
        } else if (IsEqualIID(iid, IID_ISpecifyPropertyPages)) {
            *out = static_cast<ISpecifyPropertyPages*>(this);
        } else if (IsEqualIID(iid, kiv::dshow::kIID_IKsTopologyInfo)) {
            ++g_topologyQueries;  // asked for, whether or not there is a unit
            if (m_device.unit == kiv::sim::SimUnit::None) {
                *out = nullptr;
                return E_NOINTERFACE;
            }
            *out = static_cast<IKsTopologyInfo*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    // IPersist, IMediaFilter
    STDMETHODIMP GetClassID(CLSID* clsid) override {
        *clsid = TestCamClsid(m_slot);
        return S_OK;
    }
    STDMETHODIMP Stop() override {
        StopStreaming(true);
        m_pin.Decommit();
        m_state = State_Stopped;
        return S_OK;
    }
    STDMETHODIMP Pause() override {
        if (m_state == State_Stopped) {
            // An in-use or unplugged device refuses to leave the stopped
            // state; the graph's Run reports that.
            const HRESULT refused = RefusedStart();
            if (FAILED(refused)) return refused;
        }
        // A live source delivers nothing while paused; its streaming thread
        // keeps going. KIVTESTCAM_JOIN_IN_PAUSE=1, for tests of the graph's
        // user: the thread is joined here instead, as some filters do, and
        // only once it has begun one more delivery, which reaches the
        // filters downstream that the graph paused already.
        if (JoinInPause() && m_state == State_Running) {
            const std::uint64_t begun = m_deliveries.load();
            for (int waited = 0; waited < 2000 && m_deliveries.load() == begun; ++waited)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            StopStreaming(false);
        }
        const HRESULT hr = m_pin.Commit();
        if (FAILED(hr) && hr != VFW_E_NOT_CONNECTED) return hr;
        m_state = State_Paused;
        return S_OK;
    }
    STDMETHODIMP Run(REFERENCE_TIME) override {
        if (m_state == State_Stopped) {
            const HRESULT hr = Pause();
            if (FAILED(hr)) return hr;
        }
        if (!m_streamer.joinable()) {
            m_stop = false;
            m_streamer = std::thread(&CaptureFilter::Stream, this);
        }
        m_state = State_Running;
        return S_OK;
    }
    // A live source has nothing to cue while paused.
    STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override {
        *state = m_state;
        return m_state == State_Paused ? VFW_S_CANT_CUE : S_OK;
    }
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override {
        if (clock) clock->AddRef();
        if (m_clock) m_clock->Release();
        m_clock = clock;
        return S_OK;
    }
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override {
        *clock = m_clock;
        if (m_clock) m_clock->AddRef();
        return S_OK;
    }
    // IBaseFilter
    STDMETHODIMP EnumPins(IEnumPins** out) override {
        *out = new PinEnum({&m_pin}, 0);
        return S_OK;
    }
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override {
        if (id && std::wcscmp(id, L"Capture") == 0) {
            *pin = &m_pin;
            m_pin.AddRef();
            return S_OK;
        }
        *pin = nullptr;
        return VFW_E_NOT_FOUND;
    }
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override {
        std::memset(info, 0, sizeof *info);
        wcsncpy(info->achName, m_name.c_str(), MAX_FILTER_NAME - 1);
        info->pGraph = m_graph;
        if (m_graph) m_graph->AddRef();
        return S_OK;
    }
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
        m_graph = graph;  // not held: the graph holds the filter
        m_name = name ? name : L"";
        return S_OK;
    }
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    // ISpecifyPropertyPages: the module's one page.
    STDMETHODIMP GetPages(CAUUID* pages) override {
        if (!pages) return E_POINTER;
        pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
        if (!pages->pElems) return E_OUTOFMEMORY;
        pages->pElems[0] = kTestPageClsid;
        pages->cElems = 1;
        return S_OK;
    }

    // IKsTopologyInfo: node 0 is the camera terminal, node 1 the extension unit.
    STDMETHODIMP get_NumCategories(DWORD* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP get_Category(DWORD, GUID*) override { return E_INVALIDARG; }
    STDMETHODIMP get_NumConnections(DWORD* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP get_ConnectionInfo(DWORD, KsTopologyConnection*) override { return E_INVALIDARG; }
    STDMETHODIMP get_NodeName(DWORD, WCHAR*, DWORD, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP get_NumNodes(DWORD* count) override {
        *count = 2;
        return S_OK;
    }
    STDMETHODIMP get_NodeType(DWORD, GUID*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateNodeInstance(DWORD node, REFIID iid, void** out) override {
        *out = nullptr;
        if (node != 1) return E_NOINTERFACE;  // the terminal has no controls here
        UnitNode* unit = new UnitNode(m_slot, node);
        const HRESULT hr = unit->QueryInterface(iid, out);
        unit->Release();
        return hr;
    }

    HRESULT RefusedStart() const {
        char code[16];
        const DWORD length = GetEnvironmentVariableA("KIVTESTCAM_RUN_HR", code, sizeof code);
        if (length > 0 && length < sizeof code) {
            const HRESULT hr = static_cast<HRESULT>(std::strtoul(code, nullptr, 16));
            if (FAILED(hr)) return hr;
        }
        Slot& s = g_slots[m_slot];
        std::lock_guard<std::mutex> lock(s.mutex);
        return s.device->Lost() ? HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED) : S_OK;
    }

    int SlotIndex() const { return m_slot; }
    const kiv::sim::SimDevice& Device() const { return m_device; }

private:
    // Ends the streaming thread. It never waits unboundedly for a thread
    // held downstream: a delivery waiting for a buffer gives up when the
    // allocator is decommitted, and with `flush` one held by a downstream
    // filter returns when that is flushed.
    void StopStreaming(bool flush) {
        {
            std::lock_guard<std::mutex> lock(m_wakeMutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (!m_streamer.joinable()) return;
        m_pin.Decommit();
        if (flush) m_pin.FlushDownstream(true);
        m_streamer.join();
        if (flush) m_pin.FlushDownstream(false);
    }

    static bool JoinInPause() {
        char text[4];
        const DWORD length = GetEnvironmentVariableA("KIVTESTCAM_JOIN_IN_PAUSE", text, sizeof text);
        return length == 1 && text[0] == '1';
    }

    void Stream() {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        std::int32_t width = 0, height = 0;
        {
            Slot& s = g_slots[m_slot];
            std::lock_guard<std::mutex> lock(s.mutex);
            s.device->StreamSize(width, height);
        }
        const auto pattern = kiv::sim::MakePattern(width, height);
        const auto interval = std::chrono::microseconds(1000000 / (m_device.fps ? m_device.fps : 30));
        std::uint64_t frames = 0;
        while (!m_stop && pattern) {
            {
                // Woken at once by a stop, even at 1 frame per second.
                std::unique_lock<std::mutex> lock(m_wakeMutex);
                if (m_wake.wait_for(lock, interval, [this] { return m_stop.load(); })) break;
            }
            if (m_state != State_Running) continue;  // paused: no frames
            bool lost = false;
            {
                Slot& s = g_slots[m_slot];
                std::lock_guard<std::mutex> lock(s.mutex);
                if (s.device->LosesAfter(frames)) s.device->Lose();
                lost = s.device->Lost();
            }
            if (lost) {
                RaiseDeviceLost();
                break;
            }
            ++m_deliveries;
            if (!m_pin.Deliver(*pattern)) break;
            ++frames;
        }
        CoUninitialize();
    }

    void RaiseDeviceLost() {
        if (!m_graph) return;
        IMediaEventSink* sink = nullptr;
        if (SUCCEEDED(m_graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
            sink->Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)), 0);
            sink->Release();
        }
    }

    const int m_slot;
    const kiv::sim::SimDevice m_device;
    CapturePin m_pin;
    IFilterGraph* m_graph = nullptr;
    std::wstring m_name;
    IReferenceClock* m_clock = nullptr;
    std::atomic<FILTER_STATE> m_state{State_Stopped};
    std::thread m_streamer;
    std::atomic<bool> m_stop{false};
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    std::atomic<std::uint64_t> m_deliveries{0};
};

// -- the pin's operations -------------------------------------------------------

STDMETHODIMP CapturePin::QueryInterface(REFIID iid, void** out) {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
        *out = static_cast<IPin*>(this);
    } else if (IsEqualIID(iid, IID_IAMStreamConfig)) {
        *out = static_cast<IAMStreamConfig*>(this);
    } else if (IsEqualIID(iid, IID_IKsPropertySet)) {
        *out = static_cast<IKsPropertySet*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP CapturePin::QueryAccept(const AM_MEDIA_TYPE* type) {
    Slot& s = g_slots[m_filter.SlotIndex()];
    std::lock_guard<std::mutex> lock(s.mutex);
    return IsEqualGUID(type->majortype, MEDIATYPE_Video) && IsEqualGUID(type->subtype, ToGuid(s.device->Subtype()))
               ? S_OK
               : S_FALSE;
}

STDMETHODIMP CapturePin::EnumMediaTypes(IEnumMediaTypes** out) {
    Slot& s = g_slots[m_filter.SlotIndex()];
    std::lock_guard<std::mutex> lock(s.mutex);
    *out = new TypeEnum(ToGuid(s.device->Subtype()), s.device->Width(), s.device->Height(), 0);
    return S_OK;
}

STDMETHODIMP CapturePin::Connect(IPin* receiver, const AM_MEDIA_TYPE* wanted) {
    if (!receiver) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_peer) return VFW_E_ALREADY_CONNECTED;
    // "fail=connect:..": the device is held elsewhere and streams to no one.
    if (m_filter.Device().Failure(kiv::sim::SimOp::Connect) != kiv::PlatformResult::Ok)
        return HRESULT_FROM_WIN32(ERROR_BUSY);
    LONG width = 0, height = 0;
    GUID subtype;
    {
        Slot& s = g_slots[m_filter.SlotIndex()];
        std::lock_guard<std::mutex> slotLock(s.mutex);
        width = s.device->Width();
        height = s.device->Height();
        subtype = ToGuid(s.device->Subtype());
    }
    if (wanted && !IsEqualGUID(wanted->majortype, GUID_NULL) && !IsEqualGUID(wanted->majortype, MEDIATYPE_Video))
        return VFW_E_NO_ACCEPTABLE_TYPES;
    if (wanted && !IsEqualGUID(wanted->subtype, GUID_NULL) && !IsEqualGUID(wanted->subtype, subtype))
        return VFW_E_NO_ACCEPTABLE_TYPES;
    AM_MEDIA_TYPE* type = NewVideoType(subtype, width, height);
    if (!type) return E_OUTOFMEMORY;
    return ConnectOutput(receiver, type);
}

bool CapturePin::Deliver(const std::vector<std::uint8_t>& picture) {
    IMemAllocator* allocator = nullptr;
    IMemInputPin* input = nullptr;
    if (!LeaseDownstream(allocator, input)) return false;
    IMediaSample* sample = nullptr;
    bool ok = SUCCEEDED(allocator->GetBuffer(&sample, nullptr, nullptr, 0)) && sample;
    if (ok) {
        BYTE* bytes = nullptr;
        const long size = static_cast<long>(picture.size());
        ok = SUCCEEDED(sample->GetPointer(&bytes)) && sample->GetSize() >= size;
        if (ok) {
            std::memcpy(bytes, picture.data(), picture.size());
            sample->SetActualDataLength(size);
            sample->SetSyncPoint(TRUE);
            input->Receive(sample);
        }
        sample->Release();
    }
    allocator->Release();
    input->Release();
    return ok;
}

STDMETHODIMP CapturePin::SetFormat(AM_MEDIA_TYPE* type) {
    if (!type || !IsEqualGUID(type->formattype, FORMAT_VideoInfo) || type->cbFormat < sizeof(VIDEOINFOHEADER))
        return E_INVALIDARG;
    const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
    Slot& s = g_slots[m_filter.SlotIndex()];
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.device->SetFormat(FromGuid(type->subtype), info->bmiHeader.biWidth, info->bmiHeader.biHeight)
               ? S_OK
               : VFW_E_INVALIDMEDIATYPE;
}

STDMETHODIMP CapturePin::GetFormat(AM_MEDIA_TYPE** type) {
    Slot& s = g_slots[m_filter.SlotIndex()];
    std::lock_guard<std::mutex> lock(s.mutex);
    *type = NewVideoType(ToGuid(s.device->Subtype()), s.device->Width(), s.device->Height(), s.device->HasCurrent());
    return *type ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CapturePin::GetNumberOfCapabilities(int* count, int* size) {
    *count = static_cast<int>(m_filter.Device().caps.size());
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

STDMETHODIMP CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
    const auto& all = m_filter.Device().caps;
    if (index < 0 || static_cast<std::size_t>(index) >= all.size()) return S_FALSE;
    const kiv::StreamCapability& cap = all[index];
    *type = NewVideoType(ToGuid(cap.subtype), cap.width, cap.height, cap.videoInfo);
    if (!*type) return E_OUTOFMEMORY;
    if (caps) {
        auto* scc = reinterpret_cast<VIDEO_STREAM_CONFIG_CAPS*>(caps);
        std::memset(scc, 0, sizeof *scc);
        scc->guid = FORMAT_VideoInfo;
        scc->InputSize = scc->MinCroppingSize = scc->MaxCroppingSize = scc->MinOutputSize = scc->MaxOutputSize =
            SIZE{cap.width, cap.height};
        scc->MinFrameInterval = scc->MaxFrameInterval = 333333;
    }
    return S_OK;
}

// -- class factory and registration ----------------------------------------------

class Factory final : public IClassFactory, Counted {
public:
    explicit Factory(int slot) : m_slot(slot) {}
    KIV_REFCOUNT
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Slot -1: the decoder; -2: the property page.
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        IUnknown* object = m_slot == -2 ? NewTestPropertyPage()
                           : m_slot < 0 ? NewTestDecoder()
                                        : static_cast<IBaseFilter*>(new CaptureFilter(m_slot));
        const HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    int m_slot;
};

std::wstring ClsidKey(const CLSID& clsid) {
    wchar_t text[64];
    StringFromGUID2(clsid, text, 64);
    return std::wstring(L"CLSID\\") + text;
}

std::vector<CLSID> ModuleClasses() {
    std::vector<CLSID> classes;
    for (int slot = 0; slot < kTestCamSlots; ++slot) classes.push_back(TestCamClsid(slot));
    classes.push_back(kTestDecoderClsid);
    classes.push_back(kTestPageClsid);
    return classes;
}

bool SetString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    return RegSetKeyValueW(root, key.c_str(), name, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    *out = nullptr;
    for (int slot = -2; slot < kTestCamSlots; ++slot) {
        const CLSID& of = slot == -2 ? kTestPageClsid : slot < 0 ? kTestDecoderClsid : TestCamClsid(slot);
        if (!IsEqualCLSID(clsid, of)) continue;
        Factory* factory = new Factory(slot);
        const HRESULT hr = factory->QueryInterface(iid, out);
        factory->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_live == 0 ? S_OK : S_FALSE; }

// Idempotent: the classes of every slot, in-process, any apartment.
HRESULT STDAPICALLTYPE DllRegisterServer() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return SELFREG_E_CLASS;
    for (const CLSID& clsid : ModuleClasses()) {
        const std::wstring key = ClsidKey(clsid);
        if (!SetString(HKEY_CLASSES_ROOT, key, nullptr, L"KIV test camera") ||
            !SetString(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", nullptr, path) ||
            !SetString(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel", L"Both"))
            return SELFREG_E_CLASS;
    }
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const HRESULT hr = RegisterTestDecoder();
    if (SUCCEEDED(init)) CoUninitialize();
    return FAILED(hr) ? SELFREG_E_CLASS : S_OK;
}

HRESULT STDAPICALLTYPE DllUnregisterServer() {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    UnregisterTestDecoder();
    if (SUCCEEDED(init)) CoUninitialize();
    for (const CLSID& clsid : ModuleClasses()) RegDeleteTreeW(HKEY_CLASSES_ROOT, ClsidKey(clsid).c_str());
    return S_OK;
}

LONG WINAPI KivTestCamLiveObjects() { return g_live.load(); }

LONG WINAPI KivTestCamLiveDecoders() { return LiveTestDecoders(); }

LONG WINAPI KivTestCamPagesActivated() { return TestPagesActivated(); }

LONG WINAPI KivTestCamTopologyQueries() { return g_topologyQueries.load(); }

LONG WINAPI KivTestCamUnitProbes() { return g_unitProbes.load(); }

LONG WINAPI KivTestCamButtonReads(int slot) {
    if (slot < 0 || slot >= kTestCamSlots) return -1;
    const Slot& s = g_slots[slot];
    std::lock_guard<std::mutex> lock(g_slots[slot].mutex);
    return s.initialised ? static_cast<LONG>(s.device->ButtonReads()) : 0;
}

void WINAPI KivTestCamUnplug(int slot) {
    if (slot < 0 || slot >= kTestCamSlots) return;
    Slot& s = g_slots[slot];
    std::lock_guard<std::mutex> lock(s.mutex);
    InitSlot(s, DeviceOfSlot(slot));
    s.device->Lose();
}

void WINAPI KivTestCamReset() {
    for (Slot& s : g_slots) {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.initialised = false;  // the next filter makes the device anew
    }
    g_topologyQueries = 0;
    g_unitProbes = 0;
}

}  // extern "C"
