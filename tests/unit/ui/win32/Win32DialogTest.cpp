// The Win32 capture dialog over a real window from template 2000: the
// session as the TWAIN manager drives it, the view's controls, the version
// dialog, the owner-drawn buttons and the window bridge. The test thread is
// the application's thread and pumps the messages itself.
#include <gtest/gtest.h>

#include "kivds/camera/IKIVSVCClient.h"
#include "kivds/camera/KIVUVCControl.h"
#include "kivds/protocol/SourceNotifier.h"
#include "kivds/ui/KIVDlg.h"
#include "kivds/ui/DialogControls.h"
#include "kivds/ui/win32/Win32Bridge.h"
#include "kivds/ui/win32/Win32CaptureView.h"
#include "kivds/ui/win32/Win32Dialog.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedCamera.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kiv {
namespace {

class NoService final : public IKIVSVCClient {
public:
    bool HasInstance() const override { return false; }
    void RegistryDeleteNodeInterfacesKey() override {}
    void CreateNodeInterfacesKeyForKIVVIEW() override {}
};

// The manager's side: what the dialog notified, and what the application
// does from its callback.
class Manager final : public ISourceNotifier {
public:
    int Notify(twain::TW_UINT16 message, void* data) override {
        messages.push_back(message);
        if (message == twain::MSG_XFERREADY && data) {
            const auto* r = static_cast<const std::int32_t*>(data);
            frame.assign(r, r + 4);
        }
        if (onNotify) onNotify(message);
        return 1;
    }
    int Count(twain::TW_UINT16 message) const {
        int n = 0;
        for (auto m : messages) n += m == message ? 1 : 0;
        return n;
    }
    std::vector<twain::TW_UINT16> messages;
    std::vector<std::int32_t> frame;
    std::function<void(twain::TW_UINT16)> onNotify;
};

CUVCMediaFormat Mjpeg(int w, int h, int isDefault = 0) {
    return CUVCMediaFormat(MediaSubtypeMJPG, UVCFMT_MJPEG, CResolution(w, h, isDefault));
}
CUVCMediaFormat Yuy2(int w, int h, int isDefault = 0) {
    return CUVCMediaFormat(MediaSubtypeYUY2, UVCFMT_YUY2, CResolution(w, h, isDefault));
}

// Dispatches the thread's messages until `done` holds; false after `limitMs`.
bool PumpUntil(const std::function<bool()>& done, DWORD limitMs = 15000) {
    const DWORD end = GetTickCount() + limitMs;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) return true;
        if (static_cast<LONG>(end - GetTickCount()) <= 0) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

void PumpPending() {
    PumpUntil([] { return false; }, 100);
}

std::wstring WindowText(HWND window) {
    wchar_t buffer[512] = {};
    const int n = GetWindowTextW(window, buffer, 512);
    return std::wstring(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

std::wstring ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

std::vector<std::wstring> ListTexts(HWND dialog, int id) {
    HWND list = GetDlgItem(dialog, id);
    std::vector<std::wstring> texts;
    const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t buffer[64] = {};
        SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
        texts.emplace_back(buffer);
    }
    return texts;
}

// A control's window rectangle in its dialog's client coordinates.
RECT ClientRectOf(HWND dialog, int id) {
    RECT r{};
    GetWindowRect(GetDlgItem(dialog, id), &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

RECT TemplatePixels(HWND dialog, int x, int y, int w, int h) {
    RECT r{x, y, x + w, y + h};
    MapDialogRect(dialog, &r);
    return r;
}

class Win32DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        CKIVUVCControl::DestroyInstance();
        CKIVUVCControl::SetCameraFactory(
            [this]() -> std::unique_ptr<IKIVCameraControl> { return std::make_unique<ScriptedCamera>(camera); });
        SetServiceClientFactory([]() -> std::unique_ptr<IKIVSVCClient> { return std::make_unique<NoService>(); });
        SetActiveNotifier(&manager);
        camera.formats = {Yuy2(320, 240), Mjpeg(1280, 720), Mjpeg(640, 480, 1), Yuy2(640, 480), Mjpeg(320, 240)};
        camera.current = Mjpeg(640, 480, 1);
    }
    void TearDown() override {
        if (session) {
            session->DestroyWindow();
            session.reset();
        }
        PumpPending();
        SetActiveNotifier(nullptr);
        SetServiceClientFactory({});
        CKIVUVCControl::DestroyInstance();
        CKIVUVCControl::SetCameraFactory({});
    }

    // Creates and shows the dialog; with `firstFrame` the camera's first
    // frame arrives through the bridge, as the camera announces it.
    HWND Start(bool firstFrame = true) {
        session = MakeWin32DialogSession();
        if (!session || !session->Create(nullptr)) return nullptr;
        session->Show();
        HWND dialog = static_cast<HWND>(session->Window());
        if (firstFrame) {
            WindowBridge().SendFrameArrived(dialog);
            PumpUntil([&] { return IsWindowEnabled(GetDlgItem(dialog, IDC_CAPTURE)) != FALSE; });
        }
        return dialog;
    }

    kivtest::ScopedEnv ui_{"KIVDS_UI", "win32"};
    kivtest::ScopedEnv english_{"LC_ALL", "en_US.UTF-8"};
    CameraScript camera;
    Manager manager;
    std::unique_ptr<IDialogSession> session;
};

TEST_F(Win32DialogTest, HeadlessRequestMakesNoWin32Session) {
    kivtest::ScopedEnv headless("KIVDS_UI", "headless");
    EXPECT_EQ(nullptr, MakeWin32DialogSession());
}

TEST_F(Win32DialogTest, TemplateControlsSitWhereTheTemplateSaysAndThePreviewGetsFiveToFour) {
    HWND dialog = Start(false);
    ASSERT_NE(nullptr, dialog);
    const RECT preview = TemplatePixels(dialog, 14, 12, 270, 216);
    const LONG pw = preview.right - preview.left, ph = preview.bottom - preview.top;
    const LONG delta = (pw / 5) * 4 - ph;

    for (const ControlRule& rule : kCaptureControls) {
        SCOPED_TRACE(rule.id);
        HWND control = GetDlgItem(dialog, rule.id);
        ASSERT_NE(nullptr, control);
        const RECT expected = TemplatePixels(dialog, rule.x, rule.y, rule.w, rule.h);
        const RECT actual = ClientRectOf(dialog, rule.id);
        EXPECT_EQ(expected.left, actual.left);
        EXPECT_EQ(expected.right, actual.right);
        if (rule.id == IDC_PREVIEW) {
            EXPECT_EQ(expected.top, actual.top);
            EXPECT_EQ((pw / 5) * 4, actual.bottom - actual.top) << "5:4";
        } else if (rule.id == IDC_CAPTURE) {
            EXPECT_EQ(expected.top + delta, actual.top);
            EXPECT_EQ(expected.bottom - expected.top, actual.bottom - actual.top);
        } else if (rule.kind == ControlKind::List) {
            // A closed drop-down list is as high as its edit part; the
            // template's height is that of the open list.
            EXPECT_EQ(expected.top, actual.top);
        } else {
            EXPECT_EQ(expected.top, actual.top);
            EXPECT_EQ(expected.bottom, actual.bottom);
        }
    }
    RECT client{};
    GetClientRect(dialog, &client);
    const RECT whole = TemplatePixels(dialog, 0, 0, kCaptureDialogWidth, kCaptureDialogHeight);
    EXPECT_EQ(whole.bottom + delta, client.bottom) << "the dialog grows or shrinks with the preview";
    EXPECT_EQ(whole.right, client.right);
}

TEST_F(Win32DialogTest, TemplateStylesAndHiddenUntilShown) {
    session = MakeWin32DialogSession();
    ASSERT_NE(nullptr, session);
    ASSERT_TRUE(session->Create(nullptr));
    HWND dialog = static_cast<HWND>(session->Window());
    EXPECT_FALSE(IsWindowVisible(dialog)) << "the manager shows it";
    const LONG style = GetWindowLongW(dialog, GWL_STYLE);
    EXPECT_EQ(static_cast<LONG>(WS_CAPTION | WS_SYSMENU | WS_POPUP), style & (WS_CAPTION | WS_SYSMENU | WS_POPUP));
    auto styleOf = [&](int id) { return GetWindowLongW(GetDlgItem(dialog, id), GWL_STYLE); };
    EXPECT_EQ(CBS_SORT, styleOf(IDC_FORMAT_LIST) & CBS_SORT);
    EXPECT_EQ(0, styleOf(IDC_SIZE_LIST) & CBS_SORT);
    EXPECT_EQ(CBS_DROPDOWNLIST, styleOf(IDC_SIZE_LIST) & 3);
    EXPECT_EQ(BS_OWNERDRAW, styleOf(IDC_SETTINGS) & BS_TYPEMASK);
    EXPECT_EQ(BS_OWNERDRAW, styleOf(IDC_CAPTURE) & BS_TYPEMASK);
    EXPECT_EQ(SS_BITMAP, styleOf(IDC_PREVIEW) & SS_TYPEMASK);
    EXPECT_EQ(L"TWAIN Driver for Orvan Document Camera", WindowText(dialog));
    session->Show();
    EXPECT_TRUE(IsWindowVisible(dialog));
}

TEST_F(Win32DialogTest, FormatListIsSortedWithItsDataAndTheSizesFollowTheCurrentFormat) {
    HWND dialog = Start(false);
    ASSERT_NE(nullptr, dialog);
    // YUY2 came first from the camera; the sorted list puts MJPEG first and
    // the data travels with each entry.
    EXPECT_EQ((std::vector<std::wstring>{L"MJPEG", L"YUY2"}), ListTexts(dialog, IDC_FORMAT_LIST));
    HWND formats = GetDlgItem(dialog, IDC_FORMAT_LIST);
    EXPECT_EQ(UVCFMT_MJPEG, SendMessageW(formats, CB_GETITEMDATA, 0, 0));
    EXPECT_EQ(UVCFMT_YUY2, SendMessageW(formats, CB_GETITEMDATA, 1, 0));
    EXPECT_EQ(0, SendMessageW(formats, CB_GETCURSEL, 0, 0));
    EXPECT_EQ((std::vector<std::wstring>{L"320 x 240", L"640 x 480", L"1280 x 720"}), ListTexts(dialog, IDC_SIZE_LIST));
    EXPECT_EQ(1, SendMessageW(GetDlgItem(dialog, IDC_SIZE_LIST), CB_GETCURSEL, 0, 0)) << "the default size";
    EXPECT_EQ(L"Video Format:", ItemText(dialog, IDC_FORMAT_LABEL));
    EXPECT_EQ(L"Size:", ItemText(dialog, IDC_SIZE_LABEL));
}

TEST_F(Win32DialogTest, ViewListsReadAsTheLogicExpects) {
    HWND dialog = Start(false);
    ASSERT_NE(nullptr, dialog);
    Win32CaptureView view;
    view.Attach(dialog);
    // The view's answers for the lists the logic filled.
    EXPECT_EQ(2, view.ListCount(IDC_FORMAT_LIST));
    EXPECT_EQ(UVCFMT_YUY2, view.ListData(IDC_FORMAT_LIST, 1));
    EXPECT_EQ(-1, view.ListData(IDC_FORMAT_LIST, 2)) << "beyond the list";
    EXPECT_EQ(-1, view.ListData(IDC_FORMAT_LIST, -1));
    // A sorted list answers with the place it inserted at.
    EXPECT_EQ(1, view.ListAdd(IDC_FORMAT_LIST, "NV12", 7));
    EXPECT_EQ(7, view.ListData(IDC_FORMAT_LIST, 1));
    EXPECT_EQ(3, view.ListAdd(IDC_SIZE_LIST, "100 x 100", 9)) << "an unsorted list appends";
    view.ListSelect(IDC_SIZE_LIST, -1);
    EXPECT_EQ(-1, view.ListSelection(IDC_SIZE_LIST));
    EXPECT_EQ(nullptr, view.ControlWindow(4711));
    EXPECT_EQ(0, view.ListCount(4711));
    EXPECT_EQ(-1, view.ListAdd(4711, "x", 1));
}

TEST_F(Win32DialogTest, ControlsAreOffUntilTheFirstFrameAndDuringACapture) {
    HWND dialog = Start(false);
    ASSERT_NE(nullptr, dialog);
    for (int id : kBusyControls) EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, id))) << id;
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_PREVIEW)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_FORMAT_LABEL)));

    // The camera's first frame arrives as a posted message.
    WindowBridge().SendFrameArrived(dialog);
    ASSERT_TRUE(PumpUntil([&] { return IsWindowEnabled(GetDlgItem(dialog, IDC_CAPTURE)) != FALSE; }));
    for (int id : kBusyControls) EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, id))) << id;

    // The capture button: one MSG_XFERREADY with the chosen size, controls off.
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CAPTURE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_CAPTURE)));
    EXPECT_EQ(1, manager.Count(twain::MSG_XFERREADY));
    EXPECT_EQ((std::vector<std::int32_t>{0, 0, 640, 480}), manager.frame);
    for (int id : kBusyControls) EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, id))) << id;
    // A late duplicate of the first-frame message does not switch them on.
    WindowBridge().SendFrameArrived(dialog);
    PumpPending();
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_CAPTURE)));

    session->SendXferDone();
    for (int id : kBusyControls) EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, id))) << id;
}

