// The FLTK view under a virtual display: the template's layout, the lists,
// the buttons (through their callbacks and through a real click), the
// version dialog's modal loop, and the preview's pictures on the screen.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Text_Display.H>
#include <FL/Fl_Widget.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "gui/GuiSupport.h"
#include "kivds/ui/DialogControls.h"
#include "support/ScopedEnv.h"
#include "kivds/ui/DialogBridge.h"
#include "kivds/ui/fltk/FltkDialog.h"
#include "kivds/ui/fltk/FltkDisplay.h"
#include "kivds/ui/fltk/FltkView.h"

namespace kiv {
namespace {

class FltkViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!FltkDisplayUsable() || !FltkAttachDisplay()) GTEST_SKIP() << "no display";
        FltkCaptureView::Actions actions;
        actions.command = [this](int id, unsigned notification) { commands.emplace_back(id, notification); };
        actions.sysCommand = [this](unsigned command) { sysCommands.push_back(command); };
        actions.pump = [this](double seconds) -> bool {
            ++pumps;
            if (duringModal) duringModal();
            Fl::wait(seconds);
            return true;
        };
        view = std::make_unique<FltkCaptureView>(std::move(actions));
    }
    void TearDown() override {
        view.reset();
        Fl::check();
    }
    Fl_Window* Window() const { return static_cast<Fl_Window*>(view->Window()); }
    // The control's rectangle relative to the dialog.
    ViewRect Local(int id) const {
        ViewRect r = view->ScreenRect(id), d = view->ScreenRect(0);
        return {r.left - d.left, r.top - d.top, r.right - d.left, r.bottom - d.top};
    }

    std::lock_guard<std::recursive_mutex> fltk_{FltkLock()};
    std::unique_ptr<FltkCaptureView> view;
    std::vector<std::pair<int, unsigned>> commands;
    std::vector<unsigned> sysCommands;
    std::function<void()> duringModal;
    int pumps = 0;
};

TEST_F(FltkViewTest, ControlsSitWhereTheTemplatePutsThemInDialogUnits) {
    const ViewRect dialog = view->ScreenRect(0);
    EXPECT_EQ(dialog.Width(), DialogUnitsX(kCaptureDialogWidth));
    EXPECT_EQ(dialog.Height(), DialogUnitsY(kCaptureDialogHeight));
    for (const ControlRule& rule : kCaptureControls) {
        const ViewRect r = Local(rule.id);
        EXPECT_EQ(r.left, DialogUnitsX(rule.x)) << rule.id;
        EXPECT_EQ(r.top, DialogUnitsY(rule.y)) << rule.id;
        EXPECT_EQ(r.Width(), DialogUnitsX(rule.w)) << rule.id;
        if (rule.kind != ControlKind::List) {
            EXPECT_EQ(r.Height(), DialogUnitsY(rule.h)) << rule.id;
        }
    }
    // Moves come back as they were asked for, in screen coordinates.
    ViewRect capture = view->ScreenRect(IDC_CAPTURE);
    capture.top -= 27;
    capture.bottom -= 27;
    view->Move(IDC_CAPTURE, capture);
    const ViewRect moved = view->ScreenRect(IDC_CAPTURE);
    EXPECT_EQ(moved.top, capture.top);
    EXPECT_EQ(moved.Height(), capture.Height());
    view->Move(0, {dialog.left, dialog.top, dialog.right, dialog.bottom - 27});
    EXPECT_EQ(view->ScreenRect(0).Height(), dialog.Height() - 27);
    EXPECT_EQ(view->ScreenRect(IDC_CAPTURE).top, capture.top) << "the dialog's resize must not drag its controls";
    EXPECT_EQ(view->ControlWindow(4711), nullptr);
}

