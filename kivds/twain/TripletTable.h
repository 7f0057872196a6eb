// The triplets this source answers and the rule of each: the TWAIN states it
// is accepted in, the records it needs, which refusals the user is shown and
// the state a success leads to. The manager checks a triplet against its
// rule once, before its handler runs, and moves to the rule's next state.
#pragma once

#include <cstdint>
#include <optional>

#include "kivds/protocol/Twain.h"

namespace kiv {

// The TWAIN states. States 1 and 2 belong to the application and its source
// manager; the source itself starts in 3 and goes up to 7.
enum class TwainState : std::int32_t {
    PreSession = 1,
    ManagerLoaded = 2,
    ManagerOpen = 3,  // the source is loaded and closed
    SourceOpen = 4,
    SourceEnabled = 5,
    TransferReady = 6,
    Transferring = 7,
};

// What a triplet's handler needs besides a state in range.
enum class Needs : std::uint8_t {
    Nothing,          // pData may be null
    Record,           // a record in pData
    OriginAndRecord,  // the application's identity too (MSG_OPENDS)
};

// Which refusals show the error message besides setting the condition code.
enum class Shown : std::uint8_t {
    Never,
    WrongState,  // the transfers: a missing record is silent
    Always,      // MSG_OPENDS, MSG_ENABLEDS
};

struct TripletRule {
    twain::TW_UINT32 dg;
    twain::TW_UINT16 dat;
    twain::TW_UINT16 msg;  // MSG_NULL here: any message
    TwainState first;      // the states accepted, first to last
    TwainState last;
    Needs needs;
    Shown shown;
    // The state after a success; none: unchanged, or set by the handler
    // where it depends on the outcome (MSG_ENABLEDS, MSG_ENDXFER).
    std::optional<TwainState> next;
};

// Why a call is refused before its handler runs.
struct Refusal {
    twain::TW_UINT16 condition;  // TWCC_SUCCESS: not refused
    bool shown;                  // the error message is shown too
};

// The rule for a triplet, or null when the source does not answer it.
const TripletRule* FindTriplet(twain::TW_UINT32 dg, twain::TW_UINT16 dat, twain::TW_UINT16 msg);

// Checks a call against its rule: a missing record (TWCC_BUMMER) before a
// state outside the range (TWCC_SEQERROR).
Refusal CheckCall(const TripletRule& rule, bool hasOrigin, bool hasRecord, TwainState state);

}  // namespace kiv
