#include "kivds/wiring/DialogWiring.h"

#include <memory>
#include <utility>

#include "kivds/twain/DialogSeam.h"
#include "kivds/ui/DialogSession.h"

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

private:
    std::unique_ptr<IDialogSession> session_;
};

}  // namespace

void InstallCaptureDialog() {
    SetCaptureDialogFactory([]() -> std::unique_ptr<ICaptureDialog> {
        std::unique_ptr<IDialogSession> session = MakeDialogSession();
        if (!session) return nullptr;
        return std::make_unique<SessionDialog>(std::move(session));
    });
}

}  // namespace kiv
