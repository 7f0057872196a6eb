#include "kivds/ui/win32/Win32CaptureView.h"

#include "kivds/ui/KIVDlg.h"
#include "kivds/ui/DialogControls.h"
#include "kivds/platform/win32/Utf.h"
#include "kivds/ui/win32/Win32Handles.h"

#include <windows.h>

#include <utility>

namespace kiv {

void* ResourceModule() {
    static HMODULE module = [] {
        HMODULE m = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(&ResourceModule), &m);
        return m;
    }();
    return module;
}

IconHandle LoadIconResource(int id, int width, int height) {
    return IconHandle(static_cast<HICON>(LoadImageW(static_cast<HINSTANCE>(ResourceModule()), MAKEINTRESOURCEW(id),
                                                    IMAGE_ICON, width, height, LR_DEFAULTCOLOR)));
}

namespace {

constexpr int kButtonIconSize = 48;

HWND AsHwnd(WindowHandle window) { return static_cast<HWND>(window); }

}  // namespace

// The version dialog over its modal window.
class Win32VersionView final : public IVersionDialogView {
public:
    explicit Win32VersionView(HWND window) : window_(window) {}

    void SetTitle(const std::string& text) override { SetWindowTextW(window_, Utf8ToWide(text).c_str()); }
    void SetText(int id, const std::string& text) override { SetDlgItemTextW(window_, id, Utf8ToWide(text).c_str()); }
    bool SetIcon(int id, int iconId) override {
        IconHandle icon = LoadIconResource(iconId, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
        if (!icon) return false;
        SendDlgItemMessageW(window_, id, STM_SETICON, reinterpret_cast<WPARAM>(icon.get()), 0);
        icon_ = std::move(icon);  // the static does not own it
        return true;
    }
    WindowHandle Window() const override { return window_; }
    bool IsVisible() const override { return window_ && IsWindowVisible(window_); }
    void End(int result) override {
        if (window_) ::EndDialog(window_, result);
    }
    void Detach() { window_ = nullptr; }

private:
    HWND window_;
    IconHandle icon_;
};

struct Win32CaptureView::Icons {
    IconHandle windowBig, windowSmall;
    IconHandle settings, capture;
};

Win32CaptureView::Win32CaptureView() : icons_(std::make_unique<Icons>()) {}

Win32CaptureView::~Win32CaptureView() = default;

void Win32CaptureView::Attach(WindowHandle dialog) {
    dialog_ = dialog;
    if (dialog && !icons_->settings) {
        icons_->settings = LoadIconResource(IDI_SETTINGS, kButtonIconSize, kButtonIconSize);
        icons_->capture = LoadIconResource(IDI_CAPTURE, kButtonIconSize, kButtonIconSize);
    }
}

WindowHandle Win32CaptureView::ControlWindow(int id) const {
    if (!dialog_ || id == 0) return nullptr;
    return GetDlgItem(AsHwnd(dialog_), id);
}

void Win32CaptureView::SetWindowIcon(int iconId) {
    if (!dialog_) return;
    IconHandle big = LoadIconResource(iconId, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
    IconHandle little = LoadIconResource(iconId, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
    SendMessageW(AsHwnd(dialog_), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.get()));
    SendMessageW(AsHwnd(dialog_), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(little.get()));
    // The window uses the icons without owning them: the old ones go only
    // once the new ones are in place.
    icons_->windowBig = std::move(big);
    icons_->windowSmall = std::move(little);
}

void Win32CaptureView::SetTitle(const std::string& text) {
    if (dialog_) SetWindowTextW(AsHwnd(dialog_), Utf8ToWide(text).c_str());
}

void Win32CaptureView::AppendSystemMenuItem(unsigned command, const std::string& text) {
    if (!dialog_) return;
    HMENU menu = GetSystemMenu(AsHwnd(dialog_), FALSE);
    if (!menu) return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, command, Utf8ToWide(text).c_str());
}

void Win32CaptureView::SetText(int id, const std::string& text) {
    if (dialog_) SetDlgItemTextW(AsHwnd(dialog_), id, Utf8ToWide(text).c_str());
}

ViewRect Win32CaptureView::ScreenRect(int id) const {
    HWND window = id == 0 ? AsHwnd(dialog_) : AsHwnd(ControlWindow(id));
    RECT r{};
    if (!window || !GetWindowRect(window, &r)) return ViewRect{};
    return ViewRect{r.left, r.top, r.right, r.bottom};
}

void Win32CaptureView::Move(int id, const ViewRect& rect) {
    HWND window = id == 0 ? AsHwnd(dialog_) : AsHwnd(ControlWindow(id));
    if (!window) return;
    POINT origin{rect.left, rect.top};
    // A control is placed in its parent's client coordinates.
    if (id != 0) ScreenToClient(GetParent(window), &origin);
    MoveWindow(window, origin.x, origin.y, rect.Width(), rect.Height(), TRUE);
}

int Win32CaptureView::ListAdd(int id, const std::string& text, std::intptr_t data) {
    HWND list = AsHwnd(ControlWindow(id));
    if (!list) return -1;
    const std::wstring wide = Utf8ToWide(text);
    // A sorted combo box answers with the index it inserted the entry at.
    const LRESULT index = SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    if (index < 0) return -1;
    SendMessageW(list, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data));
    return static_cast<int>(index);
}

