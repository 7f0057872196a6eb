// Seam between the capture dialog and the TWAIN manager: the dialog tells the
// manager that an image is ready or that the user wants the source closed.
// Declared below both, so that neither includes the other.
#pragma once

#include "kivds/protocol/Twain.h"

namespace kiv {

class ISourceNotifier {
public:
    virtual ~ISourceNotifier() = default;
    // MSG_XFERREADY with a pointer to the frame (four signed 32-bit values:
    // left, top, right, bottom) or MSG_CLOSEDSREQ with a pointer to a 16-bit
    // condition code. Returns 1 when the message was taken, 0 for any other
    // message. The caller holds TheSourceLock().
    virtual int Notify(twain::TW_UINT16 message, void* data) = 0;
};

// The manager that currently answers DS_Entry (null when there is none). Set
// and cleared by the manager itself; read by the dialog under TheSourceLock().
ISourceNotifier* ActiveNotifier();
void SetActiveNotifier(ISourceNotifier* notifier);

// Calls Notify of the active manager under TheSourceLock(); 0 when there is
// no active manager. Any thread.
int NotifyActiveManager(twain::TW_UINT16 message, void* data);

}  // namespace kiv
