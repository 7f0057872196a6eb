// The FLTK view of the capture dialog (template 2000) and of the version
// dialog (2017): real windows laid out from the templates' dialog units. The
// user's actions come back through the Actions the owner gives; the logic
// (CKIVDlg) decides what they do. The version item sits in the window's own
// menu: a menu button beside the settings button and a right-click menu.
//
// Threads: create, use and delete a view on one thread (the dialog's),
// holding FltkLock(); FltkAttachDisplay() must have succeeded.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kivds/ui/ICaptureDialogView.h"
#include "kivds/ui/UiScript.h"

class Fl_Widget;
class Fl_Window;

namespace kiv {

class FltkSettingsWindow;

class FltkCaptureView final : public ICaptureDialogView, public IScriptedDialog {
public:
    struct Actions {
        std::function<void(int id, unsigned notification)> command;  // WM_COMMAND
        std::function<void(unsigned command)> sysCommand;            // WM_SYSCOMMAND
        std::function<void(unsigned id, unsigned periodMs)> setTimer;
        std::function<void(unsigned id)> killTimer;
        // One pass of a modal loop: the FLTK loop once, waiting at most
        // `seconds`. False when the modal loop must end (the dialog's thread
        // is stopping).
        std::function<bool(double seconds)> pump;
    };
    explicit FltkCaptureView(Actions actions);
    ~FltkCaptureView() override;
    FltkCaptureView(const FltkCaptureView&) = delete;
    FltkCaptureView& operator=(const FltkCaptureView&) = delete;

    // A user's actions as the script (or a test) performs them: through the
    // widgets' own callbacks. False when the control is disabled or the entry
    // is not there.
    bool Press(int buttonId) override;
    bool Pick(int listId, const std::string& text) override;
    void ChooseVersionInformation() override;
    void PressClose() override;
    // The dialog is ready for the user (ReadyControlsEnabled).
    bool ControlsEnabled() const override;
    bool Ended() const override { return ended_; }
    int EndResult() const { return endResult_; }
    // The text shown by control `id` (labels, list selection), for tests.
    std::string Text(int id) const;
    // The version dialog closes itself with OK once shown (scripts).
    void AutoCloseVersionDialog(bool on) { autoCloseVersion_ = on; }
    // Shows the window (ShowWindow SW_SHOW).
    void Show();
    // The camera's settings window while it is open (else null): the
    // script's settings steps go to it.
    void SetOpenSettings(FltkSettingsWindow* settings) { settings_ = settings; }
    FltkSettingsWindow* OpenSettings() const { return settings_; }
    bool SetControl(const std::string& name, const std::string& text) override;
    bool PressDefaults() override;
    bool CloseSettings() override;

    // ICaptureDialogView
    WindowHandle Window() const override;
    WindowHandle ControlWindow(int id) const override;
    void SetWindowIcon(int iconId) override;
    void SetTitle(const std::string& text) override;
    void AppendSystemMenuItem(unsigned command, const std::string& text) override;
    void SetText(int id, const std::string& text) override;
    ViewRect ScreenRect(int id) const override;
    void Move(int id, const ViewRect& rect) override;
    int ListAdd(int id, const std::string& text, std::intptr_t data) override;
    int ListCount(int id) const override;
    std::intptr_t ListData(int id, int index) const override;
    int ListSelection(int id) const override;
    void ListSelect(int id, int index) override;
    void Enable(int id, bool enable) override;
    bool IsEnabled(int id) const override;
    void Update(int id) override;
    void InvalidateAll() override;
    void SetTimer(unsigned id, unsigned periodMs) override;
    void KillTimer(unsigned id) override;
    void EndDialog(int result) override;
    int RunVersionDialog(const std::function<void(IVersionDialogView&)>& init) override;
    IVersionDialogView* VersionDialog() override;
    std::vector<WindowHandle> OwnedWindowsWithText(const std::string& text) const override;
    void CloseWindow(WindowHandle window) override;

    class VersionView;
    class List;

private:
    void BuildWindow();
    void RebuildMenu();
    Fl_Widget* Control(int id) const;
    List* FindList(int id) const;

    Actions actions_;
    std::unique_ptr<Fl_Window> window_;
    std::map<int, Fl_Widget*> controls_;  // owned by the window
    std::map<int, std::unique_ptr<List>> lists_;
    Fl_Widget* menuButton_ = nullptr;
    Fl_Widget* popupMenu_ = nullptr;
    std::vector<std::pair<unsigned, std::string>> menuItems_;
    std::unique_ptr<VersionView> version_;
    bool ended_ = false;
    int endResult_ = 0;
    bool autoCloseVersion_ = false;
    FltkSettingsWindow* settings_ = nullptr;
};

}  // namespace kiv
