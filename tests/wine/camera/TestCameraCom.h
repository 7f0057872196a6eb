// COM pieces shared by the test camera's filters: live-object counting,
// media types in task memory, pin and media-type enumerators.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <cstring>
#include <utility>
#include <vector>

#include "kivds/camera/Guid.h"

namespace testcam {

// The module's live COM objects.
extern std::atomic<LONG> g_live;

// Counts the module's live COM objects.
struct Counted {
    Counted() { ++g_live; }
    ~Counted() { --g_live; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
};

#define KIV_REFCOUNT                                            \
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; } \
    STDMETHODIMP_(ULONG) Release() override {                   \
        const ULONG left = --m_refs;                            \
        if (left == 0) delete this;                             \
        return left;                                            \
    }                                                           \
    std::atomic<ULONG> m_refs{1};

inline kiv::Guid FromGuid(const GUID& g) {
    kiv::Guid out;
    out.data1 = g.Data1;
    out.data2 = g.Data2;
    out.data3 = g.Data3;
    std::memcpy(out.data4, g.Data4, 8);
    return out;
}
inline GUID ToGuid(const kiv::Guid& g) {
    GUID out;
    out.Data1 = g.data1;
    out.Data2 = g.data2;
    out.Data3 = g.data3;
    std::memcpy(out.Data4, g.data4, 8);
    return out;
}

inline LONG Stride(LONG width) { return (width * 3 + 3) & ~3; }

// A media type in task memory with a VIDEOINFOHEADER for subtype and size.
inline AM_MEDIA_TYPE* NewVideoType(const GUID& subtype, LONG width, LONG height, bool videoInfo = true) {
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!type) return nullptr;
    std::memset(type, 0, sizeof *type);
    type->majortype = MEDIATYPE_Video;
    type->subtype = subtype;
    type->bFixedSizeSamples = TRUE;
    type->formattype = videoInfo ? FORMAT_VideoInfo : FORMAT_None;
    if (!videoInfo) return type;
    auto* info = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (!info) {
        CoTaskMemFree(type);
        return nullptr;
    }
    std::memset(info, 0, sizeof *info);
    info->AvgTimePerFrame = 333333;
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biWidth = width;
    info->bmiHeader.biHeight = height;
    info->bmiHeader.biPlanes = 1;
    const bool rgb = IsEqualGUID(subtype, MEDIASUBTYPE_RGB24);
    info->bmiHeader.biBitCount = rgb ? 24 : 16;
    info->bmiHeader.biCompression = rgb ? BI_RGB : subtype.Data1;
    // Every sample carries the RGB24 picture, also under an encoded subtype
    // (the test decoder copies it).
    info->bmiHeader.biSizeImage = Stride(width) * height;
    type->lSampleSize = info->bmiHeader.biSizeImage;
    type->cbFormat = sizeof(VIDEOINFOHEADER);
    type->pbFormat = reinterpret_cast<BYTE*>(info);
    return type;
}

inline void FreeType(AM_MEDIA_TYPE& type) {
    if (type.cbFormat && type.pbFormat) CoTaskMemFree(type.pbFormat);
    type.pbFormat = nullptr;
    type.cbFormat = 0;
    if (type.pUnk) type.pUnk->Release();
    type.pUnk = nullptr;
}

inline HRESULT CopyType(AM_MEDIA_TYPE& to, const AM_MEDIA_TYPE& from) {
    to = from;
    to.pUnk = nullptr;
    to.pbFormat = nullptr;
    if (from.cbFormat) {
        to.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(from.cbFormat));
        if (!to.pbFormat) return E_OUTOFMEMORY;
        std::memcpy(to.pbFormat, from.pbFormat, from.cbFormat);
    }
    return S_OK;
}

// -- enumerators --------------------------------------------------------------

class PinEnum final : public IEnumPins, Counted {
public:
    PinEnum(std::vector<IPin*> pins, ULONG pos) : m_pins(std::move(pins)), m_pos(pos) {
        for (IPin* pin : m_pins) pin->AddRef();
    }
    ~PinEnum() {
        for (IPin* pin : m_pins) pin->Release();
    }
    KIV_REFCOUNT
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumPins)) {
            *out = static_cast<IEnumPins*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override {
        ULONG got = 0;
        while (got < count && m_pos < m_pins.size()) {
            pins[got] = m_pins[m_pos++];
            pins[got++]->AddRef();
        }
        if (fetched) *fetched = got;
        return got == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        m_pos += count;
        return m_pos <= m_pins.size() ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        m_pos = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumPins** out) override {
        *out = new PinEnum(m_pins, m_pos);
        return S_OK;
    }

private:
    std::vector<IPin*> m_pins;
    ULONG m_pos;
};

class TypeEnum final : public IEnumMediaTypes, Counted {
public:
    TypeEnum(const GUID& subtype, LONG w, LONG h, ULONG pos) : m_subtype(subtype), m_w(w), m_h(h), m_pos(pos) {}
    KIV_REFCOUNT
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumMediaTypes)) {
            *out = static_cast<IEnumMediaTypes*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
        ULONG got = 0;
        if (count > 0 && m_pos == 0) {
            types[0] = NewVideoType(m_subtype, m_w, m_h);
            if (!types[0]) return E_OUTOFMEMORY;
            m_pos = 1;
            got = 1;
        }
        if (fetched) *fetched = got;
        return got == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        m_pos += count;
        return m_pos <= 1 ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        m_pos = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumMediaTypes** out) override {
        *out = new TypeEnum(m_subtype, m_w, m_h, m_pos);
        return S_OK;
    }

private:
    GUID m_subtype;
    LONG m_w, m_h;
    ULONG m_pos;
};

}  // namespace testcam
