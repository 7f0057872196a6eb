// The Win32 capture dialog as one session: CKIVDlg over a Win32CaptureView on
// a modeless dialog window created from template 2000. The window lives on
// the thread that calls DS_Entry and is pumped by the application's own
// message loop (which offers each message to MSG_PROCESSEVENT first, so that
// Tab and Esc work in the modeless dialog). The camera reaches it through
// Win32Bridge.
//
// Threads: as IDialogSession, all on the application's thread that created
// the session; PreTranslateMessage there too.
#pragma once

#include <memory>

#include "kivds/protocol/DialogSession.h"

namespace kiv {

// A session of the Win32 dialog; null when KIVDS_UI=headless asks for none.
std::unique_ptr<IDialogSession> MakeWin32DialogSession();

}  // namespace kiv
