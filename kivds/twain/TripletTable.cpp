#include "kivds/twain/TripletTable.h"

#include <iterator>

namespace kiv {

using namespace twain;

namespace {

constexpr int kAny = 0;

// DAT_CAPABILITY answers every message while the capability set exists (the
// capability set itself refuses the ones it does not know); DAT_ENTRYPOINT
// is accepted in any state. DAT_STATUS is answered from state 3 on: after a
// failed MSG_OPENDS the source managers ask the still closed source why, and
// a refusal there would turn the camera's reason into TWCC_NODS.
constexpr TripletRule kTriplets[] = {
    {DG_CONTROL, DAT_CAPABILITY, MSG_NULL, kAny, kAny},
    {DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, 5, 7},
    {DG_CONTROL, DAT_IDENTITY, MSG_GET, 3, 7},
    {DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, 3, 3},
    {DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, 4, 4},
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, 4, 7},
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, 6, 7},
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, 6, 6},
    {DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, 4, 6},
    {DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, 4, 6},
    {DG_CONTROL, DAT_SETUPFILEXFER, MSG_GETDEFAULT, 4, 6},
    {DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, 4, 6},
    {DG_CONTROL, DAT_SETUPFILEXFER, MSG_RESET, 4, 4},
    {DG_CONTROL, DAT_STATUS, MSG_GET, 3, 7},
    {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, 4, 4},
    {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, 5, 5},
    {DG_CONTROL, DAT_XFERGROUP, MSG_GET, 4, 6},
    {DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, kAny, kAny},
    {DG_IMAGE, DAT_IMAGEINFO, MSG_GET, 6, 7},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, 4, 6},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_GETDEFAULT, 4, 6},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, 4, 4},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_RESET, 4, 4},
    {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, 6, 7},
    {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, 6, 7},
    {DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, 6, 7},
};

}  // namespace

const TripletRule* FindTriplet(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) {
    for (const TripletRule& rule : kTriplets) {
        if (rule.dg == dg && rule.dat == dat && (rule.msg == msg || (rule.msg == MSG_NULL && dat == DAT_CAPABILITY)))
            return &rule;
    }
    return nullptr;
}

bool StateAccepted(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, int state) {
    const TripletRule* rule = FindTriplet(dg, dat, msg);
    if (!rule) return false;
    if (rule->minState == kAny) return true;
    return state >= rule->minState && state <= rule->maxState;
}

}  // namespace kiv
