// The camera's settings window without a window: what its rows show, as
// journal lines (KIVDS_UI_RECORD), and the actions a user takes on it (set
// a control by name, Defaults, Close), for scripts and tests. It is a window
// owned by the headless dialog with the caption it was opened with, so the
// dialog's camera-loss rule finds and closes it.
//
//   settings-open CAPTION      opened; one settings-row line a control
//   settings-row DESCRIPTION   (DescribeControl), or settings-none TEXT without
//                              any (the window's sentence in the user's language)
//   settings-buttons TEXTS     the buttons' texts: Defaults|Close, or Close alone
//   settings-set NAME VALUE    a user's change; settings-change DESCRIPTION for
//                              every control it (or the camera) changed
//   settings-error MESSAGE     a change the window refused, and why
//   settings-defaults          the Defaults button
//   settings-close             closed
//
// Threads: the dialog's thread; the camera's changes may be journalled from
// the backend's.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "kivds/platform/Types.h"

namespace kiv {

class HeadlessView;
class ICameraControls;

class HeadlessSettings {
public:
    using Clock = std::chrono::steady_clock;
    // Runs the script's next steps; returns when it wants to run again
    // (nothing: it has no more steps now).
    using Advance = std::function<std::optional<Clock::time_point>()>;

    HeadlessSettings(HeadlessView& view, ICameraControls& controls, const std::string& caption);
    ~HeadlessSettings();
    HeadlessSettings(const HeadlessSettings&) = delete;
    HeadlessSettings& operator=(const HeadlessSettings&) = delete;

    // Modal: serves the dialog thread's queue until the window is closed (a
    // step, the dialog's camera-loss rule, the thread stopping). Without a
    // script (`advance` empty) nobody could close it: it closes at once.
    void Run(const Advance& advance);

    void Set(const std::string& name, const std::string& text);
    void Defaults();
    void Close();

private:
    bool Closed() const;

    HeadlessView& m_view;
    ICameraControls& m_controls;
    WindowHandle m_window;
};

}  // namespace kiv
