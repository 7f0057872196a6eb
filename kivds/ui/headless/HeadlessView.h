// The headless view of the capture and version dialogs: no window at all. It
// keeps what a window would show (title, texts, list entries and selections,
// enabled states, timers, the ended result, the version dialog's texts) so
// that tests and scripts can read it, lets them press buttons and pick list
// entries as a user would, and writes every change as one line to a journal
// (KIVDS_UI_RECORD names the file; no journal without it).
//
// Threads: the view's operations run on the dialog's thread; the readers
// (Snapshot, the journal) may be used from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kivds/ui/ICaptureDialogView.h"

namespace kiv {

class CKIVDlg;
class HeadlessSettings;

struct HeadlessList {
    struct Entry {
        std::string text;
        std::intptr_t data;
    };
    std::vector<Entry> entries;
    int selection = -1;
    bool sorted = false;
};

// What the headless dialog shows, copied out for readers.
struct HeadlessSnapshot {
    std::string title;
    std::map<int, std::string> texts;  // statics
    std::map<int, HeadlessList> lists;
    std::map<int, bool> enabled;
    std::map<unsigned, unsigned> timers;  // id -> period
    std::vector<std::pair<unsigned, std::string>> menuItems;
    std::map<int, ViewRect> rects;  // 0: the dialog
    bool ended = false;
    int endResult = 0;
    // The version dialog, as it was shown last.
    std::string versionTitle;
    std::map<int, std::string> versionTexts;
    int versionRuns = 0;
};

// Appends journal lines to the file KIVDS_UI_RECORD names (read at every line).
void JournalLine(const std::string& line);

class HeadlessView final : public ICaptureDialogView {
public:
    // Timers are handed to `timerSink` (set, kill); without one they are only recorded.
    struct TimerSink {
        std::function<void(unsigned id, unsigned periodMs)> set;
        std::function<void(unsigned id)> kill;
    };
    HeadlessView();
    ~HeadlessView() override;
    HeadlessView(const HeadlessView&) = delete;
    HeadlessView& operator=(const HeadlessView&) = delete;

    void SetTimerSink(TimerSink sink) { timerSink_ = std::move(sink); }
    // Runs while the version dialog is "open" (its nested loop), before it is
    // ended with OK; a test uses it to deliver camera events meanwhile.
    void SetVersionDialogHook(std::function<void()> hook) { versionHook_ = std::move(hook); }
    // A top-level window owned by the dialog (the camera's property frame,
    // say) for OwnedWindowsWithText; returns its handle.
    WindowHandle AddOwnedWindow(const std::string& text);
    std::vector<WindowHandle> ClosedWindows() const;

    // A user's actions on the dialog `dlg` shown by this view. Return false
    // when the action is impossible (disabled control, no such entry).
    bool Press(CKIVDlg& dlg, int buttonId);
    bool Pick(CKIVDlg& dlg, int listId, const std::string& text);
    void ChooseVersionInformation(CKIVDlg& dlg);
    void PressClose(CKIVDlg& dlg);

    // The settings window while it is open (else null), for the script.
    void SetOpenSettings(HeadlessSettings* settings) { settings_ = settings; }
    HeadlessSettings* OpenSettings() const { return settings_; }

    // True when the dialog is ready: ReadyControlsEnabled.
    bool ControlsEnabled() const;
    HeadlessSnapshot Snapshot() const;

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

private:
    class VersionView;
    struct OwnedWindow {
        std::unique_ptr<char> handle;  // a unique address
        std::string text;
        bool closed = false;
    };

    mutable std::mutex mutex_;
    HeadlessSnapshot shown_;
    std::map<int, std::unique_ptr<char>> controlHandles_;
    std::vector<OwnedWindow> owned_;
    std::unique_ptr<VersionView> version_;
    TimerSink timerSink_;
    std::function<void()> versionHook_;
    HeadlessSettings* settings_ = nullptr;  // dialog's thread only
};

}  // namespace kiv