TEST_F(FltkViewTest, SortedListInsertsByTextAndKeepsTheSelectedEntry) {
    EXPECT_EQ(view->ListAdd(IDC_FORMAT_LIST, "YUY2", 2), 0);
    view->ListSelect(IDC_FORMAT_LIST, 0);
    EXPECT_EQ(view->ListAdd(IDC_FORMAT_LIST, "MJPEG", 1), 0);
    EXPECT_EQ(view->ListCount(IDC_FORMAT_LIST), 2);
    EXPECT_EQ(view->ListData(IDC_FORMAT_LIST, 0), 1);
    EXPECT_EQ(view->ListData(IDC_FORMAT_LIST, 1), 2);
    EXPECT_EQ(view->ListSelection(IDC_FORMAT_LIST), 1) << "the selection follows its entry";
    EXPECT_EQ(view->Text(IDC_FORMAT_LIST), "YUY2");

    // The size list keeps the order of its entries; indices out of range read as nothing.
    EXPECT_EQ(view->ListAdd(IDC_SIZE_LIST, "640 x 480", 0), 0);
    EXPECT_EQ(view->ListAdd(IDC_SIZE_LIST, "1280 x 720", 0), 1);
    EXPECT_EQ(view->ListSelection(IDC_SIZE_LIST), -1);
    view->ListSelect(IDC_SIZE_LIST, 1);
    EXPECT_EQ(view->Text(IDC_SIZE_LIST), "1280 x 720");
    view->ListSelect(IDC_SIZE_LIST, -1);
    EXPECT_EQ(view->ListSelection(IDC_SIZE_LIST), -1);
    EXPECT_EQ(view->ListData(IDC_SIZE_LIST, 7), 0);
    EXPECT_EQ(view->ListAdd(IDC_PREVIEW, "x", 0), -1);
}

TEST_F(FltkViewTest, UserActionsReachTheLogicOnlyThroughEnabledControls) {
    view->Show();
    ASSERT_TRUE(kivgui::WaitMapped(Window()));
    view->ListAdd(IDC_SIZE_LIST, "640 x 480", 0);
    view->ListAdd(IDC_SIZE_LIST, "1280 x 720", 0);
    view->ListSelect(IDC_SIZE_LIST, 0);

    view->Enable(IDC_CAPTURE, false);
    EXPECT_FALSE(view->IsEnabled(IDC_CAPTURE));
    EXPECT_FALSE(view->Press(IDC_CAPTURE));
    EXPECT_TRUE(commands.empty());

    for (int id : kBusyControls) view->Enable(id, true);
    EXPECT_TRUE(view->ControlsEnabled());
    EXPECT_TRUE(view->Press(IDC_CAPTURE));
    EXPECT_TRUE(view->Pick(IDC_SIZE_LIST, "1280 x 720"));
    EXPECT_FALSE(view->Pick(IDC_SIZE_LIST, "1 x 1"));
    EXPECT_TRUE(view->Pick(IDC_SIZE_LIST, "1280 x 720")) << "picking the selected entry again changes nothing";
    const std::vector<std::pair<int, unsigned>> expected{{IDC_CAPTURE, BN_CLICKED}, {IDC_SIZE_LIST, CBN_SELCHANGE}};
    EXPECT_EQ(commands, expected);

    view->AppendSystemMenuItem(IDM_VERSIONINFO, "Version information...");
    view->ChooseVersionInformation();
    view->PressClose();
    EXPECT_EQ(sysCommands, (std::vector<unsigned>{IDM_VERSIONINFO, kScClose}));

    view->EndDialog(IDCANCEL_RESULT);
    EXPECT_TRUE(view->Ended());
    EXPECT_EQ(view->EndResult(), IDCANCEL_RESULT);
    EXPECT_FALSE(Window()->shown());
}

