// Seam: the message box, and the choice of the UI backend.
//
// KIVDS_UI=headless makes every message box non-blocking: one line
// "[<caption>] <text>" (UTF-8) on standard error, and the message is kept for
// tests. Without it, Windows shows MessageBoxW; Linux uses a toolkit backend
// when one is registered and a display is present, and headless otherwise.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "kivds/platform/Types.h"

namespace kiv {

// Style bits with their Win32 values.
constexpr unsigned kMbIconError = 0x00000010;
constexpr unsigned kMbTopmost = 0x00040000;

struct ShownMessage {
    WindowHandle owner;
    std::string caption;  // UTF-8
    std::string text;     // UTF-8
    unsigned style;
};

// True when KIVDS_UI=headless is set (read at every call).
bool HeadlessUiRequested();

// Shows a modal message (or its headless line). Texts are UTF-8.
void ShowMessageBox(WindowHandle owner, const std::string& caption, const std::string& text, unsigned style);

// Messages shown by the headless backend in this process, oldest first.
std::vector<ShownMessage> HeadlessMessages();
void ClearHeadlessMessages();

// A toolkit backend (the Linux dialog backend) registers itself here; it is
// used when headless was not requested and `available()` says a display is there.
struct MessageBoxBackend {
    std::function<bool()> available;
    std::function<void(const ShownMessage&)> show;
};
void RegisterMessageBoxBackend(MessageBoxBackend backend);

}  // namespace kiv
