#include "kivds/ui/fltk/FltkView.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Menu_Button.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "kivds/ui/KIVDlg.h"
#include "kivds/ui/DialogBridge.h"
#include "kivds/ui/DialogControls.h"
#include "kivds/ui/fltk/FltkDisplay.h"
#include "kivds/ui/fltk/FltkPictograms.h"
#include "kivds/ui/fltk/FltkSettings.h"
#include "kivds/ui/fltk/FltkStyle.h"

namespace kiv {
namespace {

constexpr int kIconSize = 48;
// How long a modal loop's pass waits for the display.
constexpr double kModalWait = 0.01;

// Menu entries over strings the caller keeps: FLTK's menus point at them.
std::vector<Fl_Menu_Item> MenuOf(const std::vector<std::string>& texts) {
    std::vector<Fl_Menu_Item> items(texts.size() + 1);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        std::memset(&items[i], 0, sizeof(Fl_Menu_Item));
        items[i].text = texts[i].c_str();
        items[i].labelsize_ = kTextSize;
    }
    std::memset(&items.back(), 0, sizeof(Fl_Menu_Item));
    return items;
}

// The preview host: black, with the newest picture of the software preview
// at its place.
class PreviewBox final : public Fl_Box {
public:
    PreviewBox(int x, int y, int w, int h) : Fl_Box(FL_FLAT_BOX, x, y, w, h, nullptr) { color(FL_BLACK); }

    void draw() override {
        fl_push_clip(x(), y(), w(), h());
        fl_color(FL_BLACK);
        fl_rectf(x(), y(), w(), h());
        std::shared_ptr<const PreviewPicture> picture = DialogBridge::Instance().Latest(this);
        if (picture && IsDrawable(*picture)) {
            // Bottom-up BGR rows: start at the last row and step back, and
            // swap the channels into FLTK's RGB.
            rgb_.resize(static_cast<std::size_t>(picture->width) * 3 * picture->height);
            for (int row = 0; row < picture->height; ++row) {
                const std::uint8_t* src = picture->pixels.data() +
                                          static_cast<std::size_t>(picture->height - 1 - row) * picture->stride;
                std::uint8_t* dst = rgb_.data() + static_cast<std::size_t>(row) * picture->width * 3;
                for (int col = 0; col < picture->width; ++col) {
                    dst[col * 3 + 0] = src[col * 3 + 2];
                    dst[col * 3 + 1] = src[col * 3 + 1];
                    dst[col * 3 + 2] = src[col * 3 + 0];
                }
            }
            fl_draw_image(rgb_.data(), x() + picture->left, y() + picture->top, picture->width, picture->height, 3);
        }
        fl_pop_clip();
    }

private:
    std::vector<std::uint8_t> rgb_;
};

// The owner-drawn buttons 2008 and 2009.
class IconButton final : public Fl_Button {
public:
    // The icon comes from the drawing plan of the button's id.
    IconButton(int id, int x, int y, int w, int h) : Fl_Button(x, y, w, h, nullptr), id_(id) {
        box(FL_FLAT_BOX);
        visible_focus(1);
    }

