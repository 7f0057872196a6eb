// Names of TWAIN codes for kivscan's messages, verbose log and capability table.
#pragma once

#include <cstdint>
#include <string>

#include "kivds/protocol/Twain.h"

namespace kiv {
namespace scan {

// Each returns the TWAIN name ("DAT_IDENTITY", "TWCC_SEQERROR", ...) or, for
// a value it does not know, the value in hexadecimal ("0x1234").
std::string DataGroupName(twain::TW_UINT32 dg);
std::string DatName(twain::TW_UINT16 dat);
std::string MsgName(twain::TW_UINT16 msg);
std::string ReturnCodeName(twain::TW_UINT16 rc);
std::string ConditionCodeName(twain::TW_UINT16 cc);
std::string CapabilityName(twain::TW_UINT16 cap);
std::string ItemTypeName(twain::TW_UINT16 itemType);
std::string ContainerName(twain::TW_UINT16 conType);

// "DG_CONTROL / DAT_IDENTITY / MSG_OPENDS".
std::string TripletName(twain::TW_UINT32 dg, twain::TW_UINT16 dat, twain::TW_UINT16 msg);

// The name of a capability's value where the TWAIN standard names them
// (TWSX_MEMORY for ICAP_XFERMECH 2, ...); empty when it has none.
std::string CapabilityValueName(twain::TW_UINT16 cap, std::int64_t value);

// The TWQC_ bits of a MSG_QUERYSUPPORT answer as message names: "GET SET ...".
std::string SupportedMessagesText(twain::TW_UINT32 mask);

}  // namespace scan
}  // namespace kiv
