#include "kivds/ui/fltk/FltkSettings.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Hor_Value_Slider.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/Fl_Scroll.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cstring>
#include <thread>

#include "kivds/platform/AsciiCase.h"
#include "kivds/ui/Strings.h"
#include "kivds/ui/fltk/FltkStyle.h"

namespace kiv {
namespace {

constexpr int kMargin = 10;
constexpr int kRowHeight = 26;
constexpr int kNameWidth = 210;
constexpr int kValueWidth = 240;
constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 26;
constexpr int kMaxVisibleRows = 16;
// The modal loop's passes between two looks at the camera's own changes.
constexpr int kRefreshPasses = 10;

// A menu row: Left and Right choose the entry before or after, as they move
// a slider (Up and Down stay with the window: the row above or below).
class ArrowChoice final : public Fl_Choice {
public:
    using Fl_Choice::Fl_Choice;
    int handle(int event) override {
        if (event == FL_KEYBOARD && !(Fl::event_state() & (FL_SHIFT | FL_CTRL | FL_ALT | FL_META))) {
            const int key = Fl::event_key();
            const int step = key == FL_Left ? -1 : key == FL_Right ? 1 : 0;
            const int next = value() + step;
            if (step != 0 && value() >= 0 && next >= 0 && next < size() - 1) {
                value(next);
                do_callback();
                return 1;
            }
        }
        return Fl_Choice::handle(event);
    }
};

}  // namespace

struct FltkSettingsWindow::Row {
    FltkSettingsWindow* owner = nullptr;
    CameraControl control;
    Fl_Widget* widget = nullptr;  // owned by the window
    std::vector<std::string> texts;
    std::vector<Fl_Menu_Item> items;  // a menu's entries, over texts
};

FltkSettingsWindow::FltkSettingsWindow(ICameraControls& controls, const std::string& caption, Fl_Window* owner)
    : m_controls(controls), m_caption(caption), m_owner(owner), m_thread(std::this_thread::get_id()) {
    Build(m_controls.List(), owner);
    m_controls.SetListener([this](const CameraControl& control) {
        // The camera's own changes may come from the backend's thread: they
        // wait for the next pass of the window's loop.
        if (std::this_thread::get_id() == m_thread) return ShowControl(control);
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_pending.push_back(control);
    });
}

FltkSettingsWindow::~FltkSettingsWindow() {
    m_controls.SetListener(nullptr);
    if (m_window) m_window->hide();
}

void FltkSettingsWindow::Build(const std::vector<CameraControl>& controls, Fl_Window*) {
    // Rows and group headers, in the driver's order.
    int lines = 0;
    std::string group;
    for (const CameraControl& c : controls) {
        if (c.group != group) ++lines;
        group = c.group;
        ++lines;
    }
    if (controls.empty()) lines = 1;
    const int visible = std::min(lines, kMaxVisibleRows);
    const int width = kMargin * 3 + kNameWidth + kValueWidth + Fl::scrollbar_size();
    const int scrollHeight = visible * kRowHeight + 4;
    // The rows, then one line: the status at the left, the buttons at the right.
    const int height = kMargin * 3 + scrollHeight + kButtonHeight;
    m_window = std::make_unique<Fl_Double_Window>(width, height);
    m_window->copy_label(m_caption.c_str());
    m_window->begin();

    auto* scroll = new Fl_Scroll(kMargin, kMargin, width - 2 * kMargin, scrollHeight);
    m_scroll = scroll;
    scroll->type(Fl_Scroll::VERTICAL);
    scroll->box(FL_DOWN_FRAME);
    scroll->begin();
    int y = kMargin + 2;
    const int nameX = kMargin * 2, valueX = kMargin * 2 + kNameWidth;
    if (controls.empty()) {
        auto* none = new Fl_Box(nameX, y, kNameWidth + kValueWidth - kMargin, kRowHeight);
        none->copy_label(LoadLocalisedString(IDS_SETTINGS_NONE).c_str());
        FitLabelSize(none);
        none->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
        m_labels.push_back(none);
    }
    group.clear();
    for (const CameraControl& c : controls) {
        if (c.group != group) {
            group = c.group;
            auto* header = new Fl_Box(nameX - kMargin / 2, y, kNameWidth + kValueWidth, kRowHeight);
            header->copy_label(group.c_str());
            header->labelfont(FL_HELVETICA_BOLD);
            header->labelsize(kTextSize);
            header->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
            m_labels.push_back(header);
            y += kRowHeight;
        }
        auto row = std::make_unique<Row>();
        row->owner = this;
        row->control = c;
        if (c.kind != CameraControlKind::Button) {
            auto* name = new Fl_Box(nameX, y, kNameWidth - kMargin, kRowHeight);
            name->copy_label(c.name.c_str());
            name->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
            FitLabelSize(name);
            m_labels.push_back(name);
        }
        const int wy = y + 2, wh = kRowHeight - 4;
        switch (c.kind) {
            case CameraControlKind::Range: {
                auto* slider = new Fl_Hor_Value_Slider(valueX, wy, kValueWidth - kMargin, wh);
                slider->bounds(static_cast<double>(c.minimum), static_cast<double>(c.maximum));
                slider->step(static_cast<double>(c.step > 0 ? c.step : 1));
                slider->textsize(kTextSize);
                slider->when(FL_WHEN_CHANGED);
                row->widget = slider;
                break;
            }
            case CameraControlKind::Boolean: {
                auto* check = new Fl_Check_Button(valueX, wy, kValueWidth - kMargin, wh);
                check->when(FL_WHEN_CHANGED);
                row->widget = check;
                break;
            }
            case CameraControlKind::Menu:
            case CameraControlKind::IntegerMenu: {
                auto* choice = new ArrowChoice(valueX, wy, kValueWidth - kMargin, wh);
                choice->textsize(kTextSize);
                for (const ControlMenuEntry& entry : c.menu) row->texts.push_back(entry.name);
                row->items.resize(row->texts.size() + 1);
                for (std::size_t i = 0; i <= row->texts.size(); ++i) {
                    std::memset(&row->items[i], 0, sizeof(Fl_Menu_Item));
                    if (i < row->texts.size()) {
                        row->items[i].text = row->texts[i].c_str();
                        row->items[i].labelsize_ = kTextSize;
                    }
                }
                choice->menu(row->items.data());
                choice->when(FL_WHEN_CHANGED);
                row->widget = choice;
                break;
            }
            case CameraControlKind::Button: {
                auto* button = new Fl_Button(nameX, wy, kNameWidth - kMargin, wh);
                button->copy_label(c.name.c_str());
                FitLabelSize(button);
                m_labels.push_back(button);
                row->widget = button;
                break;
            }
        }
        row->widget->callback(OnWidget, row.get());
        m_rows.push_back(std::move(row));
        ShowControl(c);
        y += kRowHeight;
    }
    scroll->end();

    const int buttonsY = height - kMargin - kButtonHeight;
    const int closeX = width - kMargin - kButtonWidth;
    // A camera without controls has nothing to set back.
    const int buttonsX = controls.empty() ? closeX : closeX - kMargin - kButtonWidth;
    if (!controls.empty()) {
        auto* defaults = new Fl_Button(buttonsX, buttonsY, kButtonWidth, kButtonHeight);
        defaults->copy_label(LoadLocalisedString(IDS_SETTINGS_DEFAULTS).c_str());
        FitLabelSize(defaults);
        defaults->callback([](Fl_Widget*, void* self) { static_cast<FltkSettingsWindow*>(self)->Defaults(); }, this);
        m_labels.push_back(defaults);
    }
    auto* close = new Fl_Button(closeX, buttonsY, kButtonWidth, kButtonHeight);
    close->copy_label(LoadLocalisedString(IDS_SETTINGS_CLOSE).c_str());
    FitLabelSize(close);
    close->callback([](Fl_Widget*, void* self) { static_cast<FltkSettingsWindow*>(self)->Close(); }, this);
    m_labels.push_back(close);
    // The status line: a refusal in words, wrapped when one line is too short.
    m_status = new Fl_Box(kMargin, buttonsY, buttonsX - 2 * kMargin, kButtonHeight);
    m_status->labelsize(kTextSize);
    m_status->labelcolor(fl_rgb_color(170, 30, 20));
    m_status->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP | FL_ALIGN_WRAP);
    m_window->end();
    // Taller, the window shows more rows; the line below stays at the bottom.
    m_window->resizable(scroll);
    m_window->size_range(width, kMargin * 3 + kRowHeight + 4 + kButtonHeight, width, 0);
    m_window->set_modal();
    // Esc and the close box.
    m_window->callback([](Fl_Widget*, void* self) { static_cast<FltkSettingsWindow*>(self)->Close(); }, this);
}

