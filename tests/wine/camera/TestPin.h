// What every pin of the test camera's filters shares: identity and reference
// counting go to the filter, the connection state, the IPin queries about it,
// and, for output pins, the connection protocol (offer a type, take it over,
// agree on the downstream allocator) and the lease of the downstream input
// for one delivery.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <cstring>
#include <cwchar>
#include <mutex>

#include "wine/camera/TestCameraCom.h"

namespace testcam {

template <class Filter>
class PinBase : public IPin {
public:
    PinBase(Filter& filter, PIN_DIRECTION dir, const wchar_t* id) : m_filter(filter), m_dir(dir), m_id(id) {
        std::memset(&m_type, 0, sizeof m_type);
    }
    virtual ~PinBase() { Drop(); }
    PinBase(const PinBase&) = delete;
    PinBase& operator=(const PinBase&) = delete;

    STDMETHODIMP_(ULONG) AddRef() override { return m_filter.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_filter.Release(); }
    STDMETHODIMP Disconnect() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_peer) return S_FALSE;
        Drop();
        return S_OK;
    }
    STDMETHODIMP ConnectedTo(IPin** pin) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        *pin = m_peer;
        if (!m_peer) return VFW_E_NOT_CONNECTED;
        m_peer->AddRef();
        return S_OK;
    }
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_peer) {
            std::memset(type, 0, sizeof *type);
            return VFW_E_NOT_CONNECTED;
        }
        return CopyType(*type, m_type);
    }
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override {
        info->pFilter = &m_filter;
        m_filter.AddRef();
        info->dir = m_dir;
        wcsncpy(info->achName, m_id, MAX_PIN_NAME - 1);
        info->achName[MAX_PIN_NAME - 1] = 0;
        return S_OK;
    }
    STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override {
        *dir = m_dir;
        return S_OK;
    }
    STDMETHODIMP QueryId(LPWSTR* id) override {
        const std::size_t bytes = (std::wcslen(m_id) + 1) * sizeof(wchar_t);
        *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        if (!*id) return E_OUTOFMEMORY;
        std::memcpy(*id, m_id, bytes);
        return S_OK;
    }
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }

    // The connected size (0 x 0 when not connected).
    void Size(LONG& w, LONG& h) {
        std::lock_guard<std::mutex> lock(m_mutex);
        w = h = 0;
        if (!m_peer || !m_type.pbFormat) return;
        const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(m_type.pbFormat);
        w = info->bmiHeader.biWidth;
        h = info->bmiHeader.biHeight;
    }

protected:
    // Output pins, m_mutex held and not connected: offers `offered` (task
    // memory, taken over whatever happens) to the receiver, takes it on and
    // agrees on the receiver's allocator (or a new one) for three samples.
    HRESULT ConnectOutput(IPin* receiver, AM_MEDIA_TYPE* offered) {
        HRESULT hr = receiver->ReceiveConnection(this, offered);
        if (FAILED(hr)) {
            FreeType(*offered);
            CoTaskMemFree(offered);
            return VFW_E_NO_ACCEPTABLE_TYPES;
        }
        m_type = *offered;  // takes the format block over
        CoTaskMemFree(offered);
        m_peer = receiver;
        m_peer->AddRef();
        hr = receiver->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_input));
        if (SUCCEEDED(hr) && FAILED(m_input->GetAllocator(&m_allocator)))
            hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                  reinterpret_cast<void**>(&m_allocator));
        if (SUCCEEDED(hr)) {
            ALLOCATOR_PROPERTIES want{3, static_cast<long>(m_type.lSampleSize), 1, 0}, got{};
            hr = m_allocator->SetProperties(&want, &got);
            if (SUCCEEDED(hr)) hr = m_input->NotifyAllocator(m_allocator, FALSE);
        }
        if (FAILED(hr)) {
            receiver->Disconnect();
            Drop();
        }
        return hr;
    }

    // The downstream allocator and input for one delivery outside the lock;
    // the caller releases both. False when nothing is connected downstream.
    bool LeaseDownstream(IMemAllocator*& allocator, IMemInputPin*& input, long* sampleSize = nullptr) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_allocator || !m_input) return false;
        allocator = m_allocator;
        input = m_input;
        if (sampleSize) *sampleSize = m_type.lSampleSize;
        allocator->AddRef();
        input->AddRef();
        return true;
    }

    void Drop() {
        if (m_allocator) m_allocator->Release();
        if (m_input) m_input->Release();
        if (m_peer) m_peer->Release();
        m_allocator = nullptr;
        m_input = nullptr;
        m_peer = nullptr;
        FreeType(m_type);
    }

    Filter& m_filter;
    const PIN_DIRECTION m_dir;
    const wchar_t* m_id;
    std::mutex m_mutex;
    IPin* m_peer = nullptr;
    IMemInputPin* m_input = nullptr;       // output pin: the downstream input
    IMemAllocator* m_allocator = nullptr;  // output pin: the downstream allocator
    AM_MEDIA_TYPE m_type;
};

}  // namespace testcam
