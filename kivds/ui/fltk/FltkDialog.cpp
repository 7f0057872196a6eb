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

#include "kivds/platform/Env.h"
#include "kivds/ui/CaptureDialog.h"
#include "kivds/ui/DialogControls.h"
#include "kivds/ui/DialogThread.h"
#include "kivds/ui/Strings.h"
#include "kivds/ui/UiScript.h"
#include "kivds/ui/fltk/FltkBridge.h"
#include "kivds/ui/fltk/FltkDisplay.h"
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

// What lives on the dialog's thread; deleted there.
struct Parts {
    std::unique_ptr<FltkCaptureView> view;
    std::unique_ptr<CKIVDlg> dlg;
    std::unique_ptr<UiScript> script;
    bool registered = false;
    bool destroyed = false;  // the manager destroyed the window: no more handlers
    ~Parts() {
        std::lock_guard<std::recursive_mutex> fltk(FltkLock());
        dlg.reset();
        view.reset();
        Fl::check();  // let the hidden windows go from the display
    }
};

// One pass of FLTK's loop, and the waiting preview picture drawn.
void Pump(Parts& parts, double seconds) {
    std::lock_guard<std::recursive_mutex> fltk(FltkLock());
    if (parts.view) {
        WindowHandle preview = parts.view->ControlWindow(IDC_PREVIEW);
        if (FltkBridge::Instance().Take(preview)) static_cast<Fl_Widget*>(preview)->redraw();
    }
    Fl::wait(seconds);
}

class FltkDialogSession final : public IDialogSession {
public:
    FltkDialogSession() : parts_(std::make_shared<Parts>()) { FltkBridge::Install(); }