void FltkSettingsWindow::Show() {
    if (m_owner) {
        m_window->position(m_owner->x() + (m_owner->w() - m_window->w()) / 2,
                           m_owner->y() + (m_owner->h() - m_window->h()) / 2);
        // FLTK makes a modal window transient for the first window.
        Fl::first_window(m_owner);
    }
    m_window->show();
    // The keyboard starts at the first row that takes it.
    for (const auto& row : m_rows) {
        if (row->widget->take_focus()) break;
    }
}

bool FltkSettingsWindow::Shown() const { return m_window && m_window->shown(); }

void FltkSettingsWindow::Close() {
    if (m_window) m_window->hide();
}

Fl_Window* FltkSettingsWindow::Window() const { return m_window.get(); }

void FltkSettingsWindow::RefreshWhenDue() {
    std::vector<CameraControl> pending;
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        pending.swap(m_pending);
    }
    for (const CameraControl& control : pending) ShowControl(control);
    KeepFocusInView();
    if (++m_passes < kRefreshPasses) return;
    m_passes = 0;
    m_controls.Refresh();  // the listener shows what changed
}

void FltkSettingsWindow::KeepFocusInView() {
    Fl_Widget* focus = Fl::focus();
    if (!m_scroll || !focus || focus->parent() != m_scroll) return;
    // Tab and the arrows move the focus to rows that may be scrolled away.
    const int top = m_scroll->y() + Fl::box_dy(m_scroll->box());
    const int bottom = m_scroll->y() + m_scroll->h() - Fl::box_dh(m_scroll->box()) + Fl::box_dy(m_scroll->box());
    int to = m_scroll->yposition();
    if (focus->y() < top) to -= top - focus->y() + 2;
    else if (focus->y() + focus->h() > bottom) to += focus->y() + focus->h() - bottom + 2;
    if (to != m_scroll->yposition()) m_scroll->scroll_to(m_scroll->xposition(), std::max(0, to));
}

