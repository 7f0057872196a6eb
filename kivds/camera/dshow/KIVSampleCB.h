// The sample grabber's callback: announces the first frame after arming to
// one window, once. Owned by the DirectShow backend (not reference-counted:
// AddRef and Release count nothing) and destroyed only after the graph that
// holds it has been released.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <atomic>

#include "kivds/platform/Types.h"

namespace kiv {
namespace dshow {

class CKIVSampleCB final : public ISampleGrabberCB {
public:
    CKIVSampleCB() = default;
    CKIVSampleCB(const CKIVSampleCB&) = delete;
    CKIVSampleCB& operator=(const CKIVSampleCB&) = delete;
    virtual ~CKIVSampleCB() = default;

    // Any thread. The next non-empty sample sends WM_FRAMEARRIVED to window
    // (null: nothing is sent); the arming is used up by that one message.
    void Arm(WindowHandle window) { m_target.store(window); }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    // Called on the streaming thread for every sample (mode 0: no copy).
    STDMETHODIMP SampleCB(double time, IMediaSample* sample) override;
    STDMETHODIMP BufferCB(double time, BYTE* buffer, long length) override;

private:
    void Announce(bool nonEmpty);

    std::atomic<WindowHandle> m_target{nullptr};
};

}  // namespace dshow
}  // namespace kiv