TEST_F(Win32DialogTest, SystemMenuEndsWithSeparatorAndVersionItem) {
    HWND dialog = Start();
    ASSERT_NE(nullptr, dialog);
    HMENU menu = GetSystemMenu(dialog, FALSE);
    ASSERT_NE(nullptr, menu);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    MENUITEMINFOW separator{};
    separator.cbSize = sizeof(separator);
    separator.fMask = MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfoW(menu, static_cast<UINT>(count - 2), TRUE, &separator));
    EXPECT_NE(0u, separator.fType & MFT_SEPARATOR);
    EXPECT_EQ(IDM_VERSIONINFO, GetMenuItemID(menu, count - 1));
    wchar_t text[64] = {};
    GetMenuStringW(menu, static_cast<UINT>(count - 1), text, 64, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(L"Version information..."), text);
}

// Runs `inside` once the modal version dialog owned by `owner` is up (from
// a timer of the modal loop), while `open` opens it.
struct VersionProbe {
    HWND owner = nullptr;
    HWND version = nullptr;
    std::function<void(HWND)> inside;
    static VersionProbe*& Current() {
        static VersionProbe* probe = nullptr;
        return probe;
    }
    // The visible window of this thread that `owner` owns. (Not
    // GetLastActivePopup: it follows activation, which a loaded virtual
    // display may never hand to the new dialog, and the probe then never
    // fired.)
    static HWND OwnedPopup(HWND owner) {
        struct Search {
            HWND owner;
            HWND found;
        } search{owner, nullptr};
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND window, LPARAM param) -> BOOL {
                auto* s = reinterpret_cast<Search*>(param);
                if (GetWindow(window, GW_OWNER) != s->owner || !IsWindowVisible(window)) return TRUE;
                s->found = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD) {
        VersionProbe* p = Current();
        if (!p || p->version) return;
        HWND popup = OwnedPopup(p->owner);
        if (!popup) return;
        KillTimer(nullptr, id);
        p->version = popup;
        p->inside(popup);
    }
    void Run(const std::function<void()>& open) {
        Current() = this;
        const UINT_PTR timer = SetTimer(nullptr, 0, 30, &Tick);
        open();
        KillTimer(nullptr, timer);
        Current() = nullptr;
    }
};

