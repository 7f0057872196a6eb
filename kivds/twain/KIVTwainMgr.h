// The TWAIN manager: triplet dispatch, the state machine, the identity, and
// the transfers. One exists per loaded data source (g_twainMgr).
#pragma once

#include <cstdint>
#include <memory>

#include "kivds/platform/Library.h"
#include "kivds/twain/KivRect.h"
#include "kivds/twain/TripletTable.h"
#include "kivds/protocol/SourceNotifier.h"
#include "kivds/protocol/Twain.h"

namespace kiv {

class CKIVCapabilityMgr;
class CKIVUVCControl;
class CImageReference;
class IDialogSession;

// Implements ISourceNotifier so that the capture dialog reaches Notify
// without knowing this class.
class CKIVTwainMgr : public ISourceNotifier {
public:
    CKIVTwainMgr();
    ~CKIVTwainMgr() override;
    CKIVTwainMgr(const CKIVTwainMgr&) = delete;
    CKIVTwainMgr& operator=(const CKIVTwainMgr&) = delete;

    virtual twain::TW_UINT16 Dispatch(twain::TW_IDENTITY* pOrigin, twain::TW_UINT32 dg, twain::TW_UINT16 dat,
                                      twain::TW_UINT16 msg, twain::TW_MEMREF pData);
    virtual int InitIdentity();
    int Notify(twain::TW_UINT16 message, void* data) override;
    virtual twain::TW_UINT16 OnStatus(twain::TW_UINT16 msg, twain::TW_MEMREF pData);
    virtual twain::TW_UINT16 OnEvent(twain::TW_UINT16 msg, twain::TW_MEMREF pData);
    virtual twain::TW_UINT16 OnIdentity(twain::TW_IDENTITY* pOrigin, twain::TW_UINT16 msg, twain::TW_MEMREF pData);
    virtual twain::TW_UINT16 OnPendingXfers(twain::TW_UINT16 msg, twain::TW_MEMREF pData);
    virtual twain::TW_UINT16 OnCapability(twain::TW_UINT16 msg, twain::TW_MEMREF pData);
    virtual twain::TW_UINT16 OnUserInterface(twain::TW_UINT16 msg, twain::TW_MEMREF pData);
    virtual twain::TW_UINT16 OnSetupFileXfer(twain::TW_UINT16 msg, twain::TW_MEMREF pData);
    virtual twain::TW_UINT16 OnSetupMemXfer(twain::TW_UINT16 msg, twain::TW_MEMREF pData);
    virtual twain::TW_UINT16 OnImageNativeXfer(twain::TW_UINT16 msg, twain::TW_MEMREF pData);
    virtual twain::TW_UINT16 OnImageFileXfer(twain::TW_UINT16 msg, twain::TW_MEMREF pData);
    virtual twain::TW_UINT16 OnImageMemXfer(twain::TW_UINT16 msg, twain::TW_MEMREF pData);
    virtual twain::TW_UINT16 OnImageLayout(twain::TW_UINT16 msg, twain::TW_MEMREF pData);
    virtual twain::TW_UINT16 OnImageInfo(twain::TW_UINT16 msg, twain::TW_MEMREF pData);
    virtual twain::TW_UINT16 OnEntryPoint(twain::TW_UINT16 msg, twain::TW_MEMREF pData);
    virtual twain::TW_UINT16 OnXferGroup(twain::TW_UINT16 msg, twain::TW_MEMREF pData);
    virtual twain::TW_UINT16 ProcessEvent(twain::TW_EVENT* pEvent);
    virtual twain::TW_UINT16 OpenDS(twain::TW_IDENTITY* pApp, twain::TW_IDENTITY* pSource);
    virtual twain::TW_UINT16 CloseDS();
    virtual twain::TW_UINT16 EnableDS(twain::TW_USERINTERFACE* pUi);
    virtual twain::TW_UINT16 DisableDS(twain::TW_USERINTERFACE* pUi);
    virtual twain::TW_UINT16 GetSetupMemXfer(twain::TW_SETUPMEMXFER* pSetup);
    virtual twain::TW_UINT16 GetSetupFileXfer(twain::TW_SETUPFILEXFER* pSetup);
    virtual twain::TW_UINT16 GetDefaultSetupFileXfer(twain::TW_SETUPFILEXFER* pSetup);
    virtual twain::TW_UINT16 ResetSetupFileXfer(twain::TW_SETUPFILEXFER* pSetup);
    virtual twain::TW_UINT16 SetSetupFileXfer(twain::TW_SETUPFILEXFER* pSetup);
    virtual twain::TW_UINT16 GetStatus(twain::TW_STATUS* pStatus);
    virtual twain::TW_UINT16 GetIdentity(twain::TW_IDENTITY* pIdentity);
    virtual twain::TW_UINT16 EndXfer(twain::TW_PENDINGXFERS* pPending);
    virtual twain::TW_UINT16 GetPendingXfers(twain::TW_PENDINGXFERS* pPending);
    virtual twain::TW_UINT16 ResetPendingXfers(twain::TW_PENDINGXFERS* pPending);
    void StopCameraAfterXfer();
    virtual twain::TW_UINT16 NativeXfer(twain::TW_MEMREF pData);
    virtual twain::TW_UINT16 FileXfer();
    virtual twain::TW_UINT16 MemXfer(twain::TW_IMAGEMEMXFER* pXfer);
    virtual twain::TW_UINT16 GetImageLayout(twain::TW_IMAGELAYOUT* pLayout);
    virtual twain::TW_UINT16 GetDefaultImageLayout(twain::TW_IMAGELAYOUT* pLayout);
    virtual twain::TW_UINT16 ResetImageLayout(twain::TW_IMAGELAYOUT* pLayout);
    virtual twain::TW_UINT16 SetImageLayout(twain::TW_IMAGELAYOUT* pLayout);
    virtual twain::TW_UINT16 GetImageInfo(twain::TW_IMAGEINFO* pInfo);
    virtual twain::TW_UINT16 SetEntryPoint(twain::TW_ENTRYPOINT* pEntry);
    virtual twain::TW_UINT16 GetXferGroup(twain::TW_UINT32* pGroup);