    void draw() override {
        const bool focused = Fl::focus() == this;
        const ButtonDrawPlan plan = PlanButtonDrawing(id_, ViewRect{0, 0, w(), h()}, focused, value() != 0);
        if (plan.focusFrame) {
            fl_color(FL_BLACK);
            fl_rect(x(), y(), w(), h());
        }
        const int fx = x() + plan.face.left, fy = y() + plan.face.top;
        const int fw = plan.face.Width(), fh = plan.face.Height();
        fl_color(FL_BACKGROUND_COLOR);
        fl_rectf(fx, fy, fw, fh);
        if (plan.shadowFrame) {
            fl_color(FL_DARK2);
            fl_rect(fx, fy, fw, fh);
        } else {
            fl_draw_box(FL_UP_FRAME, fx, fy, fw, fh, FL_BACKGROUND_COLOR);
        }
        if (plan.focusRect) {
            fl_color(FL_BLACK);
            fl_line_style(FL_DOT);
            fl_rect(x() + plan.focus.left, y() + plan.focus.top, plan.focus.Width(), plan.focus.Height());
            fl_line_style(0);
        }
        DrawIconResource(plan.iconId, x() + plan.iconX, y() + plan.iconY, kIconSize, active_r() != 0);
    }

private:
    int id_;
};

// The version dialog's icon static.
class IconBox final : public Fl_Box {
public:
    IconBox(int x, int y, int w, int h) : Fl_Box(x, y, w, h) {}
    void SetIcon(int iconId) {
        iconId_ = iconId;
        redraw();
    }
    void draw() override {
        if (iconId_) DrawIconResource(iconId_, x(), y(), std::min(w(), h()), true);
    }

private:
    int iconId_ = 0;
};

// Sets the label and shrinks its font until it fits the control.
void SetFittedLabel(Fl_Widget* widget, const std::string& text) {
    widget->copy_label(text.c_str());
    FitLabelSize(widget);
    widget->redraw();
}

// The window menu's button: three bars drawn by code.
class MenuBars final : public Fl_Menu_Button {
public:
    MenuBars(int x, int y, int w, int h) : Fl_Menu_Button(x, y, w, h, nullptr) {}
    void draw() override {
        draw_box(value() ? fl_down(box()) : box(), color());
        fl_color(active_r() ? FL_FOREGROUND_COLOR : fl_inactive(FL_FOREGROUND_COLOR));
        const int cx = x() + w() / 2, cy = y() + h() / 2;
        for (int dy : {-4, 0, 4}) fl_rectf(cx - 7, cy + dy - 1, 14, 2);
    }
};

Fl_Box* MakeStatic(int x, int y, int w, int h) {
    auto* box = new Fl_Box(x, y, w, h);
    box->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_TOP);
    box->labelsize(kTextSize);
    return box;
}

// A widget of the version dialog at its place in the template (owned by the
// window that is being built).
template <typename Widget>
Widget* Place(int id) {
    const TemplateRect& r = VersionControlRect(id);
    return new Widget(DialogUnitsX(r.x), DialogUnitsY(r.y), DialogUnitsX(r.w), DialogUnitsY(r.h));
}

Fl_Box* PlaceStatic(int id) {
    const TemplateRect& r = VersionControlRect(id);
    return MakeStatic(DialogUnitsX(r.x), DialogUnitsY(r.y), DialogUnitsX(r.w), DialogUnitsY(r.h));
}

}  // namespace

// A drop-down list (2004, 2007) over a Fl_Choice: the entries, their data and
// the optional sorting live here.
class FltkCaptureView::List {
public:
    List(int x, int y, int w, int h, bool sorted) : choice_(new Fl_Choice(x, y, w, h)), sorted_(sorted) {
        choice_->textsize(kTextSize);
        choice_->when(FL_WHEN_CHANGED);
    }
    Fl_Choice* Widget() const { return choice_; }

    int Add(const std::string& text, std::intptr_t data) {
        std::size_t at = texts_.size();
        if (sorted_) {
            at = std::upper_bound(texts_.begin(), texts_.end(), text) - texts_.begin();
        }
        const int selected = Selection();
        texts_.insert(texts_.begin() + at, text);
        data_.insert(data_.begin() + at, data);
        Rebuild(selected >= static_cast<int>(at) ? selected + 1 : selected);
        return static_cast<int>(at);
    }
    int Count() const { return static_cast<int>(texts_.size()); }
    std::intptr_t Data(int index) const { return InRange(index) ? data_[index] : 0; }
    int Selection() const {
        const int value = choice_->value();
        return InRange(value) ? value : -1;
    }
    void Select(int index) {
        if (InRange(index)) choice_->value(index);
        else choice_->value(static_cast<const Fl_Menu_Item*>(nullptr));
        choice_->redraw();
    }
    int Find(const std::string& text) const {
        auto it = std::find(texts_.begin(), texts_.end(), text);
        return it == texts_.end() ? -1 : static_cast<int>(it - texts_.begin());
    }
    std::string SelectedText() const {
        const int index = Selection();
        return index < 0 ? std::string() : texts_[index];
    }

private:
    bool InRange(int index) const { return index >= 0 && index < Count(); }
    void Rebuild(int selected) {
        // The widest entry fits beside the drop-down arrow.
        int size = kTextSize;
        for (; size > kMinTextSize; --size) {
            fl_font(choice_->textfont(), size);
            int widest = 0;
            for (const std::string& text : texts_) widest = std::max(widest, static_cast<int>(fl_width(text.c_str())));
            if (widest <= choice_->w() - 32) break;
        }
        choice_->textsize(size);
        items_ = MenuOf(texts_);
        for (std::size_t i = 0; i < texts_.size(); ++i) items_[i].labelsize_ = kTextSize;
        choice_->menu(items_.data());
        Select(selected);
    }

