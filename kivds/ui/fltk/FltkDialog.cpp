#include "kivds/ui/fltk/FltkDialog.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

#include "kivds/ui/KIVDlg.h"
#include "kivds/ui/DialogBridge.h"
#include "kivds/ui/DialogControls.h"
#include "kivds/ui/DialogThread.h"
#include "kivds/ui/Strings.h"
#include "kivds/ui/ThreadedDialogSession.h"
#include "kivds/ui/UiScript.h"
#include "kivds/ui/fltk/FltkDisplay.h"
#include "kivds/ui/fltk/FltkSettings.h"
#include "kivds/ui/fltk/FltkStyle.h"
#include "kivds/ui/fltk/FltkView.h"

namespace kiv {
namespace {

// How often the idle dialog serves the display.
constexpr std::chrono::milliseconds kPumpPeriod{10};
// How long a modal window's loop waits for the display before it serves the
// dialog's queue again.
constexpr double kModalWait = 0.01;

// Windows of live dialogs, with a way onto their threads (for message boxes
// that another thread shows over them).
struct OwnerRegistry {
    std::mutex mutex;
    std::map<WindowHandle, std::function<bool(const std::function<void()>&)>> runOnThread;
};

OwnerRegistry& Owners() {
    static OwnerRegistry registry;
    return registry;
}

// The FLTK side of a dialog session: the view, its loop passes and the
// windows that message boxes of other threads are shown over.
class FltkToolkit final : public DialogToolkit {
public:
    ~FltkToolkit() override {
        view_.reset();
        Fl::check();  // let the hidden windows go from the display
    }

    std::unique_lock<std::recursive_mutex> Lock() override {
        return std::unique_lock<std::recursive_mutex>(FltkLock());
    }

    ICaptureDialogView* MakeView(const DialogEvents& events) override {
        if (!FltkAttachDisplay()) return nullptr;
        FltkCaptureView::Actions actions;
        actions.command = [events](int id, unsigned notification) {
            events.Handle([&](CKIVDlg& dlg) { dlg.OnCommand(id, notification); });
        };
        actions.sysCommand = [events](unsigned command) {
            events.Handle([&](CKIVDlg& dlg) { dlg.OnSysCommand(command); });
        };
        actions.setTimer = [events](unsigned id, unsigned ms) { events.SetTimer(id, ms); };
        actions.killTimer = [events](unsigned id) { events.KillTimer(id); };
        // The version dialog's loop: the dialog's queue is served between its
        // passes, and nobody waits for the user holding the source lock.
        actions.pump = [events](double seconds) {
            return DialogThread::ServeNested([&] {
                const bool live = events.WithToolkit(
                    [&](DialogToolkit& toolkit) { static_cast<FltkToolkit&>(toolkit).Pump(seconds); });
                if (!live) Fl::wait(seconds);
            });
        };
        view_ = std::make_unique<FltkCaptureView>(std::move(actions));
        return view_.get();
    }

    // A new picture wakes the loop; the idle pass draws it.
    std::function<void()> PictureHook(WindowHandle, const DialogThread::Link& loop) override {
        return [loop] { loop.Post([] {}); };
    }

    void Registered(const DialogThread::Link& loop) override {
        std::lock_guard<std::mutex> guard(Owners().mutex);
        Owners().runOnThread[view_->Window()] = [loop](const std::function<void()>& task) {
            return loop.RunSync(task);
        };
    }

    void Unregistered() override {
        std::lock_guard<std::mutex> guard(Owners().mutex);
        Owners().runOnThread.erase(view_->Window());
    }

    bool Show() override {
        view_->Show();
        return true;
    }

    void ScriptStarted() override { view_->AutoCloseVersionDialog(true); }  // a script has nobody to press OK

    std::optional<Clock::time_point> Idle() override {
        Pump(0.0);
        return Clock::now() + kPumpPeriod;
    }

    std::optional<Clock::time_point> AdvanceScript(UiScript& script, CKIVDlg&) override {
        script_ = &script;  // the settings window runs its next steps
        return script.Advance(*view_);
    }

    // Modal to the capture dialog: until it is closed, or its owner ended or
    // hidden, or the thread stopping; the dialog's queue is served between
    // the passes, without the source lock while it waits for the user.
    bool ShowCameraControls(const std::wstring& caption, ICameraControls& controls) override {
        if (!view_ || view_->OpenSettings()) return false;
        auto* owner = static_cast<Fl_Window*>(view_->Window());
        FltkSettingsWindow settings(controls, Utf8Text(caption), owner);
        view_->SetOpenSettings(&settings);
        settings.Show();
        std::optional<Clock::time_point> scriptDue = Clock::now();
        while (settings.Shown() && !view_->Ended() && owner->shown()) {
            if (script_ && scriptDue && Clock::now() >= *scriptDue) scriptDue = script_->Advance(*view_);
            if (!settings.Shown()) break;
            if (!DialogThread::ServeNested([&] { Pump(kModalWait); })) break;
            settings.RefreshWhenDue();
        }
        view_->SetOpenSettings(nullptr);
        settings.Close();
        return true;
    }

    void Destroyed() override {
        if (auto* window = static_cast<Fl_Window*>(view_->Window())) window->hide();
        Fl::check();
    }

