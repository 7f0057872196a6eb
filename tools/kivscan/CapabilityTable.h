// kivscan --caps: every capability of the open source with its current and
// default value, its allowed values and the messages it supports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "kivds/protocol/Twain.h"
#include "tools/kivscan/Session.h"

namespace kiv {
namespace scan {

// A TWAIN container read back from its bytes.
struct ContainerValues {
    twain::TW_UINT16 conType = 0;
    twain::TW_UINT16 itemType = 0;
    std::vector<std::string> items;  // each formatted, with its TWAIN name where it has one
    std::optional<std::size_t> currentIndex;
    std::optional<std::size_t> defaultIndex;
};

// Reads a TW_ONEVALUE, TW_ENUMERATION, TW_ARRAY or TW_RANGE of `size` bytes
// (unknown size: nullopt, then the record's own counts are trusted up to a
// sane limit) for capability `cap`. False with a reason in `error` for a
// container that does not fit its bytes or an unknown item type.
bool ReadContainer(const std::uint8_t* bytes, std::optional<std::size_t> size, twain::TW_UINT16 conType,
                   twain::TW_UINT16 cap, ContainerValues& values, std::string& error);

// One item of `itemType` at `bytes`, as the table shows it.
std::string FormatItem(twain::TW_UINT16 cap, twain::TW_UINT16 itemType, const std::uint8_t* bytes);

// The current value of a TW_FIX32 capability that answers with a
// TW_ONEVALUE (ICAP_PHYSICALWIDTH, ...); nullopt when it does not.
std::optional<twain::TW_FIX32> CurrentFix32(Session& session, twain::TW_UINT16 cap);

// Asks the source about every capability it lists in CAP_SUPPORTEDCAPS (and
// that one) and prints the table. Capabilities that refuse a question show
// "-" in that column; nothing here ends the run.
void PrintCapabilityTable(Session& session, std::ostream& out);

}  // namespace scan
}  // namespace kiv
