// Reading a running Win32 dialog from the outside, as a user or an
// accessibility tool sees it: windows found by title and owner, texts, list
// entries, enabled states and rectangles. Every function may be called from
// any thread of the process; cross-thread reads go through WM_GETTEXT and
// the combo box messages, which the window's thread answers while it pumps
// (also inside a modal loop).
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace kivtest {

// The window's text ("" for a null or dead window, or one whose thread does
// not answer within two seconds).
std::wstring WindowText(HWND window);
// The text the system keeps for a window (a top-level window's title),
// read without a message to the window's thread.
std::wstring TitleOf(HWND window);
// The window class name.
std::wstring ClassName(HWND window);
// The entries of a combo box, in list order.
std::vector<std::wstring> ComboEntries(HWND combo);
// The selected entry's text ("" when nothing is selected).
std::wstring ComboSelection(HWND combo);
// The window's rectangle in screen coordinates.
RECT ScreenRect(HWND window);
// The rectangle of a child in its parent's client coordinates.
RECT ClientRectIn(HWND parent, HWND child);

// Visible top-level windows of this process whose title equals `title`.
std::vector<HWND> TopLevelWindows(const std::wstring& title);
// The first visible top-level window of this process with that title, or null.
HWND FindTopLevel(const std::wstring& title);
// The first visible top-level window of the process with class "#32770"
// (dialogs and message boxes) whose owner is `owner`, or null.
HWND FindOwnedDialog(HWND owner);
// The longest static text among a window's children (a message box's message).
std::wstring LongestStaticText(HWND window);

// The text and command id of the last item of the window's system menu.
struct MenuItem {
    UINT id = 0;
    std::wstring text;
};
MenuItem LastSystemMenuItem(HWND window);

// Polls `done` every few milliseconds on the calling thread, without pumping
// messages; true when it held before `limit`.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);

// Converts between UTF-8 (test names, environment) and UTF-16 (window texts).
std::string Narrow(const std::wstring& text);

}  // namespace kivtest