    Fl_Choice* choice_;  // owned by the window
    bool sorted_;
    std::vector<std::string> texts_;
    std::vector<std::intptr_t> data_;
    std::vector<Fl_Menu_Item> items_;
};

// ------------------------------------------------------------ version dialog

class FltkCaptureView::VersionView final : public IVersionDialogView {
public:
    explicit VersionView(FltkCaptureView& owner) : owner_(owner) {
        window_ = std::make_unique<Fl_Double_Window>(DialogUnitsX(kVersionDialogWidth),
                                                     DialogUnitsY(kVersionDialogHeight));
        window_->begin();
        icon_ = Place<IconBox>(IDC_VERSION_ICON);
        product_ = PlaceStatic(IDC_VERSION_PRODUCT);
        number_ = PlaceStatic(IDC_VERSION_NUMBER);
        copyright_ = PlaceStatic(IDC_VERSION_COPYRIGHT);
        SetFittedLabel(copyright_, "Copyright (C) Orvan. All rights reserved.");
        buffer_ = std::make_unique<Fl_Text_Buffer>();
        license_ = Place<Fl_Text_Display>(IDC_VERSION_LICENSE);
        license_->buffer(buffer_.get());
        license_->textsize(kTextSize);
        license_->scrollbar_align(FL_ALIGN_RIGHT);
        // A multi-line box with a vertical scroll bar only: lines wrap.
        license_->wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);
        ok_ = Place<Fl_Return_Button>(IDOK_BUTTON);
        ok_->labelsize(kTextSize);
        ok_->callback([](Fl_Widget*, void* self) { static_cast<VersionView*>(self)->End(IDOK_BUTTON); }, this);
        window_->end();
        window_->set_modal();
        // Esc and the close box: IDCANCEL.
        window_->callback([](Fl_Widget*, void* self) { static_cast<VersionView*>(self)->End(IDCANCEL_RESULT); }, this);
    }
    ~VersionView() override {
        window_->hide();
        license_->buffer(nullptr);
    }

    void Show() {
        // Centred on the capture dialog, which owns it.
        Fl_Window* parent = owner_.window_.get();
        window_->position(parent->x() + (parent->w() - window_->w()) / 2,
                          parent->y() + (parent->h() - window_->h()) / 2);
        Fl::first_window(parent);
        window_->show();
        if (owner_.autoCloseVersion_) Fl::add_timeout(0.3, AutoClose, this);
    }

    bool Running() const { return !ended_; }
    int Result() const { return result_; }
    std::string Text(int id) const {
        if (id == IDC_VERSION_LICENSE) {
            // The buffer hands out a malloc'ed copy.
            std::unique_ptr<char, void (*)(void*)> text(buffer_->text(), std::free);
            return text ? std::string(text.get()) : std::string();
        }
        const Fl_Widget* widget = id == IDC_VERSION_PRODUCT     ? static_cast<Fl_Widget*>(product_)
                                  : id == IDC_VERSION_NUMBER    ? static_cast<Fl_Widget*>(number_)
                                  : id == IDOK_BUTTON           ? static_cast<Fl_Widget*>(ok_)
                                  : id == IDC_VERSION_COPYRIGHT ? static_cast<Fl_Widget*>(copyright_)
                                                                : nullptr;
        return widget && widget->label() ? widget->label() : "";
    }

    void SetTitle(const std::string& text) override { window_->copy_label(text.c_str()); }
    void SetText(int id, const std::string& text) override {
        switch (id) {
            case IDC_VERSION_PRODUCT: SetFittedLabel(product_, text); break;
            case IDC_VERSION_NUMBER: SetFittedLabel(number_, text); break;
            case IDOK_BUTTON: SetFittedLabel(ok_, text); break;
            case IDC_VERSION_LICENSE: {
                // The edit box's CR LF line breaks as FLTK's LF.
                std::string lf;
                lf.reserve(text.size());
                for (char c : text)
                    if (c != '\r') lf += c;
                buffer_->text(lf.c_str());
                break;
            }
            default: break;
        }
    }
    bool SetIcon(int id, int iconId) override {
        if (id != IDC_VERSION_ICON || iconId != IDI_APP) return false;
        icon_->SetIcon(iconId);
        return true;
    }
    WindowHandle Window() const override { return window_.get(); }
    bool IsVisible() const override { return window_->shown() && window_->visible() && !ended_; }
    void End(int result) override {
        if (ended_) return;
        ended_ = true;
        result_ = result;
        Fl::remove_timeout(AutoClose, this);
        window_->hide();
    }

