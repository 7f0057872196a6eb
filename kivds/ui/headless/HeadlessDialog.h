// The headless capture dialog as one session: CKIVDlg over a HeadlessView on
// a DialogThread of its own, reached by the camera through HeadlessBridge and
// driven by the KIVDS_UI_SCRIPT script once shown.
#pragma once

#include <memory>

#include "kivds/ui/DialogSession.h"

namespace kiv {

std::unique_ptr<IDialogSession> MakeHeadlessDialogSession();

}  // namespace kiv
