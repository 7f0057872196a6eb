#include "kivds/twain/TripletTable.h"

namespace kiv {

using namespace twain;

namespace {

using S = TwainState;
constexpr std::optional<TwainState> kSame = std::nullopt;

// DAT_CAPABILITY answers every message while the capability set exists (the
// capability set itself refuses the ones it does not know, and a missing
// container); DAT_ENTRYPOINT is accepted in any state, a null record clears
// the entry points. DAT_STATUS is answered from state 3 on: after a failed
// MSG_OPENDS the source managers ask the still closed source why, and a
// refusal there would turn the camera's reason into TWCC_NODS.
constexpr TripletRule kTriplets[] = {
    {DG_CONTROL, DAT_CAPABILITY, MSG_NULL, S::PreSession, S::Transferring, Needs::Nothing, Shown::Never, kSame},
    {DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, S::SourceEnabled, S::Transferring, Needs::Record, Shown::Never, kSame},
    {DG_CONTROL, DAT_IDENTITY, MSG_GET, S::ManagerOpen, S::Transferring, Needs::Record, Shown::Never, kSame},
    {DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, S::ManagerOpen, S::ManagerOpen, Needs::OriginAndRecord, Shown::Always,
     S::SourceOpen},
    {DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, S::SourceOpen, S::SourceOpen, Needs::Nothing, Shown::Never, S::ManagerOpen},
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, S::SourceOpen, S::Transferring, Needs::Record, Shown::Never, kSame},
    // 6 while transfers are pending, else 5: EndXfer decides.
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, S::TransferReady, S::Transferring, Needs::Record, Shown::Never, kSame},
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, S::TransferReady, S::TransferReady, Needs::Record, Shown::Never,
     S::SourceEnabled},
    {DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, S::SourceOpen, S::TransferReady, Needs::Record, Shown::Never, kSame},
    {DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, S::SourceOpen, S::TransferReady, Needs::Record, Shown::Never, kSame},
    {DG_CONTROL, DAT_SETUPFILEXFER, MSG_GETDEFAULT, S::SourceOpen, S::TransferReady, Needs::Record, Shown::Never,
     kSame},
    {DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, S::SourceOpen, S::TransferReady, Needs::Record, Shown::Never, kSame},
    {DG_CONTROL, DAT_SETUPFILEXFER, MSG_RESET, S::SourceOpen, S::SourceOpen, Needs::Record, Shown::Never, kSame},
    {DG_CONTROL, DAT_STATUS, MSG_GET, S::ManagerOpen, S::Transferring, Needs::Record, Shown::Never, kSame},
    // 5 with the dialog; without, the image is announced at once (6, by
    // Notify, possibly answered from inside the source manager's callback).
    {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, S::SourceOpen, S::SourceOpen, Needs::Record, Shown::Always, kSame},
    {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, S::SourceEnabled, S::SourceEnabled, Needs::Record, Shown::Never,
     S::SourceOpen},
    {DG_CONTROL, DAT_XFERGROUP, MSG_GET, S::SourceOpen, S::TransferReady, Needs::Record, Shown::Never, kSame},
    {DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, S::PreSession, S::Transferring, Needs::Nothing, Shown::Never, kSame},
    {DG_IMAGE, DAT_IMAGEINFO, MSG_GET, S::TransferReady, S::Transferring, Needs::Record, Shown::Never, kSame},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, S::SourceOpen, S::TransferReady, Needs::Record, Shown::Never, kSame},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_GETDEFAULT, S::SourceOpen, S::TransferReady, Needs::Record, Shown::Never, kSame},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, S::SourceOpen, S::SourceOpen, Needs::Record, Shown::Never, kSame},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_RESET, S::SourceOpen, S::SourceOpen, Needs::Record, Shown::Never, kSame},
    // A memory transfer is in state 7 from its first strip on.
    {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, S::TransferReady, S::Transferring, Needs::Record, Shown::WrongState,
     S::Transferring},
    {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, S::TransferReady, S::Transferring, Needs::Record, Shown::WrongState,
     S::Transferring},
    {DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, S::TransferReady, S::Transferring, Needs::Nothing, Shown::WrongState,
     S::Transferring},
};

}  // namespace

const TripletRule* FindTriplet(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) {
    for (const TripletRule& rule : kTriplets) {
        if (rule.dg == dg && rule.dat == dat && (rule.msg == msg || (rule.msg == MSG_NULL && dat == DAT_CAPABILITY)))
            return &rule;
    }
    return nullptr;
}

Refusal CheckCall(const TripletRule& rule, bool hasOrigin, bool hasRecord, TwainState state) {
    const bool recordMissing = (rule.needs != Needs::Nothing && !hasRecord) ||
                               (rule.needs == Needs::OriginAndRecord && !hasOrigin);
    if (recordMissing) return {TWCC_BUMMER, rule.shown == Shown::Always};
    if (state < rule.first || state > rule.last) return {TWCC_SEQERROR, rule.shown != Shown::Never};
    return {TWCC_SUCCESS, false};
}

}  // namespace kiv
