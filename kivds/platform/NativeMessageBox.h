// The operating system's own message box (Windows: MessageBoxW). Returns false
// where the platform has none, so the caller falls back to the headless line.
#pragma once

#include "kivds/platform/MessageBox.h"

namespace kiv {

bool ShowNativeMessageBox(const ShownMessage& message);

}  // namespace kiv
