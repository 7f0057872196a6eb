#include "kivds/ui/headless/HeadlessDialog.h"

#include <mutex>
#include <set>
#include <utility>

#include "kivds/platform/Env.h"
#include "kivds/platform/MessageBox.h"
#include "kivds/ui/CaptureDialog.h"
#include "kivds/ui/DialogControls.h"
#include "kivds/ui/DialogThread.h"
#include "kivds/ui/headless/HeadlessBridge.h"
#include "kivds/ui/headless/HeadlessScript.h"
#include "kivds/ui/headless/HeadlessView.h"

namespace kiv {
namespace {

// What lives on the dialog's thread; deleted there.
struct Parts {
    HeadlessView view;
    std::unique_ptr<CKIVDlg> dlg;
    std::unique_ptr<UiScript> script;
    std::size_t messagesSeen = 0;
    bool registered = false;
    bool destroyed = false;  // the manager destroyed the window: no more handlers
};

class HeadlessDialogSession;

// The sessions alive in this process, for DriveHeadlessDialogs.
std::mutex g_sessionsMutex;
std::set<HeadlessDialogSession*> g_sessions;

class HeadlessDialogSession final : public IDialogSession {
public:
    HeadlessDialogSession() : parts_(std::make_shared<Parts>()) {
        HeadlessBridge::Install();
        parts_->messagesSeen = HeadlessMessages().size();
        std::lock_guard<std::mutex> guard(g_sessionsMutex);
        g_sessions.insert(this);
    }

    ~HeadlessDialogSession() override {
        {
            std::lock_guard<std::mutex> guard(g_sessionsMutex);
            g_sessions.erase(this);
        }
        std::shared_ptr<Parts> parts = std::move(parts_);
        if (thread_.OnThread()) {
            // Called from inside one of the dialog's own handlers (the
            // application disabled the source from a callback): the parts go
            // when the loop lets go of its queue, after that handler.
            Unregister(*parts);
            thread_.Post([parts] {});
            return;
        }
        thread_.RunSync([&] {
            Unregister(*parts);
            parts.reset();
        });
    }

    bool Create(WindowHandle) override {
        bool ok = false;
        thread_.RunSync([&] {
            Parts& p = *parts_;
            std::weak_ptr<Parts> weak = parts_;
            // The view and the bridge reach the loop through a link, never
            // through this session: a handler may outlive it.
            const DialogThread::Link loop = thread_.MakeLink();
            p.view.SetTimerSink({[loop, weak](unsigned id, unsigned ms) {
                                     loop.SetTimer(id, ms, [weak, id] {
                                         if (auto parts = weak.lock()) Handle(*parts, [&] { parts->dlg->OnTimer(id); });
                                     });
                                 },
                                 [loop](unsigned id) { loop.KillTimer(id); }});
            const ViewRect preview = p.view.ScreenRect(IDC_PREVIEW);
            auto deliver = [loop, weak](unsigned message) {
                loop.Post([weak, message] {
                    if (auto parts = weak.lock()) Handle(*parts, [&] { parts->dlg->OnMessage(message); });
                });
            };
            HeadlessBridge::Instance().Register(p.view.Window(), preview.Width(), preview.Height(), deliver);
            HeadlessBridge::Instance().Register(p.view.ControlWindow(IDC_PREVIEW), preview.Width(), preview.Height(),
                                                deliver);
            p.registered = true;
            p.dlg = std::make_unique<CKIVDlg>(p.view);
            JournalLine("create");
            Handle(p, [&] { ok = p.dlg->OnInitDialog(); });
            if (!ok) Unregister(p);
        });
        return ok;
    }

    void Show() override {
        thread_.RunSync([&] {
            JournalLine("show");
            auto text = GetEnv("KIVDS_UI_SCRIPT");
            if (!text || text->empty()) return;  // the application drives the dialog
            parts_->script = std::make_unique<UiScript>(*text);
            std::weak_ptr<Parts> weak = parts_;
            thread_.SetIdleHook([weak]() -> std::optional<DialogThread::Clock::time_point> {
                auto parts = weak.lock();
                if (!parts || !parts->script || !parts->dlg) return std::nullopt;
                std::optional<DialogThread::Clock::time_point> next;
                Handle(*parts, [&] {
                    ScriptedHeadlessDialog target(parts->view, *parts->dlg);
                    next = parts->script->Advance(target);
                });
                return next;
            });
        });
    }

