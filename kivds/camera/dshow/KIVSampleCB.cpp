#include "kivds/camera/dshow/KIVSampleCB.h"

#include "kivds/camera/IWindowBridge.h"

namespace kiv {
namespace dshow {

STDMETHODIMP CKIVSampleCB::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISampleGrabberCB)) {
        *out = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

void CKIVSampleCB::Announce(bool nonEmpty) {
    if (!nonEmpty) return;
    // The message goes out synchronously; the window's handler may disarm or
    // re-arm, so the target is taken before the call.
    if (WindowHandle target = m_target.exchange(nullptr)) WindowBridge().SendFrameArrived(target);
}

STDMETHODIMP CKIVSampleCB::SampleCB(double, IMediaSample* sample) {
    Announce(sample && sample->GetActualDataLength() > 0);
    return S_OK;
}

STDMETHODIMP CKIVSampleCB::BufferCB(double, BYTE* buffer, long length) {
    Announce(buffer && length > 0);
    return S_OK;
}

}  // namespace dshow
}  // namespace kiv
