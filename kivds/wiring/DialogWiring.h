// Hands the UI backend's dialog sessions to the TWAIN manager. The manager
// (kivds/twain) and the dialogs (kivds/ui) do not know each other; this small
// layer above both joins them.
#pragma once

namespace kiv {

// Registers the capture-dialog factory that MSG_ENABLEDS with ShowUI uses.
// Idempotent; the data source calls it when it is loaded.
void InstallCaptureDialog();

}  // namespace kiv
