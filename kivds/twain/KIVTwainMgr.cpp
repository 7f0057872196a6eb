// The TWAIN manager: dispatch, state machine, identity, the source manager
// binding and the user-interface triplets. The transfer triplets are in
// Transfers.cpp.
#include "kivds/twain/KIVTwainMgr.h"

#include "KivVersion.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "kivds/camera/KIVUVCControl.h"
#include "kivds/caps/KIVCapabilityMgr.h"
#include "kivds/caps/KIVContainer.h"
#include "kivds/image/ImageReference.h"
#include "kivds/image/PixelBuffer.h"
#include "kivds/platform/Paths.h"
#include "kivds/platform/Sleep.h"
#include "kivds/protocol/DialogSession.h"
#include "kivds/twain/BoundedString.h"
#include "kivds/twain/KIVDSApp.h"
#include "kivds/twain/TripletTable.h"
#include "kivds/protocol/TwainMemory.h"
#include "kivds/ui/ErrorMessage.h"

namespace kiv {

using namespace twain;

CKIVTwainMgr* g_twainMgr = nullptr;
CKIVTwainMgr* g_activeMgr = nullptr;

namespace {

// How long MSG_ENABLEDS without a dialog lets the camera settle before it
// announces the image. The fuzz build shortens it so that it can explore.
#if defined(KIVDS_FUZZ_BUILD)
constexpr unsigned kEnableWaitMs = 0;
#else
constexpr unsigned kEnableWaitMs = 5000;
#endif

}  // namespace

CKIVTwainMgr::CKIVTwainMgr() { g_entryPoints = TW_ENTRYPOINT{}; }

CKIVTwainMgr::~CKIVTwainMgr() {
    // The camera stops before the dialog goes, as at MSG_DISABLEDS: no frame
    // or graph event may be on its way to a dialog that is being destroyed.
    if (m_camera) m_camera->Stop();
    m_image.reset();
    m_capMgr.reset();
    if (m_dialog) m_dialog->DestroyWindow();
    m_dialog.reset();
    DestroyCamera();
    if (g_activeMgr == this) g_activeMgr = nullptr;
    if (ActiveNotifier() == this) SetActiveNotifier(nullptr);
    m_dsmModule.reset();
    g_entryPoints = TW_ENTRYPOINT{};
}

void CKIVTwainMgr::DestroyCamera() {
    if (m_camera) {
        CKIVUVCControl::DestroyInstance();
        m_camera = nullptr;
    }
}

int CKIVTwainMgr::InitIdentity() {
    m_identity = TW_IDENTITY{};
    m_identity.Id = 0;
    m_identity.Version.MajorNum = KIV_VERSION_MAJOR;
    m_identity.Version.MinorNum = KIV_VERSION_MINOR;
    m_identity.Version.Language = TWLG_ENGLISH;
    m_identity.Version.Country = TWCY_USA;
    m_identity.ProtocolMajor = 2;
    m_identity.ProtocolMinor = 0;
    m_identity.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_DS2;
    CopyBounded(m_identity.Manufacturer, "ORVAN", sizeof(TW_STR32));
    CopyBounded(m_identity.ProductFamily, "Digital Camera", sizeof(TW_STR32));
    CopyBounded(m_identity.ProductName, "Orvan Document Camera", sizeof(TW_STR32));
    g_activeMgr = this;
    SetActiveNotifier(this);
    return 1;
}

TW_UINT16 CKIVTwainMgr::Fail(TW_UINT16 condition) {
    m_conditionCode = condition;
    return TWRC_FAILURE;
}

void CKIVTwainMgr::ShowError(TW_UINT16 condition) {
    ShowErrorMessage(m_dialog ? m_dialog->Window() : nullptr, condition);
}

TW_UINT16 CKIVTwainMgr::FailWithMessage(TW_UINT16 condition) {
    m_conditionCode = condition;
    ShowError(condition);
    return TWRC_FAILURE;
}

TW_UINT16 CKIVTwainMgr::FailCamera() { return FailWithMessage(CameraErrorToCondition(LastCameraError)); }

// ---------------------------------------------------------------- dispatch

TW_UINT16 CKIVTwainMgr::Dispatch(TW_IDENTITY* pOrigin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF pData) {
    if (dg == DG_IMAGE && dat == DAT_EXTIMAGEINFO) return Fail(TWCC_CAPUNSUPPORTED);
    const TripletRule* rule = FindTriplet(dg, dat, msg);
    if (!rule) return Fail(TWCC_BADPROTOCOL);
    const Refusal refusal = CheckCall(*rule, pOrigin != nullptr, pData != nullptr, m_state);
    if (refusal.condition != TWCC_SUCCESS)
        return refusal.shown ? FailWithMessage(refusal.condition) : Fail(refusal.condition);
    const TW_UINT16 result = Route(pOrigin, dat, msg, pData);
    if (result != TWRC_FAILURE && rule->next) m_state = *rule->next;
    return result;
}

// The rule of the triplet has been checked: every router below is called
// with a message of its table and with the record its rule needs.
TW_UINT16 CKIVTwainMgr::Route(TW_IDENTITY* pOrigin, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF pData) {
    switch (dat) {
        case DAT_CAPABILITY: return OnCapability(msg, pData);
        case DAT_EVENT: return OnEvent(msg, pData);
        case DAT_IDENTITY: return OnIdentity(pOrigin, msg, pData);
        case DAT_PENDINGXFERS: return OnPendingXfers(msg, pData);
        case DAT_SETUPMEMXFER: return OnSetupMemXfer(msg, pData);
        case DAT_SETUPFILEXFER: return OnSetupFileXfer(msg, pData);
        case DAT_STATUS: return OnStatus(msg, pData);
        case DAT_USERINTERFACE: return OnUserInterface(msg, pData);
        case DAT_XFERGROUP: return OnXferGroup(msg, pData);
        case DAT_ENTRYPOINT: return OnEntryPoint(msg, pData);
        case DAT_IMAGEINFO: return OnImageInfo(msg, pData);
        case DAT_IMAGELAYOUT: return OnImageLayout(msg, pData);
        case DAT_IMAGEMEMXFER: return OnImageMemXfer(msg, pData);
        case DAT_IMAGENATIVEXFER: return OnImageNativeXfer(msg, pData);
        case DAT_IMAGEFILEXFER: return OnImageFileXfer(msg, pData);
        default: return Fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 CKIVTwainMgr::OnStatus(TW_UINT16, TW_MEMREF pData) { return GetStatus(static_cast<TW_STATUS*>(pData)); }

TW_UINT16 CKIVTwainMgr::OnEvent(TW_UINT16, TW_MEMREF pData) { return ProcessEvent(static_cast<TW_EVENT*>(pData)); }

TW_UINT16 CKIVTwainMgr::OnIdentity(TW_IDENTITY* pOrigin, TW_UINT16 msg, TW_MEMREF pData) {
    auto* identity = static_cast<TW_IDENTITY*>(pData);
    switch (msg) {
        case MSG_GET: return GetIdentity(identity);
        case MSG_OPENDS: return OpenDS(pOrigin, identity);
        case MSG_CLOSEDS: return CloseDS();
        default: return Fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 CKIVTwainMgr::OnCapability(TW_UINT16 msg, TW_MEMREF pData) {
    if (!m_capMgr) return Fail(TWCC_BUMMER);
    return m_capMgr->HandleCapability(msg, pData, m_conditionCode);
}

TW_UINT16 CKIVTwainMgr::OnUserInterface(TW_UINT16 msg, TW_MEMREF pData) {
    auto* ui = static_cast<TW_USERINTERFACE*>(pData);
    switch (msg) {
        case MSG_ENABLEDS: return EnableDS(ui);
        case MSG_DISABLEDS: return DisableDS(ui);
        default: return Fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 CKIVTwainMgr::OnEntryPoint(TW_UINT16, TW_MEMREF pData) {
    return SetEntryPoint(static_cast<TW_ENTRYPOINT*>(pData));
}

// ------------------------------------------------------- status and events

TW_UINT16 CKIVTwainMgr::GetStatus(TW_STATUS* pStatus) {
    pStatus->ConditionCode = m_conditionCode;
    m_conditionCode = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

TW_UINT16 CKIVTwainMgr::ProcessEvent(TW_EVENT* pEvent) {
    // The dialog sees the application's message first (keyboard navigation
    // of a modeless dialog). It may close itself inside, and the application
    // may disable the source from its callback: only members are read after.
    const bool handled = m_dialog && pEvent->pEvent && m_dialog->PreTranslateMessage(pEvent->pEvent);
    pEvent->TWMessage = m_pendingMsg;
    if (m_pendingMsg != MSG_NULL) {
        m_pendingMsg = MSG_NULL;
        return TWRC_DSEVENT;
    }
    return handled ? TWRC_DSEVENT : TWRC_NOTDSEVENT;
}

TW_UINT16 CKIVTwainMgr::GetIdentity(TW_IDENTITY* pIdentity) {
    std::memcpy(pIdentity, &m_identity, sizeof(TW_IDENTITY));
    return TWRC_SUCCESS;
}

TW_UINT16 CKIVTwainMgr::SetEntryPoint(TW_ENTRYPOINT* pEntry) {
    if (pEntry) std::memcpy(&g_entryPoints, pEntry, sizeof(TW_ENTRYPOINT));
    else g_entryPoints = TW_ENTRYPOINT{};
    return TWRC_SUCCESS;
}

// ---------------------------------------------------------- open and close

TW_UINT16 CKIVTwainMgr::OpenDS(TW_IDENTITY* pApp, TW_IDENTITY* pSource) {
    m_camera = CKIVUVCControl::GetInstance();
    if (!m_camera) return FailWithMessage(TWCC_LOWMEMORY);
    KeepLibraryLoaded();
    static const bool endsBeforeTheCamera = (CKIVDSApp::EndBeforeNewerStaticsAtExit(), true);
    (void)endsBeforeTheCamera;

    auto failAndDestroy = [this](TW_UINT16 condition) {
        DestroyCamera();
        return FailWithMessage(condition);
    };
    if (!m_camera->Open()) return failAndDestroy(CameraErrorToCondition(LastCameraError));
    KivRect frame;
    if (!GetDefaultFrame(frame)) return failAndDestroy(m_conditionCode);
    m_frame = frame;
    std::memcpy(&m_appIdentity, pApp, sizeof(TW_IDENTITY));
    if (!m_capMgr) {
        m_capMgr.reset(new (std::nothrow) CKIVCapabilityMgr());
        if (!m_capMgr) return failAndDestroy(TWCC_LOWMEMORY);
    }
    const bool appIsTwain2 = (m_appIdentity.SupportedGroups & DF_APP2) != 0;
    if (!m_capMgr->CreateCapabilities(appIsTwain2)) return failAndDestroy(TWCC_BUMMER);

    m_identity.Id = pSource->Id;
    // The default file name is optional here: when it cannot be built (a
    // temporary directory too long for 255 characters) the open still
    // succeeds, so the failure's code must not stay behind for DAT_STATUS.
    TW_SETUPFILEXFER setup{};
    const TW_UINT16 unreadCondition = m_conditionCode;
    if (GetDefaultSetupFileXfer(&setup) == TWRC_SUCCESS) CopyBounded(m_fileName, setup.FileName, sizeof m_fileName);
    m_conditionCode = unreadCondition;
    return TWRC_SUCCESS;
}

bool CKIVTwainMgr::GetDefaultFrame(KivRect& frame) {
    if (!m_camera) {
        m_conditionCode = TWCC_BUMMER;
        return false;
    }
    std::unique_ptr<CUVCDeviceInfo> info;
    if (!m_camera->GetDeviceInfo(info) || !info) {
        m_conditionCode = CameraErrorToCondition(LastCameraError);
        return false;
    }
    const int type = info->currentFormat.type;
    const CResolution* chosen = nullptr;
    for (const CUVCMediaFormat& format : info->formats) {
        if (format.type != type) continue;
        if (!chosen) chosen = &format.resolution;
        if (format.resolution.isDefault) {
            chosen = &format.resolution;
            break;
        }
    }
    if (!chosen) {
        // A current format without any frame size: the camera offers nothing
        // this source can transfer.
        m_conditionCode = CC_OTHER_ERROR;
        return false;
    }
    frame = KivRect{0, 0, chosen->width, chosen->height};
    return true;
}

TW_UINT16 CKIVTwainMgr::CloseDS() {
    // A memory transfer broken off ends with the session.
    m_image.reset();
    m_rowsDone = 0;
    m_capMgr.reset();
    DestroyCamera();
    // Pooled still buffers are not needed until the source is opened again.
    TrimPixelPool();
    return TWRC_SUCCESS;
}

// ------------------------------------------------------- enable and disable

TW_UINT16 CKIVTwainMgr::EnableDS(TW_USERINTERFACE* pUi) {
    if (!m_capMgr) return FailWithMessage(TWCC_SEQERROR);

    auto* xferCount = dynamic_cast<CKIVContainerInt*>(m_capMgr->FindCapability(CAP_XFERCOUNT));
    if (!xferCount) return FailWithMessage(TWCC_BUMMER);
    TW_UINT16 condition = TWCC_SUCCESS;
    if (xferCount->SetCurrent(-1, &condition) != TWRC_SUCCESS) return FailWithMessage(condition);
    m_pendingXfers.Count = 0xFFFF;

    if (pUi->ShowUI != 0) {
        // ModalUI is ignored: the dialog is always modeless.
        m_dialog = MakeDialogSession();
        if (!m_dialog) return FailWithMessage(TWCC_LOWMEMORY);
        if (!m_dialog->Create(pUi->hParent)) {
            m_dialog.reset();
            const TW_UINT16 cameraCondition = CameraErrorToCondition(LastCameraError);
            return FailWithMessage(cameraCondition ? cameraCondition : TWCC_LOWMEMORY);
        }
        static const bool endsBeforeTheDialog = (CKIVDSApp::EndBeforeNewerStaticsAtExit(), true);
        (void)endsBeforeTheDialog;
        m_dialog->Show();
        m_state = TwainState::SourceEnabled;
        return TWRC_SUCCESS;
    }

    if (!m_camera) return FailWithMessage(TWCC_BUMMER);
    if (!m_camera->SetPreviewWindow(nullptr)) return FailCamera();
    if (!m_camera->Run()) return FailCamera();
    if (!m_camera->SetNotifyWindow(nullptr)) return FailCamera();
    SleepMilliseconds(kEnableWaitMs);
    Notify(MSG_XFERREADY, &m_frame);
    return TWRC_SUCCESS;
}

TW_UINT16 CKIVTwainMgr::DisableDS(TW_USERINTERFACE*) {
    m_stopAtEndXfer = false;  // stopped here
    if (m_camera) m_camera->Stop();
    if (m_dialog) {
        m_dialog->DestroyWindow();
        m_dialog.reset();
    }
    return TWRC_SUCCESS;
}

// ------------------------------------------------- source manager binding

int CKIVTwainMgr::Notify(TW_UINT16 message, void* data) {
    if (message == MSG_XFERREADY) {
        if (data) {
            const KivRect* frame = static_cast<const KivRect*>(data);
            if (frame != &m_frame) m_frame = *frame;
        }
        m_state = TwainState::TransferReady;
    } else if (message == MSG_CLOSEDSREQ) {
        if (data) m_conditionCode = *static_cast<const TW_UINT16*>(data);
    } else {
        return 0;
    }
    m_pendingMsg = message;

    if (!m_dsmModule && !g_entryPoints.DSM_Entry) LoadDSM();
    if (!g_entryPoints.DSM_Entry) return 1;  // delivered by the next MSG_PROCESSEVENT
    if (g_entryPoints.DSM_Entry(&m_identity, &m_appIdentity, DG_CONTROL, DAT_NULL, message, nullptr) == TWRC_SUCCESS)
        m_pendingMsg = MSG_NULL;
    return 1;
}

bool CKIVTwainMgr::LoadDSM() {
    std::vector<std::string> candidates;
#if defined(_WIN32)
    std::string windows = WindowsDirectory();
    if (windows.empty()) return false;
    if (windows.back() != '\\') windows += '\\';
    candidates.push_back(windows + "TWAIN_32.dll");
    // A 64-bit source cannot load the 32-bit TWAIN_32.dll; the 64-bit source
    // manager is found through the standard search path.
    candidates.push_back("TWAINDSM.DLL");
#else
    candidates.push_back("libtwaindsm.so");
    candidates.push_back("libtwaindsm.so.2");
#endif
    m_dsmModule.reset();
    for (const std::string& candidate : candidates) {
        std::unique_ptr<DynamicLibrary> module = DynamicLibrary::Open(candidate);
        if (!module) continue;
        auto entry = reinterpret_cast<DSMENTRYPROC>(module->Symbol("DSM_Entry"));
        if (!entry) continue;
        g_entryPoints.DSM_Entry = entry;
        m_dsmModule = std::move(module);
        return true;
    }
    return false;
}

}  // namespace kiv