private:
    static void AutoClose(void* self) { static_cast<VersionView*>(self)->End(IDOK_BUTTON); }

    FltkCaptureView& owner_;
    std::unique_ptr<Fl_Double_Window> window_;
    std::unique_ptr<Fl_Text_Buffer> buffer_;
    IconBox* icon_ = nullptr;
    Fl_Box* product_ = nullptr;
    Fl_Box* number_ = nullptr;
    Fl_Box* copyright_ = nullptr;
    Fl_Text_Display* license_ = nullptr;
    Fl_Button* ok_ = nullptr;
    bool ended_ = false;
    int result_ = 0;
};

// ------------------------------------------------------------ capture dialog

FltkCaptureView::FltkCaptureView(Actions actions) : actions_(std::move(actions)) { BuildWindow(); }

FltkCaptureView::~FltkCaptureView() {
    version_.reset();
    if (window_) window_->hide();
    lists_.clear();
    window_.reset();
}

void FltkCaptureView::BuildWindow() {
    const int w = DialogUnitsX(kCaptureDialogWidth), h = DialogUnitsY(kCaptureDialogHeight);
    window_ = std::make_unique<Fl_Double_Window>((Fl::w() - w) / 2, (Fl::h() - h) / 2, w, h);
    window_->begin();
    for (const ControlRule& rule : kCaptureControls) {
        const int x = DialogUnitsX(rule.x), y = DialogUnitsY(rule.y);
        const int cw = DialogUnitsX(rule.w), ch = DialogUnitsY(rule.h);
        Fl_Widget* widget = nullptr;
        switch (rule.kind) {
            case ControlKind::Static:
                widget = rule.id == IDC_PREVIEW ? static_cast<Fl_Widget*>(new PreviewBox(x, y, cw, ch))
                                                : MakeStatic(x, y, cw, ch);
                break;
            case ControlKind::List: {
                // A drop-down list's template height is that of its open
                // list; closed it is one line high.
                auto list = std::make_unique<List>(x, y, cw, DialogUnitsY(12), rule.sortedList);
                widget = list->Widget();
                lists_[rule.id] = std::move(list);
                break;
            }
            case ControlKind::Button: widget = new IconButton(rule.id, x, y, cw, ch); break;
        }
        controls_[rule.id] = widget;
        if (rule.kind != ControlKind::Static) {
            widget->callback(
                [](Fl_Widget* changed, void* self) {
                    auto* view = static_cast<FltkCaptureView*>(self);
                    for (const auto& entry : view->controls_) {
                        if (entry.second != changed) continue;
                        const bool list = view->FindList(entry.first) != nullptr;
                        if (view->actions_.command)
                            view->actions_.command(entry.first, list ? CBN_SELCHANGE : BN_CLICKED);
                        return;
                    }
                },
                this);
        }
    }
    // The window's menu: a small button below the settings button, and the
    // same items on a right click anywhere in the dialog.
    auto* button = new MenuBars(DialogUnitsX(298), DialogUnitsY(114), DialogUnitsX(70), DialogUnitsY(12));
    menuButton_ = button;
    auto* popup = new Fl_Menu_Button(0, 0, w, h);
    popup->type(Fl_Menu_Button::POPUP3);
    popupMenu_ = popup;
    for (Fl_Menu_Button* menu : {static_cast<Fl_Menu_Button*>(button), popup}) {
        menu->callback(
            [](Fl_Widget* chosen, void* self) {
                auto* view = static_cast<FltkCaptureView*>(self);
                const Fl_Menu_Item* item = static_cast<Fl_Menu_Button*>(chosen)->mvalue();
                if (!item || !view->actions_.sysCommand) return;
                view->actions_.sysCommand(static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(item->user_data())));
            },
            this);
    }
    button->hide();
    window_->end();
    window_->resizable(nullptr);
    // The close box and Esc: SC_CLOSE, which the logic turns into IDCANCEL.
    window_->callback(
        [](Fl_Widget*, void* self) {
            auto* view = static_cast<FltkCaptureView*>(self);
            if (view->actions_.sysCommand) view->actions_.sysCommand(kScClose);
        },
        this);
}

