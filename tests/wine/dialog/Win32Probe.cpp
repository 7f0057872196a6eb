#include "wine/dialog/Win32Probe.h"

#include <thread>

namespace kivtest {

namespace {

// A message answered by the window's thread, or 0 when that thread does not
// answer within two seconds (a thread blocked elsewhere must not hang the test).
LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &result)) return 0;
    return static_cast<LRESULT>(result);
}

}  // namespace

std::wstring WindowText(HWND window) {
    if (!window || !IsWindow(window)) return L"";
    // WM_GETTEXT answers for windows of other threads too (GetWindowText
    // does not read the text of another thread's controls).
    const LRESULT length = Ask(window, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) return L"";
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied = Ask(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

std::wstring TitleOf(HWND window) {
    wchar_t title[512] = {};
    const int length = window ? InternalGetWindowText(window, title, 512) : 0;
    return std::wstring(title, static_cast<std::size_t>(length > 0 ? length : 0));
}

std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    if (!window || GetClassNameW(window, name, 256) == 0) return L"";
    return name;
}

namespace {

std::wstring ComboItem(HWND combo, LRESULT index) {
    const LRESULT length = Ask(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR || length < 0) return L"";
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied = Ask(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

}  // namespace

std::vector<std::wstring> ComboEntries(HWND combo) {
    std::vector<std::wstring> entries;
    if (!combo) return entries;
    const LRESULT count = Ask(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) entries.push_back(ComboItem(combo, i));
    return entries;
}

std::wstring ComboSelection(HWND combo) {
    if (!combo) return L"";
    const LRESULT index = Ask(combo, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? L"" : ComboItem(combo, index);
}

RECT ScreenRect(HWND window) {
    RECT rect{};
    if (window) GetWindowRect(window, &rect);
    return rect;
}

RECT ClientRectIn(HWND parent, HWND child) {
    RECT rect = ScreenRect(child);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

namespace {

struct Search {
    std::function<bool(HWND)> match;
    std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && search->match(window))
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> FindTopLevels(std::function<bool(HWND)> match) {
    Search search{std::move(match), {}};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

std::vector<HWND> TopLevelWindows(const std::wstring& title) {
    return FindTopLevels([&](HWND window) { return TitleOf(window) == title; });
}

HWND FindTopLevel(const std::wstring& title) {
    const std::vector<HWND> found = TopLevelWindows(title);
    return found.empty() ? nullptr : found.front();
}

HWND FindOwnedDialog(HWND owner) {
    const std::vector<HWND> found = FindTopLevels(
        [&](HWND window) { return GetWindow(window, GW_OWNER) == owner && ClassName(window) == L"#32770"; });
    return found.empty() ? nullptr : found.front();
}

std::wstring LongestStaticText(HWND window) {
    std::wstring longest;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (_wcsicmp(ClassName(child).c_str(), L"Static") != 0) continue;
        std::wstring text = WindowText(child);
        if (text.size() > longest.size()) longest = std::move(text);
    }
    return longest;
}

MenuItem LastSystemMenuItem(HWND window) {
    MenuItem item;
    HMENU menu = GetSystemMenu(window, FALSE);
    const int count = menu ? GetMenuItemCount(menu) : 0;
    if (count <= 0) return item;
    item.id = GetMenuItemID(menu, count - 1);
    wchar_t text[256] = {};
    GetMenuStringW(menu, count - 1, text, 256, MF_BYPOSITION);
    item.text = text;
    return item;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return "";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

}  // namespace kivtest
