#include "kivds/ui/headless/HeadlessView.h"

#include <cstdio>
#include <fstream>

#include "kivds/platform/Env.h"
#include "kivds/ui/KIVDlg.h"
#include "kivds/ui/DialogControls.h"
#include "kivds/ui/DialogBridge.h"

namespace kiv {
namespace {

// Where the headless dialog "is" on the screen.
constexpr std::int32_t kOriginX = 100;
constexpr std::int32_t kOriginY = 100;

// Texts in one journal line: line breaks written as \r and \n.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else out += c;
    }
    return out;
}

std::mutex g_journalMutex;

}  // namespace

void JournalLine(const std::string& line) {
    auto path = GetEnv("KIVDS_UI_RECORD");
    if (!path || path->empty()) return;
    std::lock_guard<std::mutex> guard(g_journalMutex);
    std::ofstream out(*path, std::ios::app | std::ios::binary);
    out << line << '\n';
}

// The version dialog while it runs.
class HeadlessView::VersionView final : public IVersionDialogView {
public:
    explicit VersionView(HeadlessView& owner) : owner_(owner) {}
    void SetTitle(const std::string& text) override {
        {
            std::lock_guard<std::mutex> guard(owner_.mutex_);
            owner_.shown_.versionTitle = text;
        }
        JournalLine("version-title " + Escaped(text));
    }
    void SetText(int id, const std::string& text) override {
        {
            std::lock_guard<std::mutex> guard(owner_.mutex_);
            owner_.shown_.versionTexts[id] = text;
        }
        JournalLine("version-text " + std::to_string(id) + " " + Escaped(text));
    }
    bool SetIcon(int, int) override { return false; }  // no icons without a window
    WindowHandle Window() const override { return const_cast<VersionView*>(this); }
    bool IsVisible() const override { return !ended_; }
    void End(int result) override {
        if (ended_) return;
        ended_ = true;
        result_ = result;
        JournalLine("version-end " + std::to_string(result));
    }
    bool Ended() const { return ended_; }
    int Result() const { return result_; }

private:
    HeadlessView& owner_;
    bool ended_ = false;
    int result_ = 0;
};

HeadlessView::HeadlessView() {
    shown_.rects[0] = {kOriginX, kOriginY, kOriginX + DialogUnitsX(kCaptureDialogWidth),
                       kOriginY + DialogUnitsY(kCaptureDialogHeight)};
    for (const ControlRule& rule : kCaptureControls) {
        controlHandles_[rule.id] = std::make_unique<char>();
        const std::int32_t left = kOriginX + DialogUnitsX(rule.x);
        const std::int32_t top = kOriginY + DialogUnitsY(rule.y);
        shown_.rects[rule.id] = {left, top, left + DialogUnitsX(rule.w), top + DialogUnitsY(rule.h)};
        if (rule.kind == ControlKind::List) shown_.lists[rule.id].sorted = rule.sortedList;
        shown_.enabled[rule.id] = true;
    }
}

HeadlessView::~HeadlessView() = default;

WindowHandle HeadlessView::Window() const { return const_cast<HeadlessView*>(this); }

WindowHandle HeadlessView::ControlWindow(int id) const {
    auto it = controlHandles_.find(id);
    return it == controlHandles_.end() ? nullptr : it->second.get();
}

void HeadlessView::SetWindowIcon(int iconId) { JournalLine("icon " + std::to_string(iconId)); }

void HeadlessView::SetTitle(const std::string& text) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        shown_.title = text;
    }
    JournalLine("title " + Escaped(text));
}

void HeadlessView::AppendSystemMenuItem(unsigned command, const std::string& text) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        shown_.menuItems.emplace_back(command, text);
    }
    JournalLine("menu " + std::to_string(command) + " " + Escaped(text));
}

void HeadlessView::SetText(int id, const std::string& text) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        shown_.texts[id] = text;
    }
    JournalLine("text " + std::to_string(id) + " " + Escaped(text));
}

ViewRect HeadlessView::ScreenRect(int id) const {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = shown_.rects.find(id);
    return it == shown_.rects.end() ? ViewRect{} : it->second;
}

void HeadlessView::Move(int id, const ViewRect& rect) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!shown_.rects.count(id)) return;
        shown_.rects[id] = rect;
    }
    if (id == IDC_PREVIEW) {
        // The software preview letterboxes into the size it is told.
        DialogBridge::Instance().SetClientSize(ControlWindow(IDC_PREVIEW), rect.Width(), rect.Height());
        DialogBridge::Instance().SetClientSize(Window(), rect.Width(), rect.Height());
    }
    JournalLine("move " + std::to_string(id) + " " + std::to_string(rect.Width()) + "x" +
                std::to_string(rect.Height()));
}

int HeadlessView::ListAdd(int id, const std::string& text, std::intptr_t data) {
    int index = -1;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        auto it = shown_.lists.find(id);
        if (it == shown_.lists.end()) return -1;
        auto& entries = it->second.entries;
        std::size_t at = entries.size();
        if (it->second.sorted) {
            at = 0;
            while (at < entries.size() && entries[at].text <= text) ++at;
        }
        entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(at), {text, data});
        // An insertion before the selection moves it along, as a list control does.
        if (it->second.selection >= static_cast<int>(at)) ++it->second.selection;
        index = static_cast<int>(at);
    }
    JournalLine("list-add " + std::to_string(id) + " " + std::to_string(index) + " " + std::to_string(data) + " " +
                Escaped(text));
    return index;
}

