#include "wine/camera/TestTransform.h"

#include <dshow.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "wine/camera/TestCameraCom.h"
#include "wine/camera/TestPin.h"

namespace testcam {
namespace {

bool IsEncodedVideo(const AM_MEDIA_TYPE* type) {
    return type && IsEqualGUID(type->majortype, MEDIATYPE_Video) &&
           (IsEqualGUID(type->subtype, MEDIASUBTYPE_MJPG) || IsEqualGUID(type->subtype, MEDIASUBTYPE_YUY2)) &&
           IsEqualGUID(type->formattype, FORMAT_VideoInfo) && type->pbFormat &&
           type->cbFormat >= sizeof(VIDEOINFOHEADER);
}

class Decoder;

class OutPin final : public PinBase<Decoder> {
public:
    explicit OutPin(Decoder& filter) : PinBase(filter, PINDIR_OUTPUT, L"Out") {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
            *out = static_cast<IPin*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* wanted) override;
    STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override {
        return IsEqualGUID(type->subtype, MEDIASUBTYPE_RGB24) ? S_OK : S_FALSE;
    }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
    STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
    STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    HRESULT Commit() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_allocator ? m_allocator->Commit() : S_OK;
    }
    void Decommit() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_allocator) m_allocator->Decommit();
    }
    HRESULT Deliver(IMediaSample* in);
    IPin* Peer() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_peer) m_peer->AddRef();
        return m_peer;
    }
};

class InPin final : public PinBase<Decoder>, public IMemInputPin {
public:
    explicit InPin(Decoder& filter) : PinBase(filter, PINDIR_INPUT, L"In") {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
            *out = static_cast<IPin*>(this);
        } else if (IsEqualIID(iid, IID_IMemInputPin)) {
            *out = static_cast<IMemInputPin*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        PinBase::AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return PinBase::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return PinBase::Release(); }

    STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override {
        if (!connector || !type) return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_peer) return VFW_E_ALREADY_CONNECTED;
        if (!IsEncodedVideo(type)) return VFW_E_TYPE_NOT_ACCEPTED;
        const HRESULT hr = CopyType(m_type, *type);
        if (FAILED(hr)) return hr;
        m_peer = connector;
        m_peer->AddRef();
        return S_OK;
    }
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override { return IsEncodedVideo(type) ? S_OK : S_FALSE; }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override {
        *out = new TypeEnum(GUID_NULL, 0, 0, 1);  // prefers nothing
        return S_OK;
    }
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // IMemInputPin: upstream brings its own allocator.
    STDMETHODIMP GetAllocator(IMemAllocator**) override { return VFW_E_NO_ALLOCATOR; }
    STDMETHODIMP NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* done) override {
        long i = 0;
        HRESULT hr = S_OK;
        for (; i < count && hr == S_OK; ++i) hr = Receive(samples[i]);
        *done = i;
        return hr;
    }
    STDMETHODIMP ReceiveCanBlock() override { return S_OK; }
};

std::atomic<LONG> g_decoders{0};

class Decoder final : public IBaseFilter, Counted {
public:
    Decoder() : m_in(*this), m_out(*this) { ++g_decoders; }
    ~Decoder() {
        --g_decoders;
        if (m_clock) m_clock->Release();
    }
    KIV_REFCOUNT
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IMediaFilter) ||
            IsEqualIID(iid, IID_IBaseFilter)) {
            *out = static_cast<IBaseFilter*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP GetClassID(CLSID* clsid) override {
        *clsid = kTestDecoderClsid;
        return S_OK;
    }
    STDMETHODIMP Stop() override {
        m_out.Decommit();
        m_state = State_Stopped;
        return S_OK;
    }
    STDMETHODIMP Pause() override {
        const HRESULT hr = m_out.Commit();
        if (FAILED(hr)) return hr;
        m_state = State_Paused;
        return S_OK;
    }
    STDMETHODIMP Run(REFERENCE_TIME) override {
        if (m_state == State_Stopped) {
            const HRESULT hr = Pause();
            if (FAILED(hr)) return hr;
        }
        m_state = State_Running;
        return S_OK;
    }
    STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override {
        *state = m_state;
        return S_OK;
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
    STDMETHODIMP EnumPins(IEnumPins** out) override {
        *out = new PinEnum({static_cast<IPin*>(&m_in), static_cast<IPin*>(&m_out)}, 0);
        return S_OK;
    }
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override {
        *pin = nullptr;
        if (!id) return E_POINTER;
        if (std::wcscmp(id, L"In") == 0) *pin = static_cast<IPin*>(&m_in);
        if (std::wcscmp(id, L"Out") == 0) *pin = static_cast<IPin*>(&m_out);
        if (!*pin) return VFW_E_NOT_FOUND;
        (*pin)->AddRef();
        return S_OK;
    }
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override {
        std::memset(info, 0, sizeof *info);
        wcsncpy(info->achName, L"KIV test decoder", MAX_FILTER_NAME - 1);
        info->pGraph = m_graph;
        if (m_graph) m_graph->AddRef();
        return S_OK;
    }
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR) override {
        m_graph = graph;
        return S_OK;
    }
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    InPin& In() { return m_in; }
    OutPin& Out() { return m_out; }
    bool Streaming() const { return m_state != State_Stopped; }

private:
    InPin m_in;
    OutPin m_out;
    IFilterGraph* m_graph = nullptr;
    IReferenceClock* m_clock = nullptr;
    std::atomic<FILTER_STATE> m_state{State_Stopped};
};

