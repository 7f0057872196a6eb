// The headless capture dialog: a ThreadedDialogSession over a HeadlessView,
// driven by the KIVDS_UI_SCRIPT script once shown; it journals what it does
// (KIVDS_UI_RECORD).
#pragma once

#include <memory>
#include <string>

#include "kivds/protocol/DialogSession.h"

namespace kiv {

std::unique_ptr<IDialogSession> MakeHeadlessDialogSession();

// A session of `toolkit` (win32, fltk), or the headless one when
// KIVDS_UI=headless, when `toolkit` is empty, or when it makes none (no
// display, say).
std::unique_ptr<IDialogSession> MakeToolkitOrHeadlessDialogSession(const DialogSessionFactory& toolkit);

// Does one thing to every headless dialog that is shown, on its thread, as a
// user or the system would, and returns how many dialogs took it. `step` is a
// script step (capture, settings, version, close, format=..., size=...; frame
// and wait do nothing here) or a message: "xferdone", "graphnotify",
// "framearrived", "devicechange", "timer". For tests and the fuzzer: any thread
// that does not hold TheSourceLock(), in a process whose source-manager
// callbacks do not disable the source from the dialog's thread (the session
// list stays locked while the step runs).
int DriveHeadlessDialogs(const std::string& step);

}  // namespace kiv