    // The default image frame of the open camera (non-virtual).
    bool GetDefaultFrame(KivRect& frame);
    bool LoadDSM();

    // Last-resort report used by DS_Entry's catch-all.
    void SetConditionCode(twain::TW_UINT16 code) { m_conditionCode = code; }
    TwainState State() const { return m_state; }

private:
    // Hands a call that its triplet's rule admitted to the router of its DAT.
    twain::TW_UINT16 Route(twain::TW_IDENTITY* pOrigin, twain::TW_UINT16 dat, twain::TW_UINT16 msg,
                           twain::TW_MEMREF pData);
    twain::TW_UINT16 Fail(twain::TW_UINT16 condition);
    twain::TW_UINT16 FailWithMessage(twain::TW_UINT16 condition);
    twain::TW_UINT16 FailCamera();
    void ShowError(twain::TW_UINT16 condition);
    void DestroyCamera();
    // Grabs a still cut to m_frame; TWCC_SUCCESS or the condition of the failure.
    twain::TW_UINT16 GrabFrameImage(std::unique_ptr<CImageReference>& image);

    twain::TW_UINT16 m_pendingMsg = twain::MSG_NULL;
    twain::TW_IDENTITY m_identity{};
    twain::TW_IDENTITY m_appIdentity{};
    char m_fileName[256] = {};
    twain::TW_UINT16 m_conditionCode = twain::TWCC_SUCCESS;
    TwainState m_state = TwainState::ManagerOpen;
    twain::TW_PENDINGXFERS m_pendingXfers{};
    std::unique_ptr<CKIVCapabilityMgr> m_capMgr;
    std::unique_ptr<IDialogSession> m_dialog;
    CKIVUVCControl* m_camera = nullptr;  // the process-wide facade; not owned
    KivRect m_frame;
    std::unique_ptr<CImageReference> m_image;
    std::uint32_t m_rowsDone = 0;
    bool m_imageTopDown = false;  // m_image already converted (else converted strip by strip)
    KivRect m_imageFrame;         // the image frame m_image was cut to
    // A memory transfer without the dialog grabbed its still: the camera
    // stops at MSG_ENDXFER (or MSG_RESET) rather than during the strips.
    bool m_stopAtEndXfer = false;
    std::unique_ptr<DynamicLibrary> m_dsmModule;
};

extern CKIVTwainMgr* g_twainMgr;
extern CKIVTwainMgr* g_activeMgr;

}  // namespace kiv