TEST_F(Win32DialogTest, VersionDialogShowsItsTextsOverTheCaptureDialog) {
    HWND dialog = Start();
    ASSERT_NE(nullptr, dialog);
    std::wstring title, product, number, copyright, licence, ok;
    LONG licenceStyle = 0;
    HWND owner = nullptr;
    LRESULT icon = 0;
    VersionProbe probe;
    probe.owner = dialog;
    probe.inside = [&](HWND version) {
        title = WindowText(version);
        product = ItemText(version, IDC_VERSION_PRODUCT);
        number = ItemText(version, IDC_VERSION_NUMBER);
        copyright = ItemText(version, IDC_VERSION_COPYRIGHT);
        licence = ItemText(version, IDC_VERSION_LICENSE);
        ok = ItemText(version, IDOK);
        licenceStyle = GetWindowLongW(GetDlgItem(version, IDC_VERSION_LICENSE), GWL_STYLE);
        icon = SendDlgItemMessageW(version, IDC_VERSION_ICON, STM_GETICON, 0, 0);
        owner = GetWindow(version, GW_OWNER);
        PostMessageW(version, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    };
    probe.Run([&] { SendMessageW(dialog, WM_SYSCOMMAND, IDM_VERSIONINFO, 0); });
    ASSERT_NE(nullptr, probe.version) << "no version dialog came up";
    EXPECT_EQ(L"Version information", title);
    EXPECT_EQ(L"TWAIN Driver for Orvan Document Camera", product);
    EXPECT_EQ(L"2.00.0006", number);
    EXPECT_EQ(L"Copyright (C) Orvan. All rights reserved.", copyright);
    EXPECT_FALSE(licence.empty());
    EXPECT_EQ(L"OK", ok);
    EXPECT_NE(0, licenceStyle & ES_READONLY);
    EXPECT_NE(0, licenceStyle & ES_MULTILINE);
    EXPECT_NE(0, icon) << "the application icon in the icon static";
    EXPECT_EQ(dialog, owner);
    EXPECT_FALSE(IsWindow(probe.version)) << "ended with OK";
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(0, manager.Count(twain::MSG_CLOSEDSREQ));
}

TEST_F(Win32DialogTest, ClosingWhileTheVersionDialogIsOpenEndsBothAndOnlyHides) {
    HWND dialog = Start();
    ASSERT_NE(nullptr, dialog);
    VersionProbe probe;
    probe.owner = dialog;
    probe.inside = [&](HWND) { SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); };
    probe.Run([&] { SendMessageW(dialog, WM_SYSCOMMAND, IDM_VERSIONINFO, 0); });
    ASSERT_NE(nullptr, probe.version);
    EXPECT_FALSE(IsWindow(probe.version));
    EXPECT_EQ(1, manager.Count(twain::MSG_CLOSEDSREQ));
    EXPECT_EQ(1, camera.stops);
    // A modeless dialog ends by hiding: the window stays for the manager.
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_FALSE(IsWindowVisible(dialog));
}

