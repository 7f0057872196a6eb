#include "kivds/camera/KIVUVCControl.h"

#include <new>
#include <utility>

#include "kivds/camera/CameraLogic.h"
#include "kivds/camera/IVideoPlatform.h"
#include "kivds/image/ImageReference.h"

namespace kiv {
namespace {

// The two process-wide pointers, as owners. The camera is declared first so
// that at exit the facade (whose destructor resets the camera) goes first.
std::unique_ptr<IKIVCameraControl> g_camera;
std::unique_ptr<CKIVUVCControl> g_facade;
CKIVUVCControl::CameraFactory g_factory;

std::unique_ptr<IKIVCameraControl> CreateCamera() {
    if (g_factory) return g_factory();
    std::unique_ptr<IVideoPlatform> platform = CreateVideoPlatform();
    if (!platform) return nullptr;
    return std::make_unique<CCameraLogic>(std::move(platform));
}

int Flag(int result) { return result ? 1 : 0; }

}  // namespace

CKIVUVCControl* CKIVUVCControl::GetInstance() {
    if (g_facade) return g_facade.get();
    try {
        if (!g_camera) g_camera = CreateCamera();
        if (!g_camera) return nullptr;
        g_facade.reset(new CKIVUVCControl(g_camera.get()));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return g_facade.get();
}

void CKIVUVCControl::DestroyInstance() {
    std::unique_ptr<CKIVUVCControl> facade = std::move(g_facade);
    facade.reset();
    g_camera.reset();  // also when the facade was never made
}

void CKIVUVCControl::AbandonInstance() {
    (void)g_facade.release();  // deliberately leaked: see the declaration
    (void)g_camera.release();
}

void CKIVUVCControl::SetCameraFactory(CameraFactory factory) { g_factory = std::move(factory); }

CKIVUVCControl::~CKIVUVCControl() {
    m_camera = nullptr;
    g_camera.reset();
    if (g_facade.get() == this) g_facade.release();  // deleted directly rather than through DestroyInstance
}

int CKIVUVCControl::Open() { return m_camera ? Flag(m_camera->Open()) : 0; }
int CKIVUVCControl::SetNotifyWindow(WindowHandle w) { return m_camera ? Flag(m_camera->SetNotifyWindow(w)) : 0; }
int CKIVUVCControl::SetPreviewWindow(WindowHandle w) { return m_camera ? Flag(m_camera->SetPreviewWindow(w)) : 0; }
int CKIVUVCControl::Run() { return m_camera ? Flag(m_camera->Run()) : 0; }
int CKIVUVCControl::Stop() { return m_camera ? Flag(m_camera->Stop()) : 0; }

int CKIVUVCControl::SetMediaFormat(int type, const CResolution& size) {
    return m_camera ? Flag(m_camera->SetMediaFormat(type, size)) : 0;
}

int CKIVUVCControl::GetDeviceInfo(std::unique_ptr<CUVCDeviceInfo>& out) {
    return m_camera ? Flag(m_camera->GetDeviceInfo(out)) : 0;
}

int CKIVUVCControl::HandleGraphEvents(CUVCState& state) {
    return m_camera ? Flag(m_camera->HandleGraphEvents(state)) : 0;
}

int CKIVUVCControl::SetFrameCallback(WindowHandle w, int enable) {
    return m_camera ? Flag(m_camera->SetFrameCallback(w, enable)) : 0;
}

int CKIVUVCControl::GrabStill(std::unique_ptr<CImageReference>& out) {
    return m_camera ? Flag(m_camera->GrabStill(out)) : 0;
}

int CKIVUVCControl::HasPropertyPages() { return m_camera ? Flag(m_camera->HasPropertyPages()) : 0; }

ICameraControls* CKIVUVCControl::CameraControls() { return m_camera ? m_camera->CameraControls() : nullptr; }

int CKIVUVCControl::ShowPropertyPages(WindowHandle owner, const std::wstring& caption) {
    return m_camera ? Flag(m_camera->ShowPropertyPages(owner, caption)) : 0;
}

int CKIVUVCControl::PollButtons(CameraButtonState* state) {
    if (!state) return 0;
    return m_camera ? Flag(m_camera->PollButtons(state)) : 0;
}

int CKIVUVCControl::IsDevicePresent(const std::wstring& modelName) {
    return m_camera ? m_camera->IsDevicePresent(modelName) : 0;
}

}  // namespace kiv
