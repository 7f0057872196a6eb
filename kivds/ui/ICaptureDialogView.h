// Seam between the dialogs' logic (CKIVDlg, CVersionDlg) and a toolkit that
// shows them. A view holds the controls of one dialog template, addressed by
// their control ids, and performs what the logic asks; it decides nothing.
// Backends: headless (always built), and the toolkit views.
//
// Threads: every operation is called on the thread that owns the dialog (the
// source's UI thread, or the DS_Entry thread where that pumps the dialog), and
// only there.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kivds/platform/Types.h"

namespace kiv {

// A rectangle in screen pixels (left, top inclusive; right, bottom exclusive).
struct ViewRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    std::int32_t Width() const { return right - left; }
    std::int32_t Height() const { return bottom - top; }
};

class IVersionDialogView {
public:
    virtual ~IVersionDialogView() = default;
    virtual void SetTitle(const std::string& text) = 0;
    // Text of control `id` (2018, 2019, 2022, 1).
    virtual void SetText(int id, const std::string& text) = 0;
    // Shows icon resource `iconId` in the icon static `id`; false when the icon
    // cannot be loaded (the static stays empty).
    virtual bool SetIcon(int id, int iconId) = 0;
    // The version dialog's window while it is shown, else null.
    virtual WindowHandle Window() const = 0;
    virtual bool IsVisible() const = 0;
    // Ends the modal loop of a shown version dialog with `result`.
    virtual void End(int result) = 0;
};

// The controls of the capture dialog template (2000) and of its window.
class ICaptureDialogView {
public:
    virtual ~ICaptureDialogView() = default;

    // The dialog window, and the window of control `id` (null for an unknown id).
    virtual WindowHandle Window() const = 0;
    virtual WindowHandle ControlWindow(int id) const = 0;

    // Big and small window icon from icon resource `iconId`.
    virtual void SetWindowIcon(int iconId) = 0;
    virtual void SetTitle(const std::string& text) = 0;
    // Appends a separator and then an item `command` with `text` to the
    // window's system menu.
    virtual void AppendSystemMenuItem(unsigned command, const std::string& text) = 0;
    // Text of a static control.
    virtual void SetText(int id, const std::string& text) = 0;

    // Screen rectangles of the dialog (id 0) and its controls.
    virtual ViewRect ScreenRect(int id) const = 0;
    // Moves and resizes the dialog (id 0) or a control; `rect` in screen
    // pixels. Repaints what moved.
    virtual void Move(int id, const ViewRect& rect) = 0;

    // Lists (2004, 2007). Add returns the entry's index; a sorted list inserts
    // the entry at its place by text. Indices out of range read as nothing.
    virtual int ListAdd(int id, const std::string& text, std::intptr_t data) = 0;
    virtual int ListCount(int id) const = 0;
    virtual std::intptr_t ListData(int id, int index) const = 0;
    // The selected entry, -1 for none; Select with -1 clears the selection.
    virtual int ListSelection(int id) const = 0;
    virtual void ListSelect(int id, int index) = 0;

    virtual void Enable(int id, bool enable) = 0;
    virtual bool IsEnabled(int id) const = 0;
    // Repaints control `id` now.
    virtual void Update(int id) = 0;
    // Invalidates the whole dialog with erase.
    virtual void InvalidateAll() = 0;

    // Timer `id` fires every `periodMs` until killed (WM_TIMER to the logic);
    // setting a running timer restarts it. Killing a stopped timer is harmless.
    virtual void SetTimer(unsigned id, unsigned periodMs) = 0;
    virtual void KillTimer(unsigned id) = 0;

    // Ends the dialog with `result`: the window is hidden, not destroyed.
    virtual void EndDialog(int result) = 0;

    // Runs the version dialog modally, owned by this dialog. The view calls
    // `init` with the version dialog's view once its controls exist; it
    // returns when the version dialog is ended (OK, Esc, or End).
    virtual int RunVersionDialog(const std::function<void(IVersionDialogView&)>& init) = 0;
    // The version dialog's view while it runs, else null.
    virtual IVersionDialogView* VersionDialog() = 0;

    // Top-level windows whose parent is this dialog and whose text contains
    // `text` (case-sensitive), in enumeration order; and closing one of them
    // (WM_CLOSE). Used for the camera's property frame.
    virtual std::vector<WindowHandle> OwnedWindowsWithText(const std::string& text) const = 0;
    virtual void CloseWindow(WindowHandle window) = 0;
};

}  // namespace kiv
