// The Win32 view of the capture dialog (template 2000) over a real dialog
// window, and of the version dialog (2017) that it runs modally. Controls are
// reached by their ids; texts are UTF-8 here and UTF-16 towards Windows.
// The view decides nothing: the dialog procedure of its owner (Win32Dialog)
// hands the messages to the logic, and the logic asks the view.
//
// Threads: create, use and delete a view on the thread that owns its dialog
// window (the thread that calls DS_Entry and pumps the application's loop).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "kivds/ui/ICaptureDialogView.h"

struct tagDRAWITEMSTRUCT;

namespace kiv {

class Win32VersionView;

class Win32CaptureView final : public ICaptureDialogView {
public:
    Win32CaptureView();
    ~Win32CaptureView() override;
    Win32CaptureView(const Win32CaptureView&) = delete;
    Win32CaptureView& operator=(const Win32CaptureView&) = delete;

    // The dialog window the view works on, from WM_INITDIALOG on; null
    // detaches (the window is gone). Loads the buttons' icons once.
    void Attach(WindowHandle dialog);

    // WM_DRAWITEM: paints the owner-drawn buttons 2008 and 2009; false for
    // any other control (default drawing).
    bool DrawItem(const tagDRAWITEMSTRUCT& item);

    // EndDialog was called (the window is hidden), and with which result.
    bool Ended() const { return ended_; }
    int EndResult() const { return endResult_; }
    // The version dialog closes itself with OK once shown (scripts).
    void AutoCloseVersionDialog(bool on) { autoCloseVersion_ = on; }

    // ICaptureDialogView
    WindowHandle Window() const override { return dialog_; }
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

private:
    struct Icons;
    WindowHandle dialog_ = nullptr;
    std::unique_ptr<Icons> icons_;
    // The version dialog's view while it runs (owned by RunVersionDialog's frame).
    Win32VersionView* version_ = nullptr;
    bool ended_ = false;
    int endResult_ = 0;
    bool autoCloseVersion_ = false;
};

// The module whose resources hold the dialogs and icons: the one this code is
// linked into (kivds.ds, or a test program).
void* ResourceModule();

}  // namespace kiv
