#include "kivds/caps/KIVCapabilities.h"

#include <memory>
#include <vector>

#include "kivds/camera/KIVUVCControl.h"

namespace kiv {

using namespace twain;

bool WidestFrame(const CUVCDeviceInfo& info, CResolution& widest) {
    const std::vector<CResolution> sizes = info.Sizes(info.currentFormat.type);
    if (sizes.empty()) return false;
    const CResolution* best = &sizes.front();
    for (const CResolution& s : sizes) {
        if (s.width > best->width || (s.width == best->width && s.height > best->height)) best = &s;
    }
    widest = *best;
    return true;
}

bool GetFrameExtent(TW_FIX32& width, TW_FIX32& height) {
    CKIVUVCControl* camera = CKIVUVCControl::GetInstance();
    if (!camera) return false;
    std::unique_ptr<CUVCDeviceInfo> info;
    if (!camera->GetDeviceInfo(info) || !info) return false;
    CResolution widest;
    if (!WidestFrame(*info, widest)) return false;
    width = PixelsToFix32(widest.width);
    height = PixelsToFix32(widest.height);
    return true;
}

TW_UINT16 CKIVICapPhysicalWidth::Initialize() {
    TW_FIX32 width{}, height{};
    if (!GetFrameExtent(width, height)) return 1;
    AddValue(width, 1);
    return 0;
}

TW_UINT16 CKIVICapPhysicalHeight::Initialize() {
    TW_FIX32 width{}, height{};
    if (!GetFrameExtent(width, height)) return 1;
    AddValue(height, 1);
    return 0;
}

TW_HANDLE CKIVCapDeviceOnline::Get(TW_UINT16 msg, TW_UINT16* conType) {
    if (msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT) {
        // Each step runs only when the one before succeeded; the stream is
        // left stopped.
        CKIVUVCControl* camera = CKIVUVCControl::GetInstance();
        const bool online = camera && camera->SetPreviewWindow(nullptr) && camera->Run() && camera->Stop();
        m_current = online ? 1 : 0;
    }
    return CKIVBoolCapability::Get(msg, conType);
}

}  // namespace kiv
