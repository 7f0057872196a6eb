// The capability set of an open data source and the DG_CONTROL /
// DAT_CAPABILITY dispatch onto it.
#pragma once

#include <map>
#include <memory>

#include "kivds/caps/KIVContainer.h"
#include "kivds/protocol/Twain.h"

namespace kiv {

class CKIVCapabilityMgr {
public:
    CKIVCapabilityMgr();
    virtual ~CKIVCapabilityMgr();
    CKIVCapabilityMgr(const CKIVCapabilityMgr&) = delete;
    CKIVCapabilityMgr& operator=(const CKIVCapabilityMgr&) = delete;

    // Builds the eighteen capabilities and initialises them in ascending id
    // order. 1 success; 0 failure, with the set left empty.
    int CreateCapabilities(bool appIsTwain2);
    // One DAT_CAPABILITY triplet; pData is the application's TW_CAPABILITY.
    // Returns the TWRC code and sets conditionCode (TWCC_SUCCESS on success).
    twain::TW_UINT16 HandleCapability(twain::TW_UINT16 msg, twain::TW_MEMREF pData, twain::TW_UINT16& conditionCode);
    // The capability with this id, or null.
    CKIVContainer* FindCapability(twain::TW_UINT16 capId);
    void DestroyCapabilities();

private:
    std::map<twain::TW_INT32, std::unique_ptr<CKIVContainer>> m_caps;
};

}  // namespace kiv
