// The pieces the dialog tests stand on, checked against a window of the test
// itself: the message loop hands window messages through the source and still
// dispatches them, and a screen picture shows what a window painted, where it
// is on the screen.
#include <gtest/gtest.h>

#include <windows.h>

#include "kivds/protocol/Twain.h"
#include "support/FileBytes.h"
#include "support/ScopedEnv.h"
#include "wine/camera/TestCameraHost.h"
#include "wine/dialog/ScreenShot.h"
#include "wine/dialog/TwainApp.h"
#include "wine/dialog/Win32Probe.h"

using namespace twain;
using namespace kivtest;

namespace {

constexpr COLORREF kPaint = RGB(201, 38, 117);
int g_appMessages = 0;

LRESULT CALLBACK SwatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        ++g_appMessages;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

struct WindowCloser {
    void operator()(HWND window) const { DestroyWindow(window); }
};

}  // namespace

TEST(Harness, MessagesPassTheSourceAndScreenPicturesShowTheWindow) {
    ScopedEnv ui("KIVDS_UI", "win32");
    ScopedEnv cameraKind("KIVDS_CAMERA", "dshow");
    TestCameraHost camera(
        "name=KIVCAMA;path=\\\\?\\usb#vid_1a3c&pid_0b21&mi_00#6&1&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}"
        "\\global;caps=yuy2:160x120");
    ASSERT_TRUE(camera.Ready());
    TwainApp app;
    ASSERT_NE(nullptr, app.Window());
    ASSERT_TRUE(app.Host().Loaded());
    ASSERT_EQ(TWRC_SUCCESS, app.Host().OpenDS()) << app.Host().OpenFailureCondition();

    WNDCLASSW cls{};
    cls.lpfnWndProc = SwatchProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.hbrBackground = CreateSolidBrush(kPaint);
    cls.lpszClassName = L"KivHarnessSwatch";
    RegisterClassW(&cls);
    std::unique_ptr<std::remove_pointer_t<HWND>, WindowCloser> swatch(
        CreateWindowExW(WS_EX_TOPMOST, cls.lpszClassName, L"swatch", WS_POPUP | WS_VISIBLE, 120, 90, 200, 100,
                        app.Window(), nullptr, GetModuleHandleW(nullptr), nullptr));
    ASSERT_TRUE(swatch);

    // A message of the application's own goes through MSG_PROCESSEVENT, is
    // not the source's, and reaches its window.
    g_appMessages = 0;
    PostMessageW(swatch.get(), WM_APP, 0, 0);
    EXPECT_TRUE(app.PumpUntil([] { return g_appMessages == 1; }));
    EXPECT_TRUE(app.Received().empty());
    app.PumpFor(std::chrono::milliseconds(300));

    const RECT area = ScreenRect(swatch.get());
    ASSERT_EQ(120, area.left);
    const ScreenShot shot = ScreenShot::Take(RECT{100, 80, 340, 200});
    ASSERT_FALSE(shot.Empty());
    // The artefact is a bottom-up 24-bit BMP of the picture: rows padded to
    // four bytes, the swatch's colour in blue-green-red order.
    const std::string path = SaveArtifact(shot, "harness-swatch");
    ASSERT_FALSE(path.empty());
    const std::vector<std::uint8_t> file = ReadBytes(path);
    const std::size_t stride = (240 * 3 + 3) / 4 * 4;
    ASSERT_EQ(54 + stride * 120, file.size());
    EXPECT_EQ('B', file[0]);
    EXPECT_EQ('M', file[1]);
    EXPECT_EQ(240, file[18] | file[19] << 8);
    EXPECT_EQ(120, file[22] | file[23] << 8);
    EXPECT_EQ(24, file[28]);
    // Screen (220, 140) is picture (120, 60), file row 120 - 1 - 60.
    const std::uint8_t* px = &file[54 + (120 - 1 - 60) * stride + 120 * 3];
    EXPECT_EQ(GetBValue(kPaint), px[0]);
    EXPECT_EQ(GetGValue(kPaint), px[1]);
    EXPECT_EQ(GetRValue(kPaint), px[2]);
    // Screen (110, 85) is picture (10, 5): not the swatch.
    const std::uint8_t* corner = &file[54 + (120 - 1 - 5) * stride + 10 * 3];
    EXPECT_FALSE(corner[0] == GetBValue(kPaint) && corner[1] == GetGValue(kPaint) && corner[2] == GetRValue(kPaint));
    const ScreenPixel inside = shot.AtScreen(220, 140);
    EXPECT_EQ(GetRValue(kPaint), inside.r);
    EXPECT_EQ(GetGValue(kPaint), inside.g);
    EXPECT_EQ(GetBValue(kPaint), inside.b);
    // Just outside the swatch the picture shows something else.
    const ScreenPixel outside = shot.AtScreen(110, 85);
    EXPECT_FALSE(outside.r == GetRValue(kPaint) && outside.g == GetGValue(kPaint) && outside.b == GetBValue(kPaint));
    swatch.reset();
    DeleteObject(cls.hbrBackground);
    EXPECT_EQ(TWRC_SUCCESS, app.Host().CloseDS());
}