int Win32CaptureView::ListCount(int id) const {
    HWND list = AsHwnd(ControlWindow(id));
    if (!list) return 0;
    const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
    return count < 0 ? 0 : static_cast<int>(count);
}

std::intptr_t Win32CaptureView::ListData(int id, int index) const {
    HWND list = AsHwnd(ControlWindow(id));
    if (!list || index < 0 || index >= ListCount(id)) return CB_ERR;
    return static_cast<std::intptr_t>(SendMessageW(list, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}

int Win32CaptureView::ListSelection(int id) const {
    HWND list = AsHwnd(ControlWindow(id));
    if (!list) return -1;
    const LRESULT index = SendMessageW(list, CB_GETCURSEL, 0, 0);
    return index < 0 ? -1 : static_cast<int>(index);
}

void Win32CaptureView::ListSelect(int id, int index) {
    HWND list = AsHwnd(ControlWindow(id));
    if (list) SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32CaptureView::Enable(int id, bool enable) {
    HWND window = AsHwnd(ControlWindow(id));
    if (window) EnableWindow(window, enable ? TRUE : FALSE);
}

bool Win32CaptureView::IsEnabled(int id) const {
    HWND window = AsHwnd(ControlWindow(id));
    return window && IsWindowEnabled(window);
}

void Win32CaptureView::Update(int id) {
    HWND window = AsHwnd(ControlWindow(id));
    if (window) UpdateWindow(window);
}

void Win32CaptureView::InvalidateAll() {
    if (dialog_) InvalidateRect(AsHwnd(dialog_), nullptr, TRUE);
}

void Win32CaptureView::SetTimer(unsigned id, unsigned periodMs) {
    // Timer ids belong to the window; 0 is a valid one.
    if (dialog_) ::SetTimer(AsHwnd(dialog_), id, periodMs, nullptr);
}

void Win32CaptureView::KillTimer(unsigned id) {
    if (dialog_) ::KillTimer(AsHwnd(dialog_), id);
}

void Win32CaptureView::EndDialog(int result) {
    // A modeless dialog ends by hiding: the window stays until its owner
    // destroys it (::EndDialog is for modal loops only).
    ended_ = true;
    endResult_ = result;
    if (dialog_) ShowWindow(AsHwnd(dialog_), SW_HIDE);
}

int Win32CaptureView::RunVersionDialog(const std::function<void(IVersionDialogView&)>& init) {
    if (!dialog_ || version_) return -1;
    // The view over the modal window exists from WM_INITDIALOG until the
    // modal loop returns; the logic fills the texts from there.
    struct Running {
        Win32CaptureView& owner;
        std::unique_ptr<Win32VersionView> view;
        const std::function<void(IVersionDialogView&)>& init;
        ~Running() { owner.version_ = nullptr; }
    } running{*this, nullptr, init};

    struct Proc {
        static INT_PTR CALLBACK Run(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
            if (message == WM_INITDIALOG) {
                auto* r = reinterpret_cast<Running*>(lParam);
                r->view = std::make_unique<Win32VersionView>(window);
                r->owner.version_ = r->view.get();
                if (r->init) r->init(*r->view);
                if (r->owner.autoCloseVersion_) PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                return TRUE;
            }
            if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
                ::EndDialog(window, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        }
    };
    const INT_PTR result = DialogBoxParamW(static_cast<HINSTANCE>(ResourceModule()), MAKEINTRESOURCEW(IDD_VERSION),
                                           AsHwnd(dialog_), &Proc::Run, reinterpret_cast<LPARAM>(&running));
    if (running.view) running.view->Detach();
    return static_cast<int>(result);
}

IVersionDialogView* Win32CaptureView::VersionDialog() { return version_; }

std::vector<WindowHandle> Win32CaptureView::OwnedWindowsWithText(const std::string& text) const {
    // (A named CALLBACK function: a lambda would have the wrong calling convention on 32-bit Windows.)
    struct Search {
        HWND parent;
        std::wstring text;
        std::vector<WindowHandle> found;
        static BOOL CALLBACK Visit(HWND window, LPARAM lParam) {
            auto* s = reinterpret_cast<Search*>(lParam);
            if (GetParent(window) != s->parent) return TRUE;
            wchar_t buffer[260] = {};
            const int length = GetWindowTextW(window, buffer, 260);
            if (std::wstring(buffer, length > 0 ? static_cast<std::size_t>(length) : 0).find(s->text) !=
                std::wstring::npos)
                s->found.push_back(window);
            return TRUE;  // the search always goes on
        }
    } search{AsHwnd(dialog_), Utf8ToWide(text), {}};
    if (!search.parent) return {};
    EnumWindows(&Search::Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void Win32CaptureView::CloseWindow(WindowHandle window) {
    if (window) SendMessageW(AsHwnd(window), WM_CLOSE, 0, 0);
}

bool Win32CaptureView::DrawItem(const DRAWITEMSTRUCT& item) {
    const int id = static_cast<int>(item.CtlID);
    if (id != IDC_SETTINGS && id != IDC_CAPTURE) return false;
    const ViewRect whole{item.rcItem.left, item.rcItem.top, item.rcItem.right, item.rcItem.bottom};
    const ButtonDrawPlan plan = PlanButtonDrawing(id, whole, (item.itemState & ODS_FOCUS) != 0,
                                                  (item.itemState & ODS_SELECTED) != 0);
    auto toRect = [](const ViewRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; };
    HDC dc = item.hDC;
    SetBkMode(dc, TRANSPARENT);
    if (plan.focusFrame) {
        RECT r = item.rcItem;
        FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    }
    RECT face = toRect(plan.face);
    FillRect(dc, &face, GetSysColorBrush(COLOR_BTNFACE));
    if (plan.shadowFrame) FrameRect(dc, &face, GetSysColorBrush(COLOR_BTNSHADOW));
    else DrawFrameControl(dc, &face, DFC_BUTTON, DFCS_BUTTONPUSH);
    if (plan.focusRect) {
        RECT focus = toRect(plan.focus);
        DrawFocusRect(dc, &focus);
    }
    HICON icon = plan.iconId == IDI_SETTINGS  ? icons_->settings.get()
                 : plan.iconId == IDI_CAPTURE ? icons_->capture.get()
                                              : nullptr;
    if (icon)
        DrawIconEx(dc, item.rcItem.left + plan.iconX, item.rcItem.top + plan.iconY, icon, kButtonIconSize,
                   kButtonIconSize, 0, nullptr, DI_NORMAL);
    return true;
}

}  // namespace kiv
