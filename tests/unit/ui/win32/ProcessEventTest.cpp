// MSG_PROCESSEVENT with the Win32 dialog, through DS_Entry of the built
// kivds.ds and the virtual camera: the application's loop offers each window
// message to the source, and the dialog's keyboard handling (Esc here) works
// in the modeless dialog only that way.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>

#include "support/DsHost.h"

using namespace twain;
using kivtest::DsHost;
using kivtest::ScopedEnv;

namespace {

// The visible capture dialog of this thread, or null.
HWND FindCaptureDialog() {
    struct Search {
        HWND found = nullptr;
    } search;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM lParam) -> BOOL {
            wchar_t name[16] = {};
            wchar_t title[128] = {};
            GetClassNameW(window, name, 16);
            GetWindowTextW(window, title, 128);
            if (std::wstring(name) == L"#32770" && std::wstring(title) == L"TWAIN Driver for Orvan Document Camera" &&
                IsWindowVisible(window)) {
                reinterpret_cast<Search*>(lParam)->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class ProcessEventTest : public ::testing::Test {
protected:
    // Opens and enables the source with its dialog; the dialog's window.
    HWND Enable(DsHost& host) {
        if (!host.Loaded() || host.OpenDS() != TWRC_SUCCESS) return nullptr;
        if (host.EnableUi() != TWRC_SUCCESS) return nullptr;
        host.PumpEvents(std::chrono::milliseconds(300));
        return FindCaptureDialog();
    }
    TW_UINT16 Offer(DsHost& host, MSG& msg, TW_UINT16& twMessage) {
        TW_EVENT event{};
        event.pEvent = &msg;
        event.TWMessage = 0xFFFF;
        const TW_UINT16 rc = host.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
        twMessage = event.TWMessage;
        return rc;
    }

    ScopedEnv ui_{"KIVDS_UI", "win32"};
    ScopedEnv camera_{"KIVDS_CAMERA", "sim"};
    ScopedEnv english_{"LC_ALL", "en_US.UTF-8"};
};

TEST_F(ProcessEventTest, EscapeForTheDialogIsTakenAndRequestsTheClose) {
    DsHost host;
    HWND dialog = Enable(host);
    ASSERT_NE(nullptr, dialog) << "no Win32 capture dialog";

    // A message for another window is the application's.
    HWND other = CreateWindowExW(0, L"STATIC", L"app", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    MSG foreign{other, WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
    TW_UINT16 twMessage = 0;
    EXPECT_EQ(TWRC_NOTDSEVENT, Offer(host, foreign, twMessage));
    EXPECT_EQ(MSG_NULL, twMessage);
    DestroyWindow(other);
    EXPECT_EQ(0u, host.CountNotifications(MSG_CLOSEDSREQ));

    // Esc on one of the dialog's controls: the dialog takes it and closes.
    MSG escape{GetDlgItem(dialog, 2007), WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
    EXPECT_EQ(TWRC_DSEVENT, Offer(host, escape, twMessage));
    EXPECT_EQ(MSG_NULL, twMessage) << "the manager delivered the close request itself";
    EXPECT_EQ(1u, host.CountNotifications(MSG_CLOSEDSREQ));
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_FALSE(IsWindowVisible(dialog)) << "hidden until the source is disabled";

    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());
}

TEST_F(ProcessEventTest, UndeliveredCloseRequestComesBackWithTheTakenEvent) {
    DsHost::Options options;
    options.dsmAnswer = TWRC_FAILURE;  // the manager cannot pass notifications on
    DsHost host(options);
    HWND dialog = Enable(host);
    ASSERT_NE(nullptr, dialog);
    MSG escape{dialog, WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
    TW_UINT16 twMessage = 0;
    EXPECT_EQ(TWRC_DSEVENT, Offer(host, escape, twMessage));
    EXPECT_EQ(MSG_CLOSEDSREQ, twMessage);
    // Delivered once: the next offer has nothing pending.
    MSG idle{dialog, WM_NULL, 0, 0, 0, {}};
    EXPECT_NE(MSG_CLOSEDSREQ, (Offer(host, idle, twMessage), twMessage));
    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
    EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());
}

TEST_F(ProcessEventTest, ApplicationThatDisablesInsideTheEventSurvives) {
    DsHost host;
    HWND dialog = Enable(host);
    ASSERT_NE(nullptr, dialog);
    // The application answers the close request at once from its callback,
    // while the source is still inside MSG_PROCESSEVENT and the dialog's
    // handler is on the stack.
    TW_UINT16 disabled = 0xFFFF;
    host.SetNotificationCallback([&](TW_UINT16 msg) {
        if (msg == MSG_CLOSEDSREQ) disabled = host.DisableDS();
    });
    MSG escape{dialog, WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
    TW_UINT16 twMessage = 0;
    EXPECT_EQ(TWRC_DSEVENT, Offer(host, escape, twMessage));
    EXPECT_EQ(TWRC_SUCCESS, disabled);
    EXPECT_FALSE(IsWindow(dialog));
    host.SetNotificationCallback({});
    host.PumpEvents(std::chrono::milliseconds(300));  // whatever the camera still posted finds no window
    EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());
}

TEST_F(ProcessEventTest, VirtualCameraPictureReachesThePreview) {
    DsHost host;
    HWND dialog = Enable(host);
    ASSERT_NE(nullptr, dialog);
    // The first frame switches the controls on; the preview is painted.
    HWND capture = GetDlgItem(dialog, 2009);
    const DWORD end = GetTickCount() + 20000;
    while (!IsWindowEnabled(capture) && static_cast<LONG>(end - GetTickCount()) > 0)
        host.PumpEvents(std::chrono::milliseconds(100));
    ASSERT_TRUE(IsWindowEnabled(capture));
    host.PumpEvents(std::chrono::milliseconds(500));
    HWND preview = GetDlgItem(dialog, 2001);
    RECT client{};
    GetClientRect(preview, &client);
    HDC dc = GetDC(preview);
    // Letterboxed 16:9 in a 5:4 area: black bars above and below, the
    // pattern in the middle (never all black).
    const COLORREF top = GetPixel(dc, client.right / 2, 1);
    int lit = 0;
    for (int x = 0; x < client.right; x += 7) {
        const COLORREF c = GetPixel(dc, x, client.bottom / 2);
        lit += (c != CLR_INVALID && c != RGB(0, 0, 0)) ? 1 : 0;
    }
    ReleaseDC(preview, dc);
    EXPECT_EQ(RGB(0, 0, 0), top);
    EXPECT_GT(lit, 0);
    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
    EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());
}

}  // namespace