    void DestroyWindow() override {
        thread_.RunSync([&] {
            thread_.SetIdleHook(nullptr);
            if (parts_->dlg && !parts_->destroyed) parts_->dlg->DestroyWindow();
            parts_->destroyed = true;
            Unregister(*parts_);
            JournalLine("destroy");
        });
    }

    void SendXferDone() override {
        std::weak_ptr<Parts> weak = parts_;
        thread_.Post([weak] {
            if (auto parts = weak.lock()) Handle(*parts, [&] { parts->dlg->OnMessage(WM_XFERDONE); });
        });
    }

    WindowHandle Window() const override { return parts_ ? parts_->view.Window() : nullptr; }

    // One step of DriveHeadlessDialogs; true when the dialog took it.
    bool Drive(const std::string& step) {
        bool taken = false;
        std::shared_ptr<Parts> keep = parts_;  // the step may end the session
        thread_.RunSync([&] {
            Parts& p = *keep;
            if (!p.dlg || p.destroyed || p.view.Snapshot().ended) return;
            taken = true;
            Handle(p, [&] {
                if (step == "xferdone") p.dlg->OnMessage(WM_XFERDONE);
                else if (step == "graphnotify") p.dlg->OnMessage(WM_GRAPHNOTIFY);
                else if (step == "framearrived") p.dlg->OnMessage(WM_FRAMEARRIVED);
                else if (step == "devicechange") p.dlg->OnDeviceChange();
                else if (step == "timer") p.dlg->OnTimer(kPollTimer);
                else {
                    ScriptedHeadlessDialog target(p.view, *p.dlg);
                    UiScript(step).Advance(target);
                }
            });
        });
        return taken;
    }

private:
    // Runs a handler of the dialog and journals the message boxes it showed.
    template <typename Handler>
    static void Handle(Parts& parts, Handler handler) {
        if (!parts.dlg || parts.destroyed) return;
        handler();
        const std::vector<ShownMessage> shown = HeadlessMessages();
        for (std::size_t i = parts.messagesSeen; i < shown.size(); ++i) {
            const WindowHandle owner = shown[i].owner;
            IVersionDialogView* version = parts.view.VersionDialog();
            const char* ownerName = !owner                                     ? "none"
                                    : owner == parts.view.Window()             ? "dialog"
                                    : (version && owner == version->Window()) ? "version"
                                                                               : "window";
            JournalLine(std::string("message ") + ownerName + " " + shown[i].text);
        }
        parts.messagesSeen = shown.size();
    }

    static void Unregister(Parts& parts) {
        if (!parts.registered) return;
        HeadlessBridge::Instance().Unregister(parts.view.Window());
        HeadlessBridge::Instance().Unregister(parts.view.ControlWindow(IDC_PREVIEW));
        parts.registered = false;
    }

    std::shared_ptr<Parts> parts_;
    DialogThread thread_;
};

}  // namespace

std::unique_ptr<IDialogSession> MakeHeadlessDialogSession() { return std::make_unique<HeadlessDialogSession>(); }

int DriveHeadlessDialogs(const std::string& step) {
    // The session list stays locked while the steps run: a session cannot be
    // destroyed meanwhile (its destructor waits for the list).
    std::lock_guard<std::mutex> guard(g_sessionsMutex);
    int taken = 0;
    for (HeadlessDialogSession* session : g_sessions) taken += session->Drive(step) ? 1 : 0;
    return taken;
}

namespace {
std::mutex g_backendMutex;
DialogSessionFactory g_backend;
}  // namespace

void RegisterDialogBackend(DialogSessionFactory factory) {
    std::lock_guard<std::mutex> guard(g_backendMutex);
    g_backend = std::move(factory);
}

std::unique_ptr<IDialogSession> MakeDialogSession() {
    if (!HeadlessUiRequested()) {
        DialogSessionFactory backend;
        {
            std::lock_guard<std::mutex> guard(g_backendMutex);
            backend = g_backend;
        }
        if (backend) {
            if (auto session = backend()) return session;
        }
    }
    return MakeHeadlessDialogSession();
}

}  // namespace kiv
