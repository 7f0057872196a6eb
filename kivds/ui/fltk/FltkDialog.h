// The FLTK capture dialog: a ThreadedDialogSession whose toolkit runs FLTK
// on the dialog's thread (the idle hook serves the display's events every few
// milliseconds and draws the preview's waiting picture). Also the FLTK
// message box.
//
// Threads: as IDialogSession. ShowFltkMessageBox may be called on any
// thread; a message owned by a dialog of this backend is shown on that
// dialog's thread.
#pragma once

#include <memory>

#include "kivds/platform/MessageBox.h"
#include "kivds/protocol/DialogSession.h"

namespace kiv {

// A session of the FLTK dialog; null when no display can be used.
std::unique_ptr<IDialogSession> MakeFltkDialogSession();

// The modal message box: caption, text, one OK button; modal to `owner` when
// that is one of this backend's windows.
void ShowFltkMessageBox(const ShownMessage& message);

// Registers the FLTK message box with the platform's message box seam.
void InstallFltkMessageBox();

}  // namespace kiv