TEST_F(Win32DialogTest, CloseBoxReachesTheCancelHandling) {
    HWND dialog = Start();
    ASSERT_NE(nullptr, dialog);
    SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(PumpUntil([&] { return manager.Count(twain::MSG_CLOSEDSREQ) > 0; }));
    EXPECT_EQ(1, manager.Count(twain::MSG_CLOSEDSREQ));
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_FALSE(IsWindowVisible(dialog));
}

TEST_F(Win32DialogTest, ApplicationThatDisablesFromTheCloseRequestEndsTheSessionInsideTheHandler) {
    HWND dialog = Start();
    ASSERT_NE(nullptr, dialog);
    // As the manager does on MSG_DISABLEDS from the application's callback:
    // DestroyWindow, then the session goes, while OnCancel is on the stack.
    manager.onNotify = [&](twain::TW_UINT16 message) {
        if (message != twain::MSG_CLOSEDSREQ || !session) return;
        session->DestroyWindow();
        session.reset();
    };
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ(nullptr, session);
    EXPECT_FALSE(IsWindow(dialog));
    // Whatever the camera still sends finds no window.
    WindowBridge().SendFrameArrived(dialog);
    WindowBridge().PostGraphNotify(dialog);
    PumpPending();
    EXPECT_EQ(1, manager.Count(twain::MSG_CLOSEDSREQ));
}

