#include "kivds/ui/win32/Win32Dialog.h"

#include "kivds/platform/Env.h"
#include "kivds/platform/MessageBox.h"
#include "kivds/platform/SourceLock.h"
#include "kivds/platform/win32/Utf.h"
#include "kivds/ui/KIVDlg.h"
#include "kivds/ui/DialogControls.h"
#include "kivds/ui/UiScript.h"
#include "kivds/ui/win32/Win32Bridge.h"
#include "kivds/ui/win32/Win32CaptureView.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace kiv {
namespace {

// The C++ side of one dialog window. The session holds it, and so does the
// window procedure for as long as it handles a message: a handler may end the
// session (the application disables the source from the close request's
// callback) while it is still on the stack.
struct Parts {
    Win32CaptureView view;
    std::unique_ptr<CKIVDlg> dlg;
    std::unique_ptr<UiScript> script;  // KIVDS_UI_SCRIPT, from Show on
    bool scriptRunning = false;        // a step runs (its nested loop may tick again)
    HWND window = nullptr;
    bool initialised = false;  // OnInitDialog succeeded
    bool destroyed = false;    // the manager destroyed the window: no more handlers
};

// The timer that advances the script; the logic owns timer 0.
constexpr UINT_PTR kScriptTimer = 0x5C17;

// A script's clicks, as window messages to the dialog's controls.
class ScriptedWin32Dialog final : public IScriptedDialog {
public:
    explicit ScriptedWin32Dialog(Parts& parts) : parts_(parts) {}
    bool Ended() const override { return parts_.view.Ended() || !parts_.window; }
    bool ControlsEnabled() const override {
        return ReadyControlsEnabled([this](int id) { return parts_.view.IsEnabled(id); });
    }
    bool Pick(int listId, const std::string& text) override {
        HWND list = GetDlgItem(parts_.window, listId);
        if (!list || !IsWindowEnabled(list)) return false;
        const std::wstring wide = Utf8ToWide(text);
        const LRESULT found = SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                           reinterpret_cast<LPARAM>(wide.c_str()));
        if (found < 0) return false;
        const int index = static_cast<int>(found);
        if (index == parts_.view.ListSelection(listId)) return true;
        SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(parts_.window, WM_COMMAND, MAKEWPARAM(listId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
        return true;
    }
    bool Press(int buttonId) override {
        HWND button = GetDlgItem(parts_.window, buttonId);
        if (!button || !IsWindowEnabled(button) || !IsWindowVisible(parts_.window)) return false;
        SendMessageW(parts_.window, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(button));
        return true;
    }
    void ChooseVersionInformation() override {
        parts_.view.AutoCloseVersionDialog(true);
        SendMessageW(parts_.window, WM_SYSCOMMAND, IDM_VERSIONINFO, 0);
    }
    void PressClose() override { SendMessageW(parts_.window, WM_SYSCOMMAND, SC_CLOSE, 0); }

private:
    Parts& parts_;
};

// One turn of the script, and the timer set for the next.
void AdvanceScript(Parts& parts) {
    if (!parts.script || parts.scriptRunning || parts.destroyed || !parts.window) return;
    HWND window = parts.window;
    KillTimer(window, kScriptTimer);
    std::optional<UiScript::Clock::time_point> next;
    {
        std::lock_guard<SourceLock> lock(TheSourceLock());
        parts.scriptRunning = true;
        ScriptedWin32Dialog target(parts);
        next = parts.script->Advance(target);
        parts.scriptRunning = false;
    }
    if (!next || parts.destroyed || !parts.window) return;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*next - UiScript::Clock::now()).count();
    SetTimer(window, kScriptTimer, static_cast<UINT>(std::max<long long>(wait, USER_TIMER_MINIMUM)), nullptr);
}

// Dialog windows and their parts. Only the windows' thread uses it; the
// mutex keeps two applications' threads in one process apart.
struct WindowTable {
    std::mutex mutex;
    std::map<HWND, std::weak_ptr<Parts>> windows;
};

WindowTable& Windows() {
    static WindowTable table;
    return table;
}

std::shared_ptr<Parts> PartsOf(HWND window) {
    WindowTable& t = Windows();
    std::lock_guard<std::mutex> guard(t.mutex);
    auto it = t.windows.find(window);
    return it == t.windows.end() ? nullptr : it->second.lock();
}

void Forget(HWND window) {
    WindowTable& t = Windows();
    std::lock_guard<std::mutex> guard(t.mutex);
    t.windows.erase(window);
}

// Runs `handler` on the logic under the source's lock, unless the window was
// destroyed already.
template <typename Handler>
void Handle(Parts& parts, Handler handler) {
    if (!parts.dlg || parts.destroyed) return;
    std::lock_guard<SourceLock> lock(TheSourceLock());
    handler(*parts.dlg);
}

INT_PTR SetResult(HWND window, LONG_PTR result) {
    SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        std::shared_ptr<Parts> parts = *reinterpret_cast<const std::shared_ptr<Parts>*>(lParam);
        {
            WindowTable& t = Windows();
            std::lock_guard<std::mutex> guard(t.mutex);
            t.windows[window] = parts;
        }
        parts->window = window;
        parts->view.Attach(window);
        Win32Bridge::Instance().AttachPreview(parts->view.ControlWindow(IDC_PREVIEW));
        Handle(*parts, [&](CKIVDlg& dlg) { parts->initialised = dlg.OnInitDialog(); });
        return TRUE;
    }
    // A local owner for the whole message (see Parts).
    std::shared_ptr<Parts> parts = PartsOf(window);
    if (!parts) return FALSE;
    switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const unsigned code = HIWORD(wParam);
            if (id == IDCANCEL) {
                // The close box, Esc.
                Handle(*parts, [](CKIVDlg& dlg) { dlg.OnCancel(); });
                return TRUE;
            }
            const bool list = (id == IDC_FORMAT_LIST || id == IDC_SIZE_LIST) && code == CBN_SELCHANGE;
            const bool button = (id == IDC_SETTINGS || id == IDC_CAPTURE) && code == BN_CLICKED;
            if (!list && !button) return FALSE;
            Handle(*parts, [&](CKIVDlg& dlg) { dlg.OnCommand(id, code); });
            return TRUE;
        }
        case WM_SYSCOMMAND:
            // The version item; everything else (the close box among them) takes
            // the default way, which turns SC_CLOSE into IDCANCEL.
            if ((static_cast<unsigned>(wParam) & kSysCommandMask) != IDM_VERSIONINFO) return FALSE;
            Handle(*parts, [&](CKIVDlg& dlg) { dlg.OnSysCommand(static_cast<unsigned>(wParam)); });
            return TRUE;
        case WM_TIMER:
            if (wParam == kScriptTimer) {
                AdvanceScript(*parts);
                return TRUE;
            }
            if (wParam != kPollTimer) return FALSE;
            Handle(*parts, [](CKIVDlg& dlg) { dlg.OnTimer(kPollTimer); });
            return TRUE;
        case WM_GRAPHNOTIFY:
        case WM_FRAMEARRIVED:
        case WM_XFERDONE: Handle(*parts, [&](CKIVDlg& dlg) { dlg.OnMessage(message); }); return SetResult(window, 1);
        case WM_DEVICECHANGE: Handle(*parts, [](CKIVDlg& dlg) { dlg.OnDeviceChange(); }); return SetResult(window, 0);
        case WM_DRAWITEM: return parts->view.DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)) ? TRUE : FALSE;
        case WM_DESTROY: Win32Bridge::Instance().DetachPreview(parts->view.ControlWindow(IDC_PREVIEW)); return FALSE;
        case WM_NCDESTROY:
            Forget(window);
            parts->view.Attach(nullptr);
            parts->window = nullptr;
            return FALSE;
        default: return FALSE;
    }
}

