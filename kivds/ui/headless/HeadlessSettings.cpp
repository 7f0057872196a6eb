#include "kivds/ui/headless/HeadlessSettings.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "kivds/camera/CameraControls.h"
#include "kivds/ui/DialogThread.h"
#include "kivds/ui/Strings.h"
#include "kivds/ui/headless/HeadlessView.h"

namespace kiv {
namespace {

// The longest the loop sleeps before it looks at the camera's changes again.
constexpr std::chrono::milliseconds kPass{20};

}  // namespace

HeadlessSettings::HeadlessSettings(HeadlessView& view, ICameraControls& controls, const std::string& caption)
    : m_view(view), m_controls(controls), m_window(view.AddOwnedWindow(caption)) {
    JournalLine("settings-open " + caption);
    const std::vector<CameraControl> rows = m_controls.List();
    for (const CameraControl& control : rows) JournalLine("settings-row " + DescribeControl(control));
    // Its texts in the user's language; a camera without controls has
    // nothing to set back, so only Close.
    const std::string close = LoadLocalisedString(IDS_SETTINGS_CLOSE);
    if (rows.empty()) {
        JournalLine("settings-none " + LoadLocalisedString(IDS_SETTINGS_NONE));
        JournalLine("settings-buttons " + close);
    } else {
        JournalLine("settings-buttons " + LoadLocalisedString(IDS_SETTINGS_DEFAULTS) + "|" + close);
    }
    m_controls.SetListener(
        [](const CameraControl& control) { JournalLine("settings-change " + DescribeControl(control)); });
}

HeadlessSettings::~HeadlessSettings() { m_controls.SetListener(nullptr); }

bool HeadlessSettings::Closed() const {
    const std::vector<WindowHandle> closed = m_view.ClosedWindows();
    return std::find(closed.begin(), closed.end(), m_window) != closed.end();
}

void HeadlessSettings::Run(const Advance& advance) {
    if (!advance) Close();
    while (!Closed()) {
        std::optional<Clock::time_point> next = advance();
        if (Closed()) break;
        const bool serving = DialogThread::ServeNested([&] {
            if (Closed()) return;
            const Clock::time_point until = Clock::now() + kPass;
            std::this_thread::sleep_until(next && *next < until ? *next : until);
        });
        if (!serving) break;  // the dialog's thread is stopping
        if (!Closed()) m_controls.Refresh();
    }
    if (!Closed()) m_view.CloseWindow(m_window);
    JournalLine("settings-close");
}

void HeadlessSettings::Set(const std::string& name, const std::string& text) {
    JournalLine("settings-set " + name + " " + text);
    const ControlOutcome outcome = SetControlByName(m_controls, name, text);
    if (!outcome.Ok()) JournalLine("settings-error " + outcome.message);
}

void HeadlessSettings::Defaults() {
    JournalLine("settings-defaults");
    const ControlOutcome outcome = m_controls.ResetToDefaults();
    if (!outcome.Ok()) JournalLine("settings-error " + outcome.message);
}

void HeadlessSettings::Close() {
    if (!Closed()) m_view.CloseWindow(m_window);
}

}  // namespace kiv