void FltkCaptureView::RebuildMenu() {
    for (Fl_Widget* widget : {menuButton_, popupMenu_}) {
        auto* menu = static_cast<Fl_Menu_Button*>(widget);
        menu->clear();
        for (const auto& item : menuItems_) {
            // Escape FLTK's menu syntax ('/', '&', '_', '\\') in the text.
            std::string label;
            for (char c : item.second) {
                if (c == '/' || c == '&' || c == '_' || c == '\\') label += '\\';
                label += c;
            }
            const int at = menu->add(label.c_str(), 0, nullptr, reinterpret_cast<void*>(std::uintptr_t{item.first}));
            const_cast<Fl_Menu_Item*>(menu->menu())[at].labelsize(kTextSize);
        }
    }
    if (menuItems_.empty()) menuButton_->hide();
    else menuButton_->show();
}

Fl_Widget* FltkCaptureView::Control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

FltkCaptureView::List* FltkCaptureView::FindList(int id) const {
    auto it = lists_.find(id);
    return it == lists_.end() ? nullptr : it->second.get();
}

void FltkCaptureView::Show() {
    window_->size_range(window_->w(), window_->h(), window_->w(), window_->h());
    window_->show();
}

bool FltkCaptureView::Press(int buttonId) {
    Fl_Widget* widget = Control(buttonId);
    if (!widget || FindList(buttonId) || !widget->active_r() || !window_->shown()) return false;
    widget->do_callback();
    return true;
}

bool FltkCaptureView::Pick(int listId, const std::string& text) {
    List* list = FindList(listId);
    if (!list || !list->Widget()->active_r()) return false;
    const int index = list->Find(text);
    if (index < 0) return false;
    if (index == list->Selection()) return true;
    list->Select(index);
    list->Widget()->do_callback();
    return true;
}

void FltkCaptureView::ChooseVersionInformation() {
    if (actions_.sysCommand) actions_.sysCommand(IDM_VERSIONINFO);
}

void FltkCaptureView::PressClose() { window_->do_callback(); }

bool FltkCaptureView::ControlsEnabled() const {
    return ReadyControlsEnabled([this](int id) { return IsEnabled(id); });
}

std::string FltkCaptureView::Text(int id) const {
    if (List* list = FindList(id)) return list->SelectedText();
    if ((id >= IDC_VERSION_PRODUCT && id <= IDC_VERSION_LICENSE) || id == IDOK_BUTTON)
        return version_ ? version_->Text(id) : "";
    const Fl_Widget* widget = id == 0 ? window_.get() : Control(id);
    return widget && widget->label() ? widget->label() : "";
}

WindowHandle FltkCaptureView::Window() const { return window_.get(); }

WindowHandle FltkCaptureView::ControlWindow(int id) const { return Control(id); }

void FltkCaptureView::SetWindowIcon(int iconId) {
    constexpr int kSize = 48;
    std::vector<unsigned char> pixels;
    if (!RenderIconRgb(iconId, kSize, pixels)) return;
    Fl_RGB_Image image(pixels.data(), kSize, kSize, 3);
    window_->icon(&image);  // FLTK keeps a copy
}

void FltkCaptureView::SetTitle(const std::string& text) { window_->copy_label(text.c_str()); }

void FltkCaptureView::AppendSystemMenuItem(unsigned command, const std::string& text) {
    menuItems_.emplace_back(command, text);
    RebuildMenu();
}

void FltkCaptureView::SetText(int id, const std::string& text) {
    if (Fl_Widget* widget = Control(id)) SetFittedLabel(widget, text);
}

ViewRect FltkCaptureView::ScreenRect(int id) const {
    const int wx = window_->x(), wy = window_->y();
    if (id == 0) return {wx, wy, wx + window_->w(), wy + window_->h()};
    Fl_Widget* widget = Control(id);
    if (!widget) return {};
    return {wx + widget->x(), wy + widget->y(), wx + widget->x() + widget->w(), wy + widget->y() + widget->h()};
}

