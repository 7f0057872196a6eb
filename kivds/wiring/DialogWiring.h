// Hands the UI backend's dialog sessions to the TWAIN manager. The manager
// (kivds/twain) and the dialogs (kivds/ui) do not know each other; this small
// layer above both registers the backend chosen for this build with the
// registry of kivds/protocol/DialogSession.h.
#pragma once

namespace kiv {

// Registers the dialog backend that MSG_ENABLEDS with ShowUI uses.
// Idempotent; the data source calls it when it is loaded.
void InstallCaptureDialog();

}  // namespace kiv
