#include "kivds/ui/headless/HeadlessDialog.h"

#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "kivds/platform/MessageBox.h"
#include "kivds/ui/KIVDlg.h"
#include "kivds/ui/DialogBridge.h"
#include "kivds/ui/DialogControls.h"
#include "kivds/ui/ThreadedDialogSession.h"
#include "kivds/ui/Strings.h"
#include "kivds/ui/headless/HeadlessScript.h"
#include "kivds/ui/headless/HeadlessSettings.h"
#include "kivds/ui/headless/HeadlessView.h"

namespace kiv {
namespace {

// Where the pictures of one preview were placed last; the journal notes a
// new placement, not every frame.
struct Placement {
    std::mutex mutex;
    bool any = false;
    std::int32_t left = 0, top = 0, width = 0, height = 0;
};

class HeadlessToolkit final : public DialogToolkit {
public:
    HeadlessToolkit() : messagesSeen_(HeadlessMessages().size()) {}

    HeadlessView& View() { return view_; }

    ICaptureDialogView* MakeView(const DialogEvents& events) override {
        view_.SetTimerSink({[events](unsigned id, unsigned ms) { events.SetTimer(id, ms); },
                            [events](unsigned id) { events.KillTimer(id); }});
        return &view_;
    }

    // The picture is taken at once: the journal is the headless display.
    std::function<void()> PictureHook(WindowHandle window, const DialogThread::Link&) override {
        std::shared_ptr<Placement> placed = placed_;
        return [window, placed] {
            std::shared_ptr<const PreviewPicture> picture = DialogBridge::Instance().Take(window);
            if (!picture) return;
            {
                std::lock_guard<std::mutex> guard(placed->mutex);
                if (placed->any && placed->left == picture->left && placed->top == picture->top &&
                    placed->width == picture->width && placed->height == picture->height)
                    return;
                placed->any = true;
                placed->left = picture->left;
                placed->top = picture->top;
                placed->width = picture->width;
                placed->height = picture->height;
            }
            JournalLine("preview " + std::to_string(picture->left) + "," + std::to_string(picture->top) + " " +
                        std::to_string(picture->width) + "x" + std::to_string(picture->height));
        };
    }

    void Created() override { JournalLine("create"); }

    // Journals the message boxes the handler showed.
    void HandlerDone() override {
        const std::vector<ShownMessage> shown = HeadlessMessages();
        for (std::size_t i = messagesSeen_; i < shown.size(); ++i) {
            const WindowHandle owner = shown[i].owner;
            IVersionDialogView* version = view_.VersionDialog();
            const char* ownerName = !owner                                    ? "none"
                                    : owner == view_.Window()                 ? "dialog"
                                    : (version && owner == version->Window()) ? "version"
                                                                              : "window";
            JournalLine(std::string("message ") + ownerName + " " + shown[i].text);
        }
        messagesSeen_ = shown.size();
    }

    bool Show() override {
        JournalLine("show");
        return true;
    }

    std::optional<Clock::time_point> AdvanceScript(UiScript& script, CKIVDlg& dlg) override {
        // The settings window runs the script's next steps inside its loop.
        script_ = &script;
        dlg_ = &dlg;
        ScriptedHeadlessDialog target(view_, dlg);
        return script.Advance(target);
    }

    bool ShowCameraControls(const std::wstring& caption, ICameraControls& controls) override {
        if (view_.OpenSettings()) return false;  // one at a time
        HeadlessSettings settings(view_, controls, Utf8Text(caption));
        view_.SetOpenSettings(&settings);
        HeadlessSettings::Advance advance;
        if (script_ && dlg_) {
            advance = [this] {
                ScriptedHeadlessDialog target(view_, *dlg_);
                return script_->Advance(target);
            };
        }
        settings.Run(advance);
        view_.SetOpenSettings(nullptr);
        return true;
    }

    void Destroyed() override { JournalLine("destroy"); }

private:
    HeadlessView view_;
    std::size_t messagesSeen_;
    std::shared_ptr<Placement> placed_ = std::make_shared<Placement>();
    // The shown dialog's script and logic, once the script ran (they live
    // as long as this toolkit's session).
    UiScript* script_ = nullptr;
    CKIVDlg* dlg_ = nullptr;
};

class HeadlessDialogSession;

// The sessions alive in this process, for DriveHeadlessDialogs.
std::mutex g_sessionsMutex;
std::set<HeadlessDialogSession*> g_sessions;

class HeadlessDialogSession final : public ThreadedDialogSession {
public:
    HeadlessDialogSession() : ThreadedDialogSession(std::make_unique<HeadlessToolkit>()) {
        std::lock_guard<std::mutex> guard(g_sessionsMutex);
        g_sessions.insert(this);
    }

    ~HeadlessDialogSession() override {
        std::lock_guard<std::mutex> guard(g_sessionsMutex);
        g_sessions.erase(this);
    }
    HeadlessDialogSession(const HeadlessDialogSession&) = delete;
    HeadlessDialogSession& operator=(const HeadlessDialogSession&) = delete;

    // One step of DriveHeadlessDialogs; true when the dialog took it.
    bool Drive(const std::string& step) {
        return RunHandler(
            [](DialogToolkit& toolkit) { return !static_cast<HeadlessToolkit&>(toolkit).View().Snapshot().ended; },
            [&step](DialogToolkit& toolkit, CKIVDlg& dlg) {
                if (step == "xferdone") dlg.OnMessage(WM_XFERDONE);
                else if (step == "graphnotify") dlg.OnMessage(WM_GRAPHNOTIFY);
                else if (step == "framearrived") dlg.OnMessage(WM_FRAMEARRIVED);
                else if (step == "devicechange") dlg.OnDeviceChange();
                else if (step == "timer") dlg.OnTimer(kPollTimer);
                else {
                    ScriptedHeadlessDialog target(static_cast<HeadlessToolkit&>(toolkit).View(), dlg);
                    UiScript(step).Advance(target);
                }
            });
    }
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

std::unique_ptr<IDialogSession> MakeToolkitOrHeadlessDialogSession(const DialogSessionFactory& toolkit) {
    if (!HeadlessUiRequested() && toolkit) {
        if (auto session = toolkit()) return session;
    }
    return MakeHeadlessDialogSession();
}

}  // namespace kiv