void FltkSettingsWindow::OnWidget(Fl_Widget* widget, void* data) {
    Row& row = *static_cast<Row*>(data);
    std::int64_t value = 0;
    switch (row.control.kind) {
        case CameraControlKind::Range:
            value = static_cast<std::int64_t>(static_cast<Fl_Valuator*>(widget)->value());
            break;
        case CameraControlKind::Boolean: value = static_cast<Fl_Check_Button*>(widget)->value() ? 1 : 0; break;
        case CameraControlKind::Menu:
        case CameraControlKind::IntegerMenu: {
            const int index = static_cast<Fl_Choice*>(widget)->value();
            if (index < 0 || static_cast<std::size_t>(index) >= row.control.menu.size()) return;
            value = row.control.menu[static_cast<std::size_t>(index)].index;
            break;
        }
        case CameraControlKind::Button: value = 1; break;
    }
    row.owner->Apply(row, value);
}

void FltkSettingsWindow::Apply(Row& row, std::int64_t value) {
    if (row.control.kind != CameraControlKind::Button && value == row.control.value) return;
    const ControlOutcome outcome = m_controls.Set(row.control.id, value);
    ShowOutcome(outcome);
    if (!outcome.Ok()) ShowControl(row.control);  // the widget goes back to what the camera has
}

void FltkSettingsWindow::ShowOutcome(const ControlOutcome& outcome) {
    m_statusText = outcome.Ok() ? std::string() : outcome.message;
    m_status->copy_label(m_statusText.c_str());
    // Wrapped into the box beside the buttons, smaller while it is too tall.
    for (int size = kTextSize; size >= kMinTextSize; --size) {
        m_status->labelsize(size);
        fl_font(m_status->labelfont(), size);
        int w = m_status->w(), h = 0;
        fl_measure(m_status->label(), w, h, 0);
        if (h <= m_status->h()) break;
    }
    m_status->redraw();
}

void FltkSettingsWindow::ShowControl(const CameraControl& control) {
    for (auto& row : m_rows) {
        if (row->control.id != control.id) continue;
        row->control = control;
        Fl_Widget* w = row->widget;
        switch (control.kind) {
            case CameraControlKind::Range:
                static_cast<Fl_Valuator*>(w)->value(static_cast<double>(control.value));
                break;
            case CameraControlKind::Boolean: static_cast<Fl_Check_Button*>(w)->value(control.value ? 1 : 0); break;
            case CameraControlKind::Menu:
            case CameraControlKind::IntegerMenu: {
                auto* choice = static_cast<Fl_Choice*>(w);
                choice->value(static_cast<const Fl_Menu_Item*>(nullptr));
                for (std::size_t i = 0; i < control.menu.size(); ++i) {
                    if (control.menu[i].index == control.value) choice->value(static_cast<int>(i));
                }
                break;
            }
            case CameraControlKind::Button: break;
        }
        if (control.Writable()) w->activate();
        else w->deactivate();
        w->redraw();
    }
}

void FltkSettingsWindow::Set(const std::string& name, const std::string& text) {
    ShowOutcome(SetControlByName(m_controls, name, text));
}

void FltkSettingsWindow::Defaults() { ShowOutcome(m_controls.ResetToDefaults()); }

std::string FltkSettingsWindow::StatusLine() const { return m_statusText; }

Fl_Widget* FltkSettingsWindow::RowWidget(const std::string& name) const {
    for (const auto& row : m_rows) {
        if (EqualsIgnoringAsciiCase(row->control.name, name)) return row->widget;
    }
    return nullptr;
}

std::vector<Fl_Widget*> FltkSettingsWindow::Labels() const { return m_labels; }

}  // namespace kiv
