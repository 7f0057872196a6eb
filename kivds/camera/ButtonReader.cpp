#include "kivds/camera/ButtonReader.h"

#include "kivds/camera/DigitalZoom.h"
#include "kivds/camera/ExtensionUnit.h"
#include "kivds/camera/IKIVSVCClient.h"
#include "kivds/camera/ModelName.h"

namespace kiv {
namespace {

// Polls after a new status before the first repeat, and between repeats.
constexpr int kFirstRepeatDelay = 3;
constexpr int kRepeatDelay = 1;

struct ModelRead {
    const wchar_t* model;
    ButtonRead read;
};
constexpr ModelRead kModelReads[] = {
    {kModelB, ButtonRead::Status},
    {kModelA, ButtonRead::Register},
    {kModelAorB, ButtonRead::StatusThenRegister},
};

PlatformResult Send(IVideoPlatform& platform, const XuRequest& request, std::uint8_t* readInto) {
    if (request.direction == XuDirection::Set)
        return platform.ExtensionUnitSet(request.unit, request.selector, request.data, request.length);
    for (std::size_t i = 0; i < request.length; ++i) readInto[i] = 0;
    return platform.ExtensionUnitGet(request.unit, request.selector, readInto, request.length);
}

void SetFromStatus(const ButtonBits& bits, std::uint8_t status, CameraButtonState& state) {
    state.status = status;
    state.zoomIn = IsPressed(bits.zoomIn, status) ? 1 : 0;
    state.zoomOut = IsPressed(bits.zoomOut, status) ? 1 : 0;
    state.thirdButton = IsPressed(bits.thirdButton, status) ? 1 : 0;
}

}  // namespace

ButtonRead ButtonReadOfModel(const std::wstring& modelName) {
    for (const ModelRead& entry : kModelReads)
        if (SameModelName(modelName, entry.model)) return entry.read;
    return ButtonRead::None;
}

int ReadButtonsStatus(IVideoPlatform& platform, CameraButtonState& state) {
    const XuRequest& request = kModelBStatusRead;
    if (!Ok(platform.FindExtensionUnit(request.unit))) return 0;
    std::uint8_t data[sizeof request.data] = {};
    if (Ok(Send(platform, request, data))) SetFromStatus(kModelBButtons, data[0], state);
    return 1;
}

int CRegisterButtonReader::Read(IVideoPlatform& platform, const std::wstring& devicePath, CameraButtonState& state) {
    // A camera that cannot be opened any more is gone: its topology is not asked.
    if (!Ok(platform.OpenDevicePath(devicePath))) return 0;
    const Guid& unit = kModelARegisterRead[0].unit;
    const PlatformResult found = platform.FindExtensionUnit(unit);
    if (found == PlatformResult::NotFound) {
        state.unitMissing = 1;
        AskServiceOnce();
        return 0;
    }
    if (!Ok(found)) return 0;
    std::uint8_t data[2] = {};
    bool allSent = true;
    for (const XuRequest& request : kModelARegisterRead) {
        if (!Ok(Send(platform, request, data))) {
            allSent = false;
            break;
        }
    }
    if (allSent) SetFromStatus(kModelAButtons, data[0], state);
    return 1;
}

void CRegisterButtonReader::AskServiceOnce() {
    if (m_serviceAsked) return;
    m_serviceAsked = true;
    const std::unique_ptr<IKIVSVCClient> client = MakeServiceClient();
    if (client->HasInstance()) client->RegistryDeleteNodeInterfacesKey();
}

bool CButtonAutoRepeat::Poll(const CameraButtonState& state, float& zoomFactor) {
    if (state.status == m_lastStatus) {
        // An unchanged status keeps counting down; below zero it never acts
        // again, so it stops at -1 instead of running into overflow.
        if (m_countdown > -1) --m_countdown;
    } else {
        m_countdown = 0;
        m_lastStatus = 0;
    }
    if (m_countdown != 0) return false;

    bool apply = false;
    if (state.zoomOut) {
        zoomFactor -= kZoomStep;
        if (zoomFactor < kMinZoom) zoomFactor = kMinZoom;
        else apply = true;
    } else if (state.zoomIn) {
        zoomFactor += kZoomStep;
        if (zoomFactor > kMaxZoom) zoomFactor = kMaxZoom;
        else apply = true;
    }
    m_countdown = m_lastStatus != 0 ? kRepeatDelay : kFirstRepeatDelay;
    m_lastStatus = state.status;
    return apply;
}

}  // namespace kiv