TEST_F(FltkViewTest, ARealClickOnTheCaptureButtonIsBnClicked) {
    if (!kivgui::HaveProgram("xdotool")) GTEST_SKIP() << "xdotool is not installed";
    view->Show();
    ASSERT_TRUE(kivgui::WaitMapped(Window()));
    const ViewRect button = Local(IDC_CAPTURE);
    int x = 0, y = 0;
    kivgui::RootPoint(Window(), button.left + button.Width() / 2, button.top + button.Height() / 2, x, y);
    const std::string click = "xdotool mousemove --sync " + std::to_string(x) + " " + std::to_string(y) +
                              " click 1 >/dev/null 2>&1";
    ASSERT_EQ(std::system(click.c_str()), 0);
    EXPECT_TRUE(kivgui::PumpUntil([&] { return !commands.empty(); }));
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0], (std::pair<int, unsigned>{IDC_CAPTURE, BN_CLICKED}));

    // A click on a disabled button does nothing.
    commands.clear();
    view->Enable(IDC_CAPTURE, false);
    Fl::check();
    ASSERT_EQ(std::system("xdotool click 1 >/dev/null 2>&1"), 0);
    kivgui::PumpUntil([] { return false; }, 10);
    EXPECT_TRUE(commands.empty());
}

TEST_F(FltkViewTest, VersionDialogRunsModallyUntilItsOkButton) {
    view->Show();
    ASSERT_TRUE(kivgui::WaitMapped(Window()));
    IVersionDialogView* seen = nullptr;
    duringModal = [&] {
        IVersionDialogView* version = view->VersionDialog();
        if (!version || pumps < 5) return;
        seen = version;
        EXPECT_TRUE(version->IsVisible());
        EXPECT_EQ(view->Text(IDC_VERSION_LICENSE), "Line one\n\nLine three") << "CR LF reads as lines";
        EXPECT_EQ(view->Text(IDC_VERSION_NUMBER), "2.00.0006");
        version->End(IDOK_BUTTON);
    };
    const int result = view->RunVersionDialog([&](IVersionDialogView& version) {
        version.SetTitle("Version information");
        version.SetText(IDC_VERSION_NUMBER, "2.00.0006");
        version.SetText(IDC_VERSION_LICENSE, "Line one\r\n\r\nLine three");
        EXPECT_TRUE(version.SetIcon(IDC_VERSION_ICON, IDI_APP));
        EXPECT_FALSE(version.SetIcon(IDC_VERSION_ICON, 9999));
    });
    EXPECT_NE(seen, nullptr);
    EXPECT_EQ(result, IDOK_BUTTON);
    EXPECT_EQ(view->VersionDialog(), nullptr);

    // Ended from outside (the capture dialog's cancel) with 0.
    pumps = 0;
    duringModal = [&] {
        if (view->VersionDialog() && pumps > 2) view->VersionDialog()->End(0);
    };
    EXPECT_EQ(view->RunVersionDialog([](IVersionDialogView&) {}), 0);
}

TEST_F(FltkViewTest, ThePresentedPictureIsOnTheScreenAtItsPlace) {
    view->Show();
    ASSERT_TRUE(kivgui::WaitMapped(Window()));
    WindowHandle preview = view->ControlWindow(IDC_PREVIEW);
    std::atomic<int> repaints{0};
    DialogBridge::Instance().Register(preview, {100, 80, nullptr, [&] { ++repaints; }, nullptr});

    // 8 x 4 pixels at (10, 20): bottom-up BGR rows, the top two rows red,
    // the bottom two blue; stride padded to a multiple of 4.
    auto picture = std::make_shared<PreviewPicture>();
    picture->left = 10;
    picture->top = 20;
    picture->width = 8;
    picture->height = 4;
    picture->stride = 24;
    picture->pixels.assign(24 * 4, 0);
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 8; ++col) {
            std::uint8_t* p = &picture->pixels[row * 24 + col * 3];
            if (row < 2) p[0] = 0xFF;  // stored first = bottom: blue
            else p[2] = 0xFF;          // red
        }
    auto stale = std::make_shared<PreviewPicture>(*picture);
    stale->pixels.assign(24 * 4, 0x80);

    // Two pictures before the window draws: one repaint asked, the newer drawn.
    DialogBridge::Instance().PresentPreview(preview, stale);
    DialogBridge::Instance().PresentPreview(preview, picture);
    EXPECT_EQ(repaints.load(), 1);
    EXPECT_EQ(DialogBridge::Instance().Take(preview), picture);
    EXPECT_EQ(DialogBridge::Instance().Take(preview), nullptr);
    static_cast<Fl_Widget*>(preview)->redraw();

    const ViewRect area = Local(IDC_PREVIEW);
    const int x = area.left + 10, y = area.top + 20;
    EXPECT_TRUE(kivgui::PumpUntil([&] { return kivgui::PixelAt(Window(), x + 3, y) == 0xFF0000u; }))
        << std::hex << kivgui::PixelAt(Window(), x + 3, y);
    EXPECT_EQ(kivgui::PixelAt(Window(), x + 7, y + 1), 0xFF0000u);
    EXPECT_EQ(kivgui::PixelAt(Window(), x, y + 2), 0x0000FFu);
    EXPECT_EQ(kivgui::PixelAt(Window(), x + 7, y + 3), 0x0000FFu);
    EXPECT_EQ(kivgui::PixelAt(Window(), x + 8, y), 0x000000u) << "the rest of the preview stays black";
    EXPECT_EQ(kivgui::PixelAt(Window(), x, y + 4), 0x000000u);
    EXPECT_EQ(kivgui::PixelAt(Window(), x - 1, y), 0x000000u);

    const char* dir = std::getenv("KIV_GUI_ARTIFACTS");
    if (dir) kivgui::Screenshot(Window(), std::string(dir) + "/preview.png");
    DialogBridge::Instance().Unregister(preview);
    DialogBridge::Instance().PresentPreview(preview, picture);
    EXPECT_EQ(repaints.load(), 1) << "an unregistered window hears nothing";
    int w = 0, h = 0;
    EXPECT_FALSE(DialogBridge::Instance().GetClientSize(preview, w, h));
}