TEST_F(Win32DialogTest, EscapeThroughPreTranslateMessageReachesTheCancelHandling) {
    HWND dialog = Start();
    ASSERT_NE(nullptr, dialog);
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    MSG foreign{other, WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
    EXPECT_FALSE(session->PreTranslateMessage(&foreign)) << "not the dialog's message";
    EXPECT_FALSE(session->PreTranslateMessage(nullptr));
    DestroyWindow(other);
    EXPECT_EQ(0, manager.Count(twain::MSG_CLOSEDSREQ));

    // Enter has no default button to press: the dialog stays (it must not
    // end itself without telling the manager).
    MSG enter{dialog, WM_KEYDOWN, VK_RETURN, 0, 0, {}};
    EXPECT_TRUE(session->PreTranslateMessage(&enter));
    PumpPending();
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_TRUE(manager.messages.empty());

    // The application disables from its callback: the session ends inside.
    manager.onNotify = [&](twain::TW_UINT16 message) {
        if (message != twain::MSG_CLOSEDSREQ || !session) return;
        session->DestroyWindow();
        session.reset();
    };
    MSG escape{GetDlgItem(dialog, IDC_FORMAT_LIST), WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
    IDialogSession* raw = session.get();
    EXPECT_TRUE(raw->PreTranslateMessage(&escape));
    PumpPending();
    EXPECT_EQ(1, manager.Count(twain::MSG_CLOSEDSREQ));
    EXPECT_FALSE(IsWindow(dialog));
}

TEST_F(Win32DialogTest, FailedStartLeavesNoWindow) {
    camera.failRun = true;
    session = MakeWin32DialogSession();
    ASSERT_NE(nullptr, session);
    EXPECT_FALSE(session->Create(nullptr));
    EXPECT_EQ(nullptr, session->Window());
    EXPECT_EQ(0, manager.Count(twain::MSG_CLOSEDSREQ)) << "no close request without a camera";
    // Nothing of the dialog is left on this thread.
    int dialogs = 0;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM count) -> BOOL {
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            if (std::wstring(name) == L"#32770") ++*reinterpret_cast<int*>(count);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&dialogs));
    EXPECT_EQ(0, dialogs);
}

