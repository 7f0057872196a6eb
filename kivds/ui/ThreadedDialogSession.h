// The capture dialog as one session on a DialogThread of its own: CKIVDlg
// over a toolkit's view, reached by the camera through DialogBridge and
// driven by the KIVDS_UI_SCRIPT script once shown. The headless and the FLTK
// dialogs are this session with a DialogToolkit each.
//
// What lives on the dialog's thread (the toolkit with its view, the logic,
// the script) is shared by the session and the handler that runs: an
// application may destroy the session from inside a handler (it disables the
// source from a callback), and the parts then go once the handler is done.
// Views and the bridge reach the dialog through DialogEvents, which hold the
// parts weakly and the loop by a link, so a callback that outlives the
// session does nothing.
//
// Threads: as IDialogSession; the toolkit's hooks are called on the dialog's
// thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "kivds/platform/Types.h"
#include "kivds/protocol/DialogSession.h"
#include "kivds/ui/DialogThread.h"

namespace kiv {

class CKIVDlg;
class DialogToolkit;
class ICameraControls;
class ICaptureDialogView;
class UiScript;
struct DialogParts;

// The way from a view's callbacks to the dialog's logic.
class DialogEvents {
public:
    // Runs `handler` on the logic now, as one of the dialog's handlers (on
    // the dialog's thread); nothing once the dialog is gone or destroyed.
    void Handle(const std::function<void(CKIVDlg&)>& handler) const;
    // Queues `message` to the logic's OnMessage, as a posted message.
    void Post(unsigned message) const;
    // Timer `id` of the logic (OnTimer), on the dialog's loop.
    void SetTimer(unsigned id, unsigned periodMs) const;
    void KillTimer(unsigned id) const;
    // Runs `task` with the session's toolkit while its parts live; false
    // (not run) once they are gone.
    bool WithToolkit(const std::function<void(DialogToolkit&)>& task) const;
    const DialogThread::Link& Loop() const { return loop_; }

private:
    friend class ThreadedDialogSession;
    DialogEvents(std::weak_ptr<DialogParts> parts, DialogThread::Link loop);
    std::weak_ptr<DialogParts> parts_;
    DialogThread::Link loop_;
};

// What a toolkit adds to the session. It owns its view; it is destroyed on
// the dialog's thread after the logic, holding Lock().
class DialogToolkit {
public:
    using Clock = DialogThread::Clock;
    virtual ~DialogToolkit() = default;

    // Held around the session's work on the dialog's thread (creation,
    // handlers, teardown): FLTK's one lock. None by default.
    virtual std::unique_lock<std::recursive_mutex> Lock() { return {}; }
    // Makes the view; null when the toolkit cannot show one (no display).
    virtual ICaptureDialogView* MakeView(const DialogEvents& events) = 0;
    // The bridge's repaint hook of `window`: a picture waits for it.
    virtual std::function<void()> PictureHook(WindowHandle window, const DialogThread::Link& loop) = 0;
    // The view's windows were registered with the bridge (again after the
    // dialog's layout), or unregistered.
    virtual void Registered(const DialogThread::Link& loop) { (void)loop; }
    virtual void Unregistered() {}
    // The logic was made; its initialisation follows.
    virtual void Created() {}
    // A handler of the logic returned.
    virtual void HandlerDone() {}
    // Shows the view; false when there is none.
    virtual bool Show() = 0;
    // A script drives the shown dialog from now on.
    virtual void ScriptStarted() {}
    // One idle pass of the loop; returns when it wants the next one
    // (nothing: at the next event).
    virtual std::optional<Clock::time_point> Idle() { return std::nullopt; }
    // Runs the script's steps that can run now (UiScript::Advance).
    virtual std::optional<Clock::time_point> AdvanceScript(UiScript& script, CKIVDlg& dlg) = 0;
    // The manager destroyed the dialog.
    virtual void Destroyed() {}
    // Runs the camera's settings window, modal to the dialog, from inside the
    // settings button's handler; returns when it is closed (true), false when
    // the toolkit has none.
    virtual bool ShowCameraControls(const std::wstring& caption, ICameraControls& controls) {
        (void)caption;
        (void)controls;
        return false;
    }
};

class ThreadedDialogSession : public IDialogSession {
public:
    explicit ThreadedDialogSession(std::unique_ptr<DialogToolkit> toolkit);
    ~ThreadedDialogSession() override;
    ThreadedDialogSession(const ThreadedDialogSession&) = delete;
    ThreadedDialogSession& operator=(const ThreadedDialogSession&) = delete;

    bool Create(WindowHandle parent) override;
    void Show() override;
    void DestroyWindow() override;
    void SendXferDone() override;
    WindowHandle Window() const override;

    // Runs `step` on the dialog's thread as one of its handlers when the
    // dialog is live and `accepts` it; returns whether it ran.
    bool RunHandler(const std::function<bool(DialogToolkit&)>& accepts,
                    const std::function<void(DialogToolkit&, CKIVDlg&)>& step);

private:
    DialogEvents Events() const;
    void RegisterWindows(DialogParts& parts);

    std::shared_ptr<DialogParts> parts_;
    DialogThread thread_;
};

}  // namespace kiv