int HeadlessView::ListCount(int id) const {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = shown_.lists.find(id);
    return it == shown_.lists.end() ? 0 : static_cast<int>(it->second.entries.size());
}

std::intptr_t HeadlessView::ListData(int id, int index) const {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = shown_.lists.find(id);
    if (it == shown_.lists.end() || index < 0 || index >= static_cast<int>(it->second.entries.size())) return -1;
    return it->second.entries[static_cast<std::size_t>(index)].data;
}

int HeadlessView::ListSelection(int id) const {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = shown_.lists.find(id);
    return it == shown_.lists.end() ? -1 : it->second.selection;
}

void HeadlessView::ListSelect(int id, int index) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        auto it = shown_.lists.find(id);
        if (it == shown_.lists.end()) return;
        if (index < -1 || index >= static_cast<int>(it->second.entries.size())) index = -1;
        it->second.selection = index;
    }
    JournalLine("list-select " + std::to_string(id) + " " + std::to_string(index));
}

void HeadlessView::Enable(int id, bool enable) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!shown_.enabled.count(id)) return;
        shown_.enabled[id] = enable;
    }
    JournalLine("enable " + std::to_string(id) + " " + (enable ? "1" : "0"));
}

bool HeadlessView::IsEnabled(int id) const {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = shown_.enabled.find(id);
    return it != shown_.enabled.end() && it->second;
}

void HeadlessView::Update(int) {}
void HeadlessView::InvalidateAll() {}

void HeadlessView::SetTimer(unsigned id, unsigned periodMs) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        shown_.timers[id] = periodMs;
    }
    if (timerSink_.set) timerSink_.set(id, periodMs);
    JournalLine("timer-set " + std::to_string(id) + " " + std::to_string(periodMs));
}

void HeadlessView::KillTimer(unsigned id) {
    bool wasRunning = false;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        wasRunning = shown_.timers.erase(id) != 0;
    }
    if (timerSink_.kill) timerSink_.kill(id);
    if (wasRunning) JournalLine("timer-kill " + std::to_string(id));
}

void HeadlessView::EndDialog(int result) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        shown_.ended = true;
        shown_.endResult = result;
    }
    JournalLine("end " + std::to_string(result));
}

int HeadlessView::RunVersionDialog(const std::function<void(IVersionDialogView&)>& init) {
    version_ = std::make_unique<VersionView>(*this);
    {
        std::lock_guard<std::mutex> guard(mutex_);
        shown_.versionTexts.clear();
        ++shown_.versionRuns;
    }
    JournalLine("version-open");
    init(*version_);
    if (versionHook_) versionHook_();
    // Nobody reads it: OK closes it, unless something ended it meanwhile.
    version_->End(IDOK_BUTTON);
    const int result = version_->Result();
    version_.reset();
    return result;
}

IVersionDialogView* HeadlessView::VersionDialog() { return version_.get(); }

WindowHandle HeadlessView::AddOwnedWindow(const std::string& text) {
    std::lock_guard<std::mutex> guard(mutex_);
    owned_.push_back({std::make_unique<char>(), text, false});
    return owned_.back().handle.get();
}

std::vector<WindowHandle> HeadlessView::ClosedWindows() const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<WindowHandle> closed;
    for (const OwnedWindow& window : owned_) {
        if (window.closed) closed.push_back(window.handle.get());
    }
    return closed;
}

std::vector<WindowHandle> HeadlessView::OwnedWindowsWithText(const std::string& text) const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<WindowHandle> found;
    for (const OwnedWindow& window : owned_) {
        if (!window.closed && window.text.find(text) != std::string::npos) found.push_back(window.handle.get());
    }
    return found;
}

void HeadlessView::CloseWindow(WindowHandle handle) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        for (OwnedWindow& window : owned_) {
            if (window.handle.get() == handle) window.closed = true;
        }
    }
    JournalLine("close-window");
}

bool HeadlessView::ControlsEnabled() const {
    return ReadyControlsEnabled([this](int id) { return IsEnabled(id); });
}

HeadlessSnapshot HeadlessView::Snapshot() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return shown_;
}

bool HeadlessView::Press(CKIVDlg& dlg, int buttonId) {
    if (Snapshot().ended || !IsEnabled(buttonId)) return false;
    JournalLine("press " + std::to_string(buttonId));
    dlg.OnCommand(buttonId, BN_CLICKED);
    return true;
}

bool HeadlessView::Pick(CKIVDlg& dlg, int listId, const std::string& text) {
    if (Snapshot().ended || !IsEnabled(listId)) return false;
    int index = -1;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        auto it = shown_.lists.find(listId);
        if (it == shown_.lists.end()) return false;
        for (std::size_t i = 0; i < it->second.entries.size(); ++i) {
            if (it->second.entries[i].text == text) index = static_cast<int>(i);
        }
    }
    if (index < 0) return false;
    ListSelect(listId, index);
    dlg.OnCommand(listId, CBN_SELCHANGE);
    return true;
}

void HeadlessView::ChooseVersionInformation(CKIVDlg& dlg) { dlg.OnSysCommand(IDM_VERSIONINFO); }

void HeadlessView::PressClose(CKIVDlg& dlg) {
    if (Snapshot().ended) return;
    JournalLine("close");
    dlg.OnSysCommand(kScClose);
}

}  // namespace kiv
