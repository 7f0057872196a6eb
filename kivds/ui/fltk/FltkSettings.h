// The camera's settings window in FLTK: one row per control of the camera's
// controls model, grouped as the driver groups them (a slider with its value
// for a range, a check box for a boolean, a choice for a menu, a button for
// a button), inactive and read-only controls greyed, a status line that says
// why a change was refused, and "Defaults" and "Close". Changes apply while
// the slider moves; what the camera changes itself (its control events) is
// shown at once. Tab and the arrows move and change, Esc closes it.
//
// The window is modal to its owner (the capture dialog) and carries the
// caption the dialog gave, so the dialog's camera-loss rule finds it among
// its owned windows and closes it like any property frame.
//
// Threads: the dialog's thread, holding FltkLock().
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kivds/camera/CameraControls.h"

class Fl_Box;
class Fl_Button;
class Fl_Double_Window;
class Fl_Scroll;
class Fl_Widget;
class Fl_Window;

namespace kiv {

class FltkSettingsWindow {
public:
    FltkSettingsWindow(ICameraControls& controls, const std::string& caption, Fl_Window* owner);
    ~FltkSettingsWindow();
    FltkSettingsWindow(const FltkSettingsWindow&) = delete;
    FltkSettingsWindow& operator=(const FltkSettingsWindow&) = delete;

    // Shows it centred on its owner. Shown until Close (the Close button,
    // Esc, the close box, the owner's camera-loss rule).
    void Show();
    bool Shown() const;
    void Close();
    Fl_Window* Window() const;

    // Shows the camera's changes that came from another thread, keeps the
    // focused row in view, and takes in the camera's own changes at most
    // every few passes of the modal loop (each pass calls it).
    void RefreshWhenDue();

    // The actions of a user, for scripts and tests: the row of control
    // `name` set to `text` as its widget would set it, and Defaults.
    void Set(const std::string& name, const std::string& text);
    void Defaults();
    // The status line (the last refusal, empty when none), and the widget of
    // the row of `name` (null when there is none), for tests.
    std::string StatusLine() const;
    Fl_Widget* RowWidget(const std::string& name) const;
    std::vector<Fl_Widget*> Labels() const;

private:
    struct Row;
    void Build(const std::vector<CameraControl>& controls, Fl_Window* owner);
    void Apply(Row& row, std::int64_t value);
    void ShowControl(const CameraControl& control);
    void ShowOutcome(const ControlOutcome& outcome);
    void KeepFocusInView();
    static void OnWidget(Fl_Widget* widget, void* row);

    ICameraControls& m_controls;
    std::string m_caption;
    Fl_Window* m_owner;
    std::unique_ptr<Fl_Double_Window> m_window;
    std::vector<std::unique_ptr<Row>> m_rows;
    std::vector<Fl_Widget*> m_labels;  // owned by the window
    Fl_Scroll* m_scroll = nullptr;     // owned by the window
    Fl_Box* m_status = nullptr;
    std::string m_statusText;
    int m_passes = 0;
    std::thread::id m_thread;  // the window's
    std::mutex m_pendingMutex;
    std::vector<CameraControl> m_pending;  // changes heard on another thread
};

}  // namespace kiv