TEST_F(Win32DialogTest, ScriptDrivesTheShownDialogFromTheApplicationsLoop) {
    kivtest::ScopedEnv script("KIVDS_UI_SCRIPT", "frame;size=1280x720;frame;capture");
    HWND dialog = Start(false);
    ASSERT_NE(nullptr, dialog);
    PumpPending();
    EXPECT_EQ(0, manager.Count(twain::MSG_XFERREADY)) << "waits for the first frame";
    // The camera keeps announcing frames; the logic takes the armed ones.
    ASSERT_TRUE(PumpUntil([&] {
        WindowBridge().SendFrameArrived(dialog);
        return manager.Count(twain::MSG_XFERREADY) > 0;
    }));
    EXPECT_EQ((std::vector<std::int32_t>{0, 0, 1280, 720}), manager.frame);
    EXPECT_EQ(L"1280 x 720", WindowText(GetDlgItem(dialog, IDC_SIZE_LIST)));
}

TEST_F(Win32DialogTest, ScriptedVersionDialogClosesItselfAndTheCloseStepEndsTheDialog) {
    kivtest::ScopedEnv script("KIVDS_UI_SCRIPT", "frame;version;close");
    HWND dialog = Start();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(PumpUntil([&] { return manager.Count(twain::MSG_CLOSEDSREQ) > 0; }));
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_EQ(nullptr, FindWindowW(nullptr, L"Version information"));
}