// The camera letterboxes its picture into the size the bridge reports; after
// the dialog's layout moves the preview to its 5:4 place, that is the new
// size, not the one the control had when it was registered.
TEST_F(FltkViewTest, TheClientSizeFollowsThePreviewsLayout) {
    WindowHandle preview = view->ControlWindow(IDC_PREVIEW);
    DialogBridge::Instance().Register(preview, {100, 80, nullptr, nullptr, nullptr});
    const ViewRect before = view->ScreenRect(IDC_PREVIEW);
    const ViewRect moved{before.left, before.top, before.left + 250, before.top + 200};
    view->Move(IDC_PREVIEW, moved);
    int w = 0, h = 0;
    ASSERT_TRUE(DialogBridge::Instance().GetClientSize(preview, w, h));
    EXPECT_EQ(250, w);
    EXPECT_EQ(200, h);
    DialogBridge::Instance().Unregister(preview);
}

TEST_F(FltkViewTest, TheWindowCarriesTheProductIconForTheWindowManager) {
    view->SetWindowIcon(IDI_APP);
    view->Show();
    ASSERT_TRUE(kivgui::WaitMapped(Window()));
    const Atom netWmIcon = XInternAtom(fl_display, "_NET_WM_ICON", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    ASSERT_EQ(XGetWindowProperty(fl_display, fl_xid(Window()), netWmIcon, 0, 1 << 16, False, AnyPropertyType, &type,
                                 &format, &count, &after, &data),
              Success);
    ASSERT_NE(data, nullptr) << "no icon property";
    const auto* longs = reinterpret_cast<const unsigned long*>(data);
    ASSERT_GE(count, 2u + 48u * 48u);
    EXPECT_EQ(longs[0], 48u);
    EXPECT_EQ(longs[1], 48u);
    // The picture is not one flat colour: something was drawn.
    bool varied = false;
    for (unsigned long i = 3; i < 2 + 48 * 48 && !varied; ++i) varied = (longs[i] & 0xFFFFFF) != (longs[2] & 0xFFFFFF);
    EXPECT_TRUE(varied);
    XFree(data);
}

TEST(FltkBackendChoice, HeadlessRequestWinsOverAnOpenDisplay) {
    kivtest::ScopedEnv headless{"KIVDS_UI", "headless"};
    EXPECT_FALSE(FltkDisplayUsable());
    EXPECT_EQ(MakeFltkDialogSession(), nullptr);
}

}  // namespace
}  // namespace kiv