STDMETHODIMP OutPin::EnumMediaTypes(IEnumMediaTypes** out) {
    LONG w = 0, h = 0;
    m_filter.In().Size(w, h);
    *out = new TypeEnum(MEDIASUBTYPE_RGB24, w, h, w > 0 ? 0 : 1);
    return S_OK;
}

STDMETHODIMP OutPin::Connect(IPin* receiver, const AM_MEDIA_TYPE* wanted) {
    if (!receiver) return E_POINTER;
    LONG w = 0, h = 0;
    m_filter.In().Size(w, h);
    if (w <= 0 || h <= 0) return VFW_E_NO_ACCEPTABLE_TYPES;  // the input decides the size
    if (wanted && !IsEqualGUID(wanted->subtype, GUID_NULL) && !IsEqualGUID(wanted->subtype, MEDIASUBTYPE_RGB24))
        return VFW_E_NO_ACCEPTABLE_TYPES;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_peer) return VFW_E_ALREADY_CONNECTED;
    AM_MEDIA_TYPE* type = NewVideoType(MEDIASUBTYPE_RGB24, w, h);
    if (!type) return E_OUTOFMEMORY;
    return ConnectOutput(receiver, type);
}

// KIVTESTCAM_SHORT_SAMPLES=N: each decoded sample carries N bytes less than
// its frame (a decoder with another row layout); 0 < N < size, else 0.
long ShortenedBy(long size) {
    char text[16];
    const DWORD length = GetEnvironmentVariableA("KIVTESTCAM_SHORT_SAMPLES", text, sizeof text);
    if (length == 0 || length >= sizeof text) return 0;
    const long n = std::strtol(text, nullptr, 10);
    return n > 0 && n < size ? n : 0;
}

HRESULT OutPin::Deliver(IMediaSample* in) {
    IMemAllocator* allocator = nullptr;
    IMemInputPin* input = nullptr;
    long size = 0;
    if (!LeaseDownstream(allocator, input, &size)) return S_FALSE;  // nothing downstream: dropped
    IMediaSample* out = nullptr;
    HRESULT hr = allocator->GetBuffer(&out, nullptr, nullptr, 0);
    if (SUCCEEDED(hr) && out) {
        BYTE* from = nullptr;
        BYTE* to = nullptr;
        const long length = in->GetActualDataLength();
        if (SUCCEEDED(in->GetPointer(&from)) && SUCCEEDED(out->GetPointer(&to)) && length == size &&
            out->GetSize() >= size) {
            std::memcpy(to, from, static_cast<std::size_t>(size));
            out->SetActualDataLength(size - ShortenedBy(size));
            out->SetSyncPoint(TRUE);
            hr = input->Receive(out);
        }
        out->Release();
    }
    allocator->Release();
    input->Release();
    return hr;
}

STDMETHODIMP InPin::Receive(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    if (!m_filter.Streaming()) return VFW_E_WRONG_STATE;
    return m_filter.Out().Deliver(sample);
}

STDMETHODIMP InPin::EndOfStream() {
    IPin* peer = m_filter.Out().Peer();
    if (!peer) return S_OK;
    const HRESULT hr = peer->EndOfStream();
    peer->Release();
    return hr;
}
STDMETHODIMP InPin::BeginFlush() {
    IPin* peer = m_filter.Out().Peer();
    if (!peer) return S_OK;
    const HRESULT hr = peer->BeginFlush();
    peer->Release();
    return hr;
}
STDMETHODIMP InPin::EndFlush() {
    IPin* peer = m_filter.Out().Peer();
    if (!peer) return S_OK;
    const HRESULT hr = peer->EndFlush();
    peer->Release();
    return hr;
}

}  // namespace

LONG LiveTestDecoders() { return g_decoders.load(); }

IUnknown* NewTestDecoder() { return static_cast<IBaseFilter*>(new Decoder()); }

HRESULT RegisterTestDecoder() {
    IFilterMapper2* mapper = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(&mapper));
    if (FAILED(hr)) return hr;
    const REGPINTYPES inputs[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_MJPG}, {&MEDIATYPE_Video, &MEDIASUBTYPE_YUY2}};
    const REGPINTYPES outputs[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};
    REGFILTERPINS pins[2] = {};
    pins[0].strName = const_cast<LPWSTR>(L"In");
    pins[0].nMediaTypes = 2;
    pins[0].lpMediaType = inputs;
    pins[1].strName = const_cast<LPWSTR>(L"Out");
    pins[1].bOutput = TRUE;
    pins[1].nMediaTypes = 1;
    pins[1].lpMediaType = outputs;
    REGFILTER2 filter = {};
    filter.dwVersion = 1;
    filter.dwMerit = 0x600000;  // preferred: intelligent connect tries it
    filter.cPins = 2;
    filter.rgPins = pins;
    hr = mapper->RegisterFilter(kTestDecoderClsid, L"KIV test decoder", nullptr, &CLSID_LegacyAmFilterCategory,
                                L"KIV test decoder", &filter);
    mapper->Release();
    return hr;
}

HRESULT UnregisterTestDecoder() {
    IFilterMapper2* mapper = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(&mapper));
    if (FAILED(hr)) return hr;
    hr = mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, L"KIV test decoder", kTestDecoderClsid);
    mapper->Release();
    return hr;
}

}  // namespace testcam