class Win32DialogSession final : public IDialogSession {
public:
    Win32DialogSession() : parts_(std::make_shared<Parts>()) { Win32Bridge::Install(); }

    ~Win32DialogSession() override {
        // The manager destroys the window first; a session dropped without
        // that (a failed creation, an unload) takes its window with it.
        if (parts_->window) {
            parts_->destroyed = true;
            ::DestroyWindow(parts_->window);
        }
        // A handler still on the stack keeps its own reference to the parts.
    }

    bool Create(WindowHandle parent) override {
        if (parts_->window) return false;
        parts_->dlg = std::make_unique<CKIVDlg>(parts_->view);
        HWND window = CreateDialogParamW(static_cast<HINSTANCE>(ResourceModule()), MAKEINTRESOURCEW(IDD_CAPTURE),
                                         static_cast<HWND>(parent), &DialogProc, reinterpret_cast<LPARAM>(&parts_));
        if (!window) return false;
        if (!parts_->initialised) {
            // The logic ended itself during its start: the window goes
            // without the logic's own destruction steps.
            parts_->destroyed = true;
            ::DestroyWindow(window);
            return false;
        }
        return true;
    }

    void Show() override {
        if (!parts_->window || parts_->destroyed) return;
        ShowWindow(parts_->window, SW_SHOW);
        // A script drives the shown dialog from the application's own loop.
        auto text = GetEnv("KIVDS_UI_SCRIPT");
        if (text && !text->empty() && !parts_->script) {
            parts_->script = std::make_unique<UiScript>(*text);
            SetTimer(parts_->window, kScriptTimer, USER_TIMER_MINIMUM, nullptr);
        }
    }

    void DestroyWindow() override {
        if (parts_->destroyed) return;
        Handle(*parts_, [](CKIVDlg& dlg) { dlg.DestroyWindow(); });
        parts_->destroyed = true;
        if (parts_->window) ::DestroyWindow(parts_->window);
    }

    void SendXferDone() override {
        if (parts_->window) SendMessageW(parts_->window, WM_XFERDONE, 0, 0);
    }

    WindowHandle Window() const override { return parts_->window; }

    bool PreTranslateMessage(void* osMessage) override {
        auto* msg = static_cast<MSG*>(osMessage);
        HWND dialog = parts_->window;
        if (!msg || !dialog || parts_->destroyed || !msg->hwnd) return false;
        if (msg->hwnd != dialog && !IsChild(dialog, msg->hwnd)) return false;
        // The session may end inside (Esc closes the dialog, the application
        // disables the source): the parts stay for the call.
        std::shared_ptr<Parts> keep = parts_;
        return IsDialogMessageW(dialog, msg) != FALSE;
    }

private:
    std::shared_ptr<Parts> parts_;
};

}  // namespace

std::unique_ptr<IDialogSession> MakeWin32DialogSession() {
    if (HeadlessUiRequested()) return nullptr;
    return std::make_unique<Win32DialogSession>();
}

}  // namespace kiv
