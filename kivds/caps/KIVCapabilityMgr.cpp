#include "kivds/caps/KIVCapabilityMgr.h"

#include <cstring>
#include <utility>

#include "kivds/caps/KIVCapabilities.h"

namespace kiv {

using namespace twain;

namespace {

using Factory = std::unique_ptr<CKIVContainer> (*)(TW_INT32 appIsTwain2);

template <class Capability>
std::unique_ptr<CKIVContainer> Make(TW_INT32 appIsTwain2) {
    return std::make_unique<Capability>(appIsTwain2);
}

// Creation order of the set.
constexpr Factory kCapabilities[] = {
    &Make<CKIVICapPhysicalWidth>, &Make<CKIVICapPhysicalHeight>,  &Make<CKIVICapXResolution>,
    &Make<CKIVICapYResolution>,   &Make<CKIVICapXferMech>,        &Make<CKIVICapPixelFlavor>,
    &Make<CKIVICapPlanarChunky>,  &Make<CKIVICapCompression>,     &Make<CKIVICapUnits>,
    &Make<CKIVICapPixelType>,     &Make<CKIVCapBitDepth>,         &Make<CKIVICapBitOrder>,
    &Make<CKIVCapXferCount>,      &Make<CKIVICapImageFileFormat>, &Make<CKIVICapSupportedSizes>,
    &Make<CKIVICapSupportedCaps>, &Make<CKIVCapDeviceOnline>,     &Make<CKIVCapUIControllable>,
};

}  // namespace

CKIVCapabilityMgr::CKIVCapabilityMgr() = default;

CKIVCapabilityMgr::~CKIVCapabilityMgr() { DestroyCapabilities(); }

int CKIVCapabilityMgr::CreateCapabilities(bool appIsTwain2) {
    DestroyCapabilities();
    try {
        for (Factory make : kCapabilities) {
            std::unique_ptr<CKIVContainer> cap = make(appIsTwain2 ? 1 : 0);
            const TW_INT32 id = cap->GetCapId();
            m_caps[id] = std::move(cap);
        }
        bool ok = m_caps.size() == std::size(kCapabilities);
        for (auto& [id, cap] : m_caps) {
            if (!ok) break;
            ok = cap && cap->Initialize() == 0;
        }
        if (ok) return 1;
    } catch (...) {
    }
    DestroyCapabilities();
    return 0;
}

TW_UINT16 CKIVCapabilityMgr::HandleCapability(TW_UINT16 msg, TW_MEMREF pData, TW_UINT16& conditionCode) {
    conditionCode = TWCC_SUCCESS;
    const auto fail = [&conditionCode](TW_UINT16 code) {
        conditionCode = code;
        return TWRC_FAILURE;
    };
    if (!pData) return fail(TWCC_BUMMER);

    // The application's record is copied in and out rather than accessed in
    // place, so that its alignment does not matter.
    TW_CAPABILITY cap;
    std::memcpy(&cap, pData, sizeof cap);
    const auto answer = [&](TW_HANDLE container) {
        cap.hContainer = container;  // stored even when null
        std::memcpy(pData, &cap, sizeof cap);
        return container ? TWRC_SUCCESS : fail(TWCC_BUMMER);
    };

    try {
        CKIVContainer* capability = FindCapability(cap.Cap);
        if (!capability) return fail(TWCC_CAPUNSUPPORTED);

        switch (msg) {
            case MSG_GET:
            case MSG_GETCURRENT:
            case MSG_GETDEFAULT: return answer(capability->Get(msg, &cap.ConType));
            case MSG_SET: return capability->Set(&cap, &conditionCode);
            case MSG_RESET:
                if (capability->Reset() != 0) return fail(TWCC_BUMMER);
                return answer(capability->Get(MSG_GETCURRENT, &cap.ConType));
            case MSG_QUERYSUPPORT: return answer(capability->QuerySupport(&cap.ConType));
            default: return fail(TWCC_BADPROTOCOL);
        }
    } catch (...) {
        return fail(TWCC_BUMMER);
    }
}

CKIVContainer* CKIVCapabilityMgr::FindCapability(TW_UINT16 capId) {
    const auto it = m_caps.find(capId);
    return it == m_caps.end() ? nullptr : it->second.get();
}

void CKIVCapabilityMgr::DestroyCapabilities() { m_caps.clear(); }

}  // namespace kiv
