#include "kivds/wiring/DialogWiring.h"

#include <memory>

#include "kivds/protocol/DialogSession.h"
#include "kivds/ui/headless/HeadlessDialog.h"
#if defined(KIVDS_WITH_FLTK)
#include "kivds/ui/fltk/FltkDialog.h"
#endif
#if defined(_WIN32)
#include "kivds/ui/win32/Win32Dialog.h"
#endif

namespace kiv {
namespace {

// The toolkit's dialog where a display can be used (not KIVDS_UI=headless;
// on Linux DISPLAY set and opened), null otherwise. On Windows the dialog is
// a real window on the application's thread.
std::unique_ptr<IDialogSession> MakeToolkitDialogSession() {
#if defined(_WIN32)
    if (std::unique_ptr<IDialogSession> session = MakeWin32DialogSession()) return session;
#endif
#if defined(KIVDS_WITH_FLTK)
    if (std::unique_ptr<IDialogSession> session = MakeFltkDialogSession()) return session;
#endif
    return nullptr;
}

}  // namespace

void InstallCaptureDialog() {
#if defined(KIVDS_WITH_FLTK)
    InstallFltkMessageBox();
#endif
    RegisterDialogBackend([] { return MakeToolkitOrHeadlessDialogSession(&MakeToolkitDialogSession); });
}

}  // namespace kiv