// Owner drawing into a bitmap of our own.
struct Canvas {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    Canvas(int w, int h) : dc(CreateCompatibleDC(nullptr)) {
        HDC screen = GetDC(nullptr);
        bitmap = CreateCompatibleBitmap(screen, w, h);
        ReleaseDC(nullptr, screen);
        old = SelectObject(dc, bitmap);
        RECT all{0, 0, w, h};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    ~Canvas() {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    COLORREF At(int x, int y) const { return GetPixel(dc, x, y); }
};

LRESULT DrawButton(HWND dialog, int id, Canvas& canvas, int w, int h, UINT state) {
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = static_cast<UINT>(id);
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = state;
    item.hwndItem = GetDlgItem(dialog, id);
    item.hDC = canvas.dc;
    item.rcItem = RECT{0, 0, w, h};
    return SendMessageW(dialog, WM_DRAWITEM, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&item));
}

TEST_F(Win32DialogTest, OwnerDrawnButtonsPaintFrameFaceAndIcon) {
    HWND dialog = Start();
    ASSERT_NE(nullptr, dialog);
    constexpr int w = 120, h = 70;
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);

    Canvas pressed(w, h);
    DrawButton(dialog, IDC_CAPTURE, pressed, w, h, ODS_SELECTED | ODS_FOCUS);
    EXPECT_EQ(RGB(0, 0, 0), pressed.At(0, 0)) << "focus frame";
    EXPECT_EQ(RGB(0, 0, 0), pressed.At(w - 1, h / 2));
    EXPECT_EQ(shadow, pressed.At(1, 1)) << "pressed: shadow frame inside the focus frame";
    EXPECT_EQ(shadow, pressed.At(w - 2, h - 2));
    EXPECT_EQ(face, pressed.At(3, h / 2)) << "face between frame and focus rectangle";
    // The icon: something other than the face in its 48 x 48 square, placed
    // one pixel down and right when pressed, and nothing outside it.
    const int x0 = 1 + (w - 48) / 2, y0 = 1 + (h - 48) / 2;
    int drawn = 0;
    for (int y = y0; y < y0 + 48; ++y)
        for (int x = x0; x < x0 + 48; ++x) drawn += pressed.At(x, y) != face ? 1 : 0;
    EXPECT_GT(drawn, 0);
    EXPECT_EQ(face, pressed.At(x0 - 2, y0 + 24));
    EXPECT_EQ(face, pressed.At(x0 + 24, y0 - 2));

    Canvas plain(w, h);
    DrawButton(dialog, IDC_SETTINGS, plain, w, h, 0);
    EXPECT_NE(RGB(0, 0, 0), plain.At(0, 0)) << "no focus, no black frame";
    EXPECT_NE(shadow, plain.At(0, 0)) << "a push-button frame, not the pressed one";
    EXPECT_EQ(face, plain.At(w / 2, 4));

    Canvas other(w, h);
    EXPECT_EQ(0, DrawButton(dialog, IDC_FORMAT_LIST, other, w, h, 0)) << "not an owner-drawn button of ours";
    EXPECT_EQ(RGB(255, 255, 255), other.At(w / 2, h / 2));
}

// --------------------------------------------------------------- the bridge

PreviewPicture SolidPicture(int left, int top, int w, int h, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    PreviewPicture p;
    p.left = left;
    p.top = top;
    p.width = w;
    p.height = h;
    p.stride = (w * 3 + 3) / 4 * 4;
    p.pixels.assign(static_cast<std::size_t>(p.stride) * static_cast<std::size_t>(h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* px = &p.pixels[static_cast<std::size_t>(y * p.stride + x * 3)];
            px[0] = b;
            px[1] = g;
            px[2] = r;
        }
    return p;
}

class Win32BridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE | SS_BITMAP, 10, 10, 100, 80, nullptr,
                                 nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, window);
        original = GetWindowLongPtrW(window, GWLP_WNDPROC);
    }
    void TearDown() override {
        Win32Bridge::Instance().DetachPreview(window);
        if (IsWindow(window)) DestroyWindow(window);
    }
    HWND window = nullptr;
    LONG_PTR original = 0;
};