    // One pass of FLTK's loop, and the waiting preview picture drawn.
    void Pump(double seconds) {
        std::lock_guard<std::recursive_mutex> fltk(FltkLock());
        if (view_) {
            WindowHandle preview = view_->ControlWindow(IDC_PREVIEW);
            if (DialogBridge::Instance().Take(preview)) static_cast<Fl_Widget*>(preview)->redraw();
        }
        Fl::wait(seconds);
    }

private:
    std::unique_ptr<FltkCaptureView> view_;
    UiScript* script_ = nullptr;  // the shown dialog's, once it ran (it lives as long as this)
};

// The box's sign: "!" in a red disc for errors, "i" in a blue one otherwise.
class MessageSign final : public Fl_Widget {
public:
    MessageSign(int x, int y, int size, bool error) : Fl_Widget(x, y, size, size), error_(error) {}
    void draw() override {
        fl_color(error_ ? fl_rgb_color(200, 40, 30) : fl_rgb_color(40, 90, 180));
        fl_pie(x(), y(), w(), h(), 0, 360);
        fl_color(FL_WHITE);
        fl_font(FL_HELVETICA_BOLD, h() * 2 / 3);
        fl_draw(error_ ? "!" : "i", x(), y(), w(), h(), FL_ALIGN_CENTER);
    }

private:
    bool error_;
};

// True while `window` is one of the shown windows (it is only compared:
// once hidden it may be gone).
bool StillShown(const Fl_Window* window) {
    for (Fl_Window* win = Fl::first_window(); win; win = Fl::next_window(win)) {
        if (win == window) return true;
    }
    return false;
}

// The message box itself, on the thread that runs FLTK for `owner`: the
// text wrapped to a readable width, one OK button (Enter and Esc close it).
// On a dialog's thread its loop serves the dialog's queue too, without the
// source lock while it waits; it ends with its owner (hidden or destroyed)
// and with the dialog's thread.
void ShowOnThisThread(const ShownMessage& message) {
    std::lock_guard<std::recursive_mutex> fltk(FltkLock());
    if (!FltkAttachDisplay()) return;
    constexpr int kMargin = 14, kSign = 32, kTextWidth = 380, kButtonW = 80, kButtonH = 26;
    fl_font(FL_HELVETICA, kTextSize);
    int textW = kTextWidth, textH = 0;
    fl_measure(message.text.c_str(), textW, textH, 0);
    textW = std::max(textW, 120);
    textH = std::max(textH, kSign);
    const int w = kMargin * 3 + kSign + textW;
    const int h = kMargin * 3 + textH + kButtonH;

    // Modal to the owner: FLTK makes a modal window transient for the first
    // window, so the owner (when it is one of ours and shown) goes first.
    Fl_Window* owner = nullptr;
    for (Fl_Window* win = Fl::first_window(); win; win = Fl::next_window(win)) {
        if (win == message.owner) owner = win;
    }
    const int x = owner ? owner->x() + (owner->w() - w) / 2 : (Fl::w() - w) / 2;
    const int y = owner ? owner->y() + (owner->h() - h) / 2 : (Fl::h() - h) / 2;

    Fl_Double_Window window(x, y, w, h);
    window.copy_label(message.caption.c_str());
    MessageSign sign(kMargin, kMargin, kSign, (message.style & kMbIconError) != 0);
    Fl_Box text(kMargin * 2 + kSign, kMargin, textW, textH);
    text.copy_label(message.text.c_str());
    text.labelsize(kTextSize);
    text.align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
    std::string ok = LoadLocalisedString(IDS_OK);
    if (ok.empty()) ok = "OK";
    Fl_Return_Button button((w - kButtonW) / 2, h - kMargin - kButtonH, kButtonW, kButtonH);
    button.copy_label(ok.c_str());
    button.labelsize(kTextSize);
    button.callback([](Fl_Widget* b, void*) { b->window()->hide(); });
    window.end();
    window.set_modal();
    if (owner) Fl::first_window(owner);
    window.show();
    while (window.shown() && (!owner || StillShown(owner))) {
        if (!DialogThread::ServeNested([] { Fl::wait(kModalWait); })) break;
    }
}

}  // namespace

std::unique_ptr<IDialogSession> MakeFltkDialogSession() {
    if (!FltkDisplayUsable()) return nullptr;
    return std::make_unique<ThreadedDialogSession>(std::make_unique<FltkToolkit>());
}

void ShowFltkMessageBox(const ShownMessage& message) {
    std::function<bool(const std::function<void()>&)> runOnThread;
    {
        std::lock_guard<std::mutex> guard(Owners().mutex);
        auto it = Owners().runOnThread.find(message.owner);
        if (it != Owners().runOnThread.end()) runOnThread = it->second;
    }
    // A dialog's thread runs it at once; another thread hands it over.
    if (runOnThread && runOnThread([&] { ShowOnThisThread(message); })) return;
    ShowOnThisThread(message);
}

void InstallFltkMessageBox() {
    RegisterMessageBoxBackend(
        {[] { return FltkDisplayUsable(); }, [](const ShownMessage& m) { ShowFltkMessageBox(m); }});
}

}  // namespace kiv
