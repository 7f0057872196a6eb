#include "kivds/wiring/DialogWiring.h"

#include <memory>
#include <utility>

#include "kivds/twain/DialogSeam.h"
#include "kivds/ui/DialogSession.h"
#if defined(KIVDS_WITH_FLTK)
#include "kivds/ui/fltk/FltkDialog.h"
#endif
#if defined(_WIN32)
#include "kivds/ui/win32/Win32Dialog.h"
#endif

namespace kiv {
namespace {

class SessionDialog final : public ICaptureDialog {
public:
    explicit SessionDialog(std::unique_ptr<IDialogSession> session) : session_(std::move(session)) {}
    bool Create(WindowHandle parent) override { return session_->Create(parent); }
    void Show() override { session_->Show(); }
    void DestroyWindow() override { session_->DestroyWindow(); }
    void SendXferDone() override { session_->SendXferDone(); }
    WindowHandle Window() const override { return session_->Window(); }
    bool PreTranslateMessage(void* osMessage) override { return session_->PreTranslateMessage(osMessage); }

private:
    std::unique_ptr<IDialogSession> session_;
};

// The toolkit's dialog where a display can be used (not KIVDS_UI=headless;
// on Linux DISPLAY set and opened), the headless one otherwise. On Windows
// the dialog is a real window on the application's thread.
std::unique_ptr<IDialogSession> MakeChosenDialogSession() {
#if defined(_WIN32)
    if (std::unique_ptr<IDialogSession> session = MakeWin32DialogSession()) return session;
#endif
#if defined(KIVDS_WITH_FLTK)
    if (std::unique_ptr<IDialogSession> session = MakeFltkDialogSession()) return session;
#endif
    return MakeDialogSession();
}

}  // namespace

void InstallCaptureDialog() {
#if defined(KIVDS_WITH_FLTK)
    InstallFltkMessageBox();
#endif
    SetCaptureDialogFactory([]() -> std::unique_ptr<ICaptureDialog> {
        std::unique_ptr<IDialogSession> session = MakeChosenDialogSession();
        if (!session) return nullptr;
        return std::make_unique<SessionDialog>(std::move(session));
    });
}

}  // namespace kiv
