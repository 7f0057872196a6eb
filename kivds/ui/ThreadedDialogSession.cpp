#include "kivds/ui/ThreadedDialogSession.h"

#include <string>
#include <utility>

#include "kivds/platform/Env.h"
#include "kivds/ui/KIVDlg.h"
#include "kivds/ui/DialogBridge.h"
#include "kivds/ui/DialogControls.h"
#include "kivds/ui/ICaptureDialogView.h"
#include "kivds/ui/UiScript.h"

namespace kiv {

// What lives on the dialog's thread; deleted there.
struct DialogParts {
    std::unique_ptr<DialogToolkit> toolkit;
    ICaptureDialogView* view = nullptr;  // the toolkit's
    std::unique_ptr<CKIVDlg> dlg;
    std::unique_ptr<UiScript> script;
    bool registered = false;
    bool destroyed = false;  // the manager destroyed the window: no more handlers

    explicit DialogParts(std::unique_ptr<DialogToolkit> kit) : toolkit(std::move(kit)) {}
    ~DialogParts() {
        std::unique_lock<std::recursive_mutex> lock = toolkit->Lock();
        dlg.reset();
        script.reset();
        toolkit.reset();
    }
    DialogParts(const DialogParts&) = delete;
    DialogParts& operator=(const DialogParts&) = delete;
};

namespace {

// Runs a handler of the logic under the toolkit's lock.
template <typename Handler>
void Handle(DialogParts& parts, Handler handler) {
    if (!parts.dlg || parts.destroyed) return;
    std::unique_lock<std::recursive_mutex> lock = parts.toolkit->Lock();
    handler();
    parts.toolkit->HandlerDone();
}

void Unregister(DialogParts& parts) {
    if (!parts.registered || !parts.view) return;
    DialogBridge::Instance().Unregister(parts.view->Window());
    DialogBridge::Instance().Unregister(parts.view->ControlWindow(IDC_PREVIEW));
    parts.toolkit->Unregistered();
    parts.registered = false;
}

}  // namespace

DialogEvents::DialogEvents(std::weak_ptr<DialogParts> parts, DialogThread::Link loop)
    : parts_(std::move(parts)), loop_(std::move(loop)) {}

void DialogEvents::Handle(const std::function<void(CKIVDlg&)>& handler) const {
    if (auto parts = parts_.lock()) kiv::Handle(*parts, [&] { handler(*parts->dlg); });
}

void DialogEvents::Post(unsigned message) const {
    loop_.Post([weak = parts_, message] {
        if (auto parts = weak.lock()) kiv::Handle(*parts, [&] { parts->dlg->OnMessage(message); });
    });
}

void DialogEvents::SetTimer(unsigned id, unsigned periodMs) const {
    loop_.SetTimer(id, periodMs, [weak = parts_, id] {
        if (auto parts = weak.lock()) kiv::Handle(*parts, [&] { parts->dlg->OnTimer(id); });
    });
}

void DialogEvents::KillTimer(unsigned id) const { loop_.KillTimer(id); }

bool DialogEvents::WithToolkit(const std::function<void(DialogToolkit&)>& task) const {
    auto parts = parts_.lock();
    if (!parts || !parts->toolkit) return false;
    task(*parts->toolkit);
    return true;
}

ThreadedDialogSession::ThreadedDialogSession(std::unique_ptr<DialogToolkit> toolkit)
    : parts_(std::make_shared<DialogParts>(std::move(toolkit))) {
    DialogBridge::Install();
}

ThreadedDialogSession::~ThreadedDialogSession() {
    std::shared_ptr<DialogParts> parts = std::move(parts_);
    if (thread_.OnThread()) {
        // Called from inside one of the dialog's own handlers (the
        // application disabled the source from a callback): the parts go
        // when the loop lets go of its queue, after that handler.
        Unregister(*parts);
        thread_.Post([parts] {});
        return;
    }
    thread_.RunSync([&] {
        thread_.SetIdleHook(nullptr);
        Unregister(*parts);
        parts.reset();
    });
}

DialogEvents ThreadedDialogSession::Events() const { return DialogEvents(parts_, thread_.MakeLink()); }

bool ThreadedDialogSession::Create(WindowHandle) {
    bool ok = false;
    thread_.RunSync([&] {
        DialogParts& p = *parts_;
        std::unique_lock<std::recursive_mutex> lock = p.toolkit->Lock();
        if (p.view) return;
        p.view = p.toolkit->MakeView(Events());
        if (!p.view) return;
        p.dlg = std::make_unique<CKIVDlg>(*p.view);
        RegisterWindows(p);
        p.toolkit->Created();
        Handle(p, [&] { ok = p.dlg->OnInitDialog(); });
        if (ok) RegisterWindows(p);  // the preview's size after the dialog's layout
        else Unregister(p);
    });
    return ok;
}

// The bridge calls `deliver` and the picture hooks outside its lock, so they
// may run after this session is gone: they hold a link to the loop.
void ThreadedDialogSession::RegisterWindows(DialogParts& p) {
    const DialogEvents events = Events();
    auto deliver = [events](unsigned message) { events.Post(message); };
    auto showControls = [events](const std::wstring& caption, ICameraControls& controls) {
        bool shown = false;
        events.WithToolkit([&](DialogToolkit& toolkit) { shown = toolkit.ShowCameraControls(caption, controls); });
        return shown;
    };
    const ViewRect preview = p.view->ScreenRect(IDC_PREVIEW);
    for (WindowHandle window : {p.view->Window(), p.view->ControlWindow(IDC_PREVIEW)}) {
        DialogBridge::Instance().Register(window, {preview.Width(), preview.Height(), deliver,
                                                   p.toolkit->PictureHook(window, events.Loop()), showControls});
    }
    p.toolkit->Registered(events.Loop());
    p.registered = true;
}

void ThreadedDialogSession::Show() {
    thread_.RunSync([&] {
        DialogParts& p = *parts_;
        std::unique_lock<std::recursive_mutex> lock = p.toolkit->Lock();
        if (!p.view || !p.toolkit->Show()) return;
        auto text = GetEnv("KIVDS_UI_SCRIPT");
        if (text && !text->empty()) {
            p.script = std::make_unique<UiScript>(*text);
            p.toolkit->ScriptStarted();
        }
        std::weak_ptr<DialogParts> weak = parts_;
        thread_.SetIdleHook([weak]() -> std::optional<DialogThread::Clock::time_point> {
            auto parts = weak.lock();
            if (!parts || parts->destroyed) return std::nullopt;
            std::optional<DialogThread::Clock::time_point> next = parts->toolkit->Idle();
            if (parts->script && parts->dlg) {
                std::optional<DialogThread::Clock::time_point> wanted;
                Handle(*parts, [&] { wanted = parts->toolkit->AdvanceScript(*parts->script, *parts->dlg); });
                if (wanted && (!next || *wanted < *next)) next = wanted;
            }
            return next;
        });
    });
}

void ThreadedDialogSession::DestroyWindow() {
    thread_.RunSync([&] {
        DialogParts& p = *parts_;
        std::unique_lock<std::recursive_mutex> lock = p.toolkit->Lock();
        thread_.SetIdleHook(nullptr);
        if (p.dlg && !p.destroyed) p.dlg->DestroyWindow();
        p.destroyed = true;
        Unregister(p);
        if (p.view) p.toolkit->Destroyed();
    });
}

void ThreadedDialogSession::SendXferDone() { Events().Post(WM_XFERDONE); }

WindowHandle ThreadedDialogSession::Window() const { return parts_ && parts_->view ? parts_->view->Window() : nullptr; }

bool ThreadedDialogSession::RunHandler(const std::function<bool(DialogToolkit&)>& accepts,
                                       const std::function<void(DialogToolkit&, CKIVDlg&)>& step) {
    bool taken = false;
    std::shared_ptr<DialogParts> keep = parts_;  // the step may end the session
    thread_.RunSync([&] {
        DialogParts& p = *keep;
        if (!p.dlg || p.destroyed || !accepts(*p.toolkit)) return;
        taken = true;
        Handle(p, [&] { step(*p.toolkit, *p.dlg); });
    });
    return taken;
}

}  // namespace kiv