    ~FltkDialogSession() override {
        std::shared_ptr<Parts> parts = std::move(parts_);
        if (thread_.OnThread()) {
            // From inside one of the dialog's own handlers: the parts go once
            // the loop lets go of its queue, after that handler.
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

    bool Create(WindowHandle) override {
        bool ok = false;
        thread_.RunSync([&] {
            std::lock_guard<std::recursive_mutex> fltk(FltkLock());
            if (!FltkAttachDisplay()) return;
            Parts& p = *parts_;
            std::weak_ptr<Parts> weak = parts_;
            // The view reaches the loop through a link, never through this
            // session: a handler may outlive it.
            const DialogThread::Link loop = thread_.MakeLink();
            FltkCaptureView::Actions actions;
            actions.command = [weak](int id, unsigned notification) {
                if (auto parts = weak.lock()) Handle(*parts, [&] { parts->dlg->OnCommand(id, notification); });
            };
            actions.sysCommand = [weak](unsigned command) {
                if (auto parts = weak.lock()) Handle(*parts, [&] { parts->dlg->OnSysCommand(command); });
            };
            actions.setTimer = [loop, weak](unsigned id, unsigned ms) {
                loop.SetTimer(id, ms, [weak, id] {
                    if (auto parts = weak.lock()) Handle(*parts, [&] { parts->dlg->OnTimer(id); });
                });
            };
            actions.killTimer = [loop](unsigned id) { loop.KillTimer(id); };
            // The version dialog's loop: the dialog's queue is served
            // between its passes, and nobody waits for the user holding
            // the source lock.
            actions.pump = [weak](double seconds) {
                return DialogThread::ServeNested([&] {
                    if (auto parts = weak.lock())
                        Pump(*parts, seconds);
                    else
                        Fl::wait(seconds);
                });
            };
            p.view = std::make_unique<FltkCaptureView>(std::move(actions));
            p.dlg = std::make_unique<CKIVDlg>(*p.view);
            RegisterWindows(p);
            Handle(p, [&] { ok = p.dlg->OnInitDialog(); });
            if (ok)
                RegisterWindows(p);  // the preview's size after the dialog's layout
            else
                Unregister(p);
        });
        return ok;
    }

    void Show() override {
        thread_.RunSync([&] {
            std::lock_guard<std::recursive_mutex> fltk(FltkLock());
            if (!parts_->view) return;
            parts_->view->Show();
            auto text = GetEnv("KIVDS_UI_SCRIPT");
            if (text && !text->empty()) {
                parts_->script = std::make_unique<UiScript>(*text);
                parts_->view->AutoCloseVersionDialog(true);  // a script has nobody to press OK
            }
            std::weak_ptr<Parts> weak = parts_;
            thread_.SetIdleHook([weak]() -> std::optional<DialogThread::Clock::time_point> {
                auto parts = weak.lock();
                if (!parts || parts->destroyed) return std::nullopt;
                Pump(*parts, 0.0);
                DialogThread::Clock::time_point next = DialogThread::Clock::now() + kPumpPeriod;
                if (parts->script && parts->dlg) {
                    std::optional<DialogThread::Clock::time_point> wanted;
                    Handle(*parts, [&] { wanted = parts->script->Advance(*parts->view); });
                    if (wanted && *wanted < next) next = *wanted;
                }
                return next;
            });
        });
    }

    void DestroyWindow() override {
        thread_.RunSync([&] {
            std::lock_guard<std::recursive_mutex> fltk(FltkLock());
            thread_.SetIdleHook(nullptr);
            if (parts_->dlg && !parts_->destroyed) parts_->dlg->DestroyWindow();
            parts_->destroyed = true;
            Unregister(*parts_);
            if (parts_->view) {
                if (auto* window = static_cast<Fl_Window*>(parts_->view->Window())) window->hide();
                Fl::check();
            }
        });
    }

    void SendXferDone() override {
        std::weak_ptr<Parts> weak = parts_;
        thread_.Post([weak] {
            if (auto parts = weak.lock()) Handle(*parts, [&] { parts->dlg->OnMessage(WM_XFERDONE); });
        });
    }

    WindowHandle Window() const override { return parts_ && parts_->view ? parts_->view->Window() : nullptr; }

private:
    template <typename Handler>
    static void Handle(Parts& parts, Handler handler) {
        if (!parts.dlg || parts.destroyed) return;
        std::lock_guard<std::recursive_mutex> fltk(FltkLock());
        handler();
    }

    // The bridge calls `deliver` and `repaint` outside its lock, so they may
    // run after this session is gone: they hold a link to the loop.
    void RegisterWindows(Parts& p) {
        std::weak_ptr<Parts> weak = parts_;
        const DialogThread::Link loop = thread_.MakeLink();
        auto deliver = [loop, weak](unsigned message) {
            loop.Post([weak, message] {
                if (auto parts = weak.lock()) Handle(*parts, [&] { parts->dlg->OnMessage(message); });
            });
        };
        // A new picture wakes the loop; the idle pass draws it.
        auto repaint = [loop] { loop.Post([] {}); };
        const ViewRect preview = p.view->ScreenRect(IDC_PREVIEW);
        FltkBridge::Instance().Register(p.view->Window(), {preview.Width(), preview.Height(), deliver, repaint});
        FltkBridge::Instance().Register(p.view->ControlWindow(IDC_PREVIEW),
                                        {preview.Width(), preview.Height(), deliver, repaint});
        {
            std::lock_guard<std::mutex> guard(Owners().mutex);
            Owners().runOnThread[p.view->Window()] = [loop](const std::function<void()>& task) {
                return loop.RunSync(task);
            };
        }
        p.registered = true;
    }

    static void Unregister(Parts& parts) {
        if (!parts.registered || !parts.view) return;
        FltkBridge::Instance().Unregister(parts.view->Window());
        FltkBridge::Instance().Unregister(parts.view->ControlWindow(IDC_PREVIEW));
        {
            std::lock_guard<std::mutex> guard(Owners().mutex);
            Owners().runOnThread.erase(parts.view->Window());
        }
        parts.registered = false;
    }

    std::shared_ptr<Parts> parts_;
    DialogThread thread_;
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
    constexpr int kTextSize = 12;
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
    return std::make_unique<FltkDialogSession>();
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
    RegisterMessageBoxBackend({[] { return FltkDisplayUsable(); }, [](const ShownMessage& m) { ShowFltkMessageBox(m); }});
}

}  // namespace kiv