void FltkCaptureView::Move(int id, const ViewRect& rect) {
    if (id == 0) {
        window_->resize(rect.left, rect.top, rect.Width(), rect.Height());
        // The right-click menu covers the whole dialog.
        popupMenu_->resize(0, 0, rect.Width(), rect.Height());
        window_->redraw();
        return;
    }
    Fl_Widget* widget = Control(id);
    if (!widget) return;
    widget->resize(rect.left - window_->x(), rect.top - window_->y(), rect.Width(), rect.Height());
    if (id == IDC_PREVIEW) {
        // The software preview letterboxes into the size it is told.
        DialogBridge::Instance().SetClientSize(widget, rect.Width(), rect.Height());
        DialogBridge::Instance().SetClientSize(window_.get(), rect.Width(), rect.Height());
    }
    window_->redraw();
}

int FltkCaptureView::ListAdd(int id, const std::string& text, std::intptr_t data) {
    List* list = FindList(id);
    return list ? list->Add(text, data) : -1;
}

int FltkCaptureView::ListCount(int id) const {
    List* list = FindList(id);
    return list ? list->Count() : 0;
}

std::intptr_t FltkCaptureView::ListData(int id, int index) const {
    List* list = FindList(id);
    return list ? list->Data(index) : 0;
}

int FltkCaptureView::ListSelection(int id) const {
    List* list = FindList(id);
    return list ? list->Selection() : -1;
}

void FltkCaptureView::ListSelect(int id, int index) {
    if (List* list = FindList(id)) list->Select(index);
}

void FltkCaptureView::Enable(int id, bool enable) {
    Fl_Widget* widget = Control(id);
    if (!widget) return;
    if (enable) widget->activate();
    else widget->deactivate();
}

bool FltkCaptureView::IsEnabled(int id) const {
    Fl_Widget* widget = Control(id);
    return widget && widget->active();
}

void FltkCaptureView::Update(int id) {
    if (Fl_Widget* widget = Control(id)) widget->redraw();
    if (window_->shown()) Fl::flush();
}

void FltkCaptureView::InvalidateAll() { window_->redraw(); }

void FltkCaptureView::SetTimer(unsigned id, unsigned periodMs) {
    if (actions_.setTimer) actions_.setTimer(id, periodMs);
}

void FltkCaptureView::KillTimer(unsigned id) {
    if (actions_.killTimer) actions_.killTimer(id);
}

void FltkCaptureView::EndDialog(int result) {
    ended_ = true;
    endResult_ = result;
    window_->hide();
}

int FltkCaptureView::RunVersionDialog(const std::function<void(IVersionDialogView&)>& init) {
    if (version_) return 0;  // one at a time
    version_ = std::make_unique<VersionView>(*this);
    init(*version_);
    version_->Show();
    // Until it ends, or its owner does: the capture dialog ended or hidden
    // (a pass may run its handlers and the manager's tasks), or its thread
    // stopping. Then it goes like a window whose owner went.
    while (version_->Running() && !ended_ && window_->shown() && actions_.pump && actions_.pump(kModalWait)) {
    }
    version_->End(0);  // nothing when it ended itself
    const int result = version_->Result();
    version_.reset();
    return result;
}

IVersionDialogView* FltkCaptureView::VersionDialog() { return version_.get(); }

std::vector<WindowHandle> FltkCaptureView::OwnedWindowsWithText(const std::string& text) const {
    // The dialog's own windows are the only top-level windows this view can
    // vouch for; property frames of a camera driver do not exist here.
    std::vector<WindowHandle> found;
    for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w)) {
        if (w == window_.get() || (version_ && w == version_->Window())) continue;
        if (w->label() && std::string(w->label()).find(text) != std::string::npos) found.push_back(w);
    }
    return found;
}

void FltkCaptureView::CloseWindow(WindowHandle window) {
    for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w)) {
        if (w == window) {
            w->do_callback();
            return;
        }
    }
}

bool FltkCaptureView::SetControl(const std::string& name, const std::string& text) {
    if (settings_) settings_->Set(name, text);
    return settings_ != nullptr;
}

bool FltkCaptureView::PressDefaults() {
    if (settings_) settings_->Defaults();
    return settings_ != nullptr;
}

bool FltkCaptureView::CloseSettings() {
    if (settings_) settings_->Close();
    return settings_ != nullptr;
}

}  // namespace kiv
