// The triplets this source answers, with the TWAIN states each accepts.
#pragma once

#include "kivds/protocol/Twain.h"

namespace kiv {

struct TripletRule {
    twain::TW_UINT32 dg;
    twain::TW_UINT16 dat;
    twain::TW_UINT16 msg;  // MSG_NULL here: any message
    int minState;
    int maxState;
};

// The rule for a triplet, or null when the source does not answer it.
const TripletRule* FindTriplet(twain::TW_UINT32 dg, twain::TW_UINT16 dat, twain::TW_UINT16 msg);

// True when `state` is inside the range of the (dg, dat, msg) rule.
bool StateAccepted(twain::TW_UINT32 dg, twain::TW_UINT16 dat, twain::TW_UINT16 msg, int state);

}  // namespace kiv
