// The data source's single export.
#include <mutex>

#include "kivds/platform/SourceLock.h"
#include "kivds/twain/KIVTwainMgr.h"

#if defined(_WIN32)
#define KIV_DS_EXPORT
#else
#define KIV_DS_EXPORT __attribute__((visibility("default")))
#endif

using namespace twain;

extern "C" KIV_DS_EXPORT TW_UINT16 KIV_TWAIN_CALL DS_Entry(TW_IDENTITY* pOrigin, TW_UINT32 DG, TW_UINT16 DAT,
                                                           TW_UINT16 MSG, TW_MEMREF pData) {
    // Nothing may escape into the application's process: the manager turns
    // its own failures into condition codes, and this is the last catch-all.
    // One caller at a time: the application's threads and the source's own
    // UI thread all take the source lock.
    std::lock_guard<kiv::SourceLock> guard(kiv::TheSourceLock());
    try {
        kiv::CKIVTwainMgr* manager = kiv::g_twainMgr;
        if (!manager) return TWRC_FAILURE;
        return manager->Dispatch(pOrigin, DG, DAT, MSG, pData);
    } catch (...) {
        if (kiv::g_twainMgr) kiv::g_twainMgr->SetConditionCode(TWCC_BUMMER);
        return TWRC_FAILURE;
    }
}