TEST_F(Win32BridgeTest, ClientSizeIsTheWindowsClientArea) {
    int w = 0, h = 0;
    ASSERT_TRUE(Win32Bridge::Instance().GetClientSize(window, w, h));
    RECT r{};
    GetClientRect(window, &r);
    EXPECT_EQ(r.right, w);
    EXPECT_EQ(r.bottom, h);
    EXPECT_FALSE(Win32Bridge::Instance().GetClientSize(nullptr, w, h));
}

TEST_F(Win32BridgeTest, PicturesReachOnlyAttachedPreviewsAndOnlyWellFormedOnes) {
    Win32Bridge& bridge = Win32Bridge::Instance();
    bridge.PresentPreview(window, std::make_shared<PreviewPicture>(SolidPicture(0, 0, 10, 10, 0, 0, 255)));
    EXPECT_EQ(nullptr, bridge.Latest(window)) << "not attached";

    bridge.AttachPreview(window);
    EXPECT_NE(original, GetWindowLongPtrW(window, GWLP_WNDPROC));
    PreviewPicture crooked = SolidPicture(0, 0, 10, 10, 0, 0, 255);
    crooked.stride = 31;  // not a multiple of 4
    bridge.PresentPreview(window, std::make_shared<PreviewPicture>(crooked));
    EXPECT_EQ(nullptr, bridge.Latest(window));
    PreviewPicture shortRows = SolidPicture(0, 0, 10, 10, 0, 0, 255);
    shortRows.pixels.resize(shortRows.pixels.size() - 1);
    bridge.PresentPreview(window, std::make_shared<PreviewPicture>(shortRows));
    EXPECT_EQ(nullptr, bridge.Latest(window));

    auto first = std::make_shared<PreviewPicture>(SolidPicture(0, 0, 10, 10, 0, 0, 255));
    auto second = std::make_shared<PreviewPicture>(SolidPicture(0, 0, 10, 10, 0, 255, 0));
    bridge.PresentPreview(window, first);
    bridge.PresentPreview(window, second);
    EXPECT_EQ(second, bridge.Latest(window)) << "the newest picture replaces one not painted";

    bridge.DetachPreview(window);
    EXPECT_EQ(original, GetWindowLongPtrW(window, GWLP_WNDPROC)) << "its own procedure back";
    EXPECT_EQ(nullptr, bridge.Latest(window));
}

TEST_F(Win32BridgeTest, PreviewPaintsThePictureAtItsPlaceAndBlackAround) {
    Win32Bridge& bridge = Win32Bridge::Instance();
    bridge.AttachPreview(window);
    bridge.PresentPreview(window, std::make_shared<PreviewPicture>(SolidPicture(20, 10, 40, 30, 0, 0, 255)));
    // Painted into a bitmap through the control's own WM_PAINT handling.
    RECT client{};
    GetClientRect(window, &client);
    Canvas canvas(client.right, client.bottom);
    PumpPending();
    HDC screen = GetDC(window);
    BitBlt(canvas.dc, 0, 0, client.right, client.bottom, screen, 0, 0, SRCCOPY);
    ReleaseDC(window, screen);
    EXPECT_EQ(RGB(255, 0, 0), canvas.At(20, 10));
    EXPECT_EQ(RGB(255, 0, 0), canvas.At(59, 39));
    EXPECT_EQ(RGB(0, 0, 0), canvas.At(19, 10));
    EXPECT_EQ(RGB(0, 0, 0), canvas.At(60, 39));
    EXPECT_EQ(RGB(0, 0, 0), canvas.At(5, 70));
}

TEST_F(Win32BridgeTest, DestroyedPreviewLetsGoOfItsPicture) {
    Win32Bridge& bridge = Win32Bridge::Instance();
    bridge.AttachPreview(window);
    bridge.PresentPreview(window, std::make_shared<PreviewPicture>(SolidPicture(0, 0, 4, 4, 1, 2, 3)));
    ASSERT_NE(nullptr, bridge.Latest(window));
    DestroyWindow(window);
    EXPECT_EQ(nullptr, bridge.Latest(window));
}

}  // namespace
}  // namespace kiv
