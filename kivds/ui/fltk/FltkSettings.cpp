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

#include "kivds/platform/AsciiCase.h"

namespace kiv {
namespace {

constexpr int kTextSize = 12;
constexpr int kMinTextSize = 8;
constexpr int kMargin = 10;
constexpr int kRowHeight = 26;
constexpr int kNameWidth = 210;
constexpr int kValueWidth = 240;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 26;
constexpr int kMaxVisibleRows = 16;
// The modal loop's passes between two looks at the camera's own changes.
constexpr int kRefreshPasses = 10;

// The label's font shrunk until the text fits the widget.
void FitLabel(Fl_Widget* widget) {
    for (int size = kTextSize; size >= kMinTextSize; --size) {
        widget->labelsize(size);
        fl_font(widget->labelfont(), size);
        int w = 0, h = 0;
        fl_measure(widget->label(), w, h, 0);
        if (w <= widget->w()) return;
    }
}

}  // namespace

struct FltkSettingsWindow::Row {
    FltkSettingsWindow* owner = nullptr;
    CameraControl control;
    Fl_Widget* widget = nullptr;  // owned by the window
    std::vector<std::string> texts;
    std::vector<Fl_Menu_Item> items;  // a menu's entries, over texts
};

FltkSettingsWindow::FltkSettingsWindow(ICameraControls& controls, const std::string& caption, Fl_Window* owner)
    : m_controls(controls), m_caption(caption), m_owner(owner) {
    Build(m_controls.List(), owner);
    m_controls.SetListener([this](const CameraControl& control) { ShowControl(control); });
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
    const int height = kMargin * 4 + scrollHeight + kRowHeight + kButtonHeight;
    m_window = std::make_unique<Fl_Double_Window>(width, height);
    m_window->copy_label(m_caption.c_str());
    m_window->begin();

    auto* scroll = new Fl_Scroll(kMargin, kMargin, width - 2 * kMargin, scrollHeight);
    scroll->type(Fl_Scroll::VERTICAL);
    scroll->box(FL_DOWN_FRAME);
    scroll->begin();
    int y = kMargin + 2;
    const int nameX = kMargin * 2, valueX = kMargin * 2 + kNameWidth;
    if (controls.empty()) {
        auto* none = new Fl_Box(nameX, y, kNameWidth + kValueWidth - kMargin, kRowHeight,
                                "This camera has no settings.");
        none->labelsize(kTextSize);
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
            FitLabel(name);
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
                auto* choice = new Fl_Choice(valueX, wy, kValueWidth - kMargin, wh);
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
                FitLabel(button);
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

    const int statusY = kMargin * 2 + scrollHeight;
    m_status = new Fl_Box(kMargin, statusY, width - 2 * kMargin, kRowHeight);
    m_status->labelsize(kTextSize);
    m_status->labelcolor(fl_rgb_color(170, 30, 20));
    m_status->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);

    const int buttonsY = height - kMargin - kButtonHeight;
    auto* defaults = new Fl_Button(width - 2 * (kMargin + kButtonWidth), buttonsY, kButtonWidth, kButtonHeight,
                                   "Defaults");
    defaults->labelsize(kTextSize);
    defaults->callback([](Fl_Widget*, void* self) { static_cast<FltkSettingsWindow*>(self)->Defaults(); }, this);
    auto* close = new Fl_Button(width - kMargin - kButtonWidth, buttonsY, kButtonWidth, kButtonHeight, "Close");
    close->labelsize(kTextSize);
    close->callback([](Fl_Widget*, void* self) { static_cast<FltkSettingsWindow*>(self)->Close(); }, this);
    m_labels.push_back(defaults);
    m_labels.push_back(close);
    m_window->end();
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
}

bool FltkSettingsWindow::Shown() const { return m_window && m_window->shown(); }

void FltkSettingsWindow::Close() {
    if (m_window) m_window->hide();
}

Fl_Window* FltkSettingsWindow::Window() const { return m_window.get(); }

void FltkSettingsWindow::RefreshWhenDue() {
    if (++m_passes < kRefreshPasses) return;
    m_passes = 0;
    m_controls.Refresh();  // the listener shows what changed
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
