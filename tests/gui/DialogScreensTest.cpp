// The whole capture dialog (CKIVDlg over the FLTK view, with the virtual
// camera) in the language of LANG: every text fits its control, the version
// dialog and a message box open over it, the message box is owned by the
// dialog, and each is written as a PNG to KIV_GUI_ARTIFACTS for a person to
// look at.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Valuator.H>
#include <FL/Fl_Widget.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "gui/GuiSupport.h"
#include "kivds/camera/CameraControls.h"
#include "kivds/camera/KIVUVCControl.h"
#include "kivds/protocol/Twain.h"
#include "kivds/ui/KIVDlg.h"
#include "kivds/ui/DialogBridge.h"
#include "kivds/ui/DialogControls.h"
#include "kivds/ui/ErrorMessage.h"
#include "kivds/ui/Strings.h"
#include "kivds/ui/fltk/FltkDialog.h"
#include "kivds/ui/fltk/FltkDisplay.h"
#include "kivds/ui/fltk/FltkSettings.h"
#include "kivds/ui/fltk/FltkView.h"

namespace kiv {
namespace {

std::string ArtefactPath(const std::string& name) {
    const char* dir = std::getenv("KIV_GUI_ARTIFACTS");
    const char* tag = std::getenv("KIV_GUI_TAG");
    if (!dir) return "";
    return std::string(dir) + "/" + name + "-" + (tag ? tag : "lang") + ".png";
}

// The label of `widget` fits inside it at its font.
void ExpectFits(const Fl_Widget* widget, const char* what) {
    ASSERT_NE(widget, nullptr) << what;
    if (!widget->label() || !*widget->label()) return;
    fl_font(widget->labelfont(), widget->labelsize());
    int w = 0, h = 0;
    fl_measure(widget->label(), w, h, 0);
    EXPECT_LE(w, widget->w()) << what << " \"" << widget->label() << "\" is clipped";
    // A line's leading may reach into the gap below a static, no further.
    EXPECT_LE(fl_height(), widget->h() + 4) << what << " is too tall";
}

class DialogScreensTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!FltkDisplayUsable() || !FltkAttachDisplay()) GTEST_SKIP() << "no display";
        // The source opens the virtual camera before its dialog starts it.
        CKIVUVCControl* camera = CKIVUVCControl::GetInstance();
        ASSERT_NE(camera, nullptr);
        ASSERT_TRUE(camera->Open());
        FltkCaptureView::Actions actions;
        actions.command = [this](int id, unsigned n) { dlg->OnCommand(id, n); };
        actions.sysCommand = [this](unsigned c) { dlg->OnSysCommand(c); };
        actions.pump = [this](double seconds) {
            if (duringModal) duringModal();
            Fl::wait(seconds);
            return true;
        };
        view = std::make_unique<FltkCaptureView>(std::move(actions));
        dlg = std::make_unique<CKIVDlg>(*view);
        DialogBridge::Install();
        auto deliver = [this](unsigned message) {
            std::lock_guard<std::mutex> guard(mutex);
            messages.push_back(message);
        };
        DialogBridge::Instance().Register(view->Window(), {400, 320, deliver, nullptr, nullptr});
        DialogBridge::Instance().Register(view->ControlWindow(IDC_PREVIEW), {400, 320, deliver, nullptr, nullptr});
    }
    void TearDown() override {
        if (!view) return;
        DialogBridge::Instance().Unregister(view->Window());
        DialogBridge::Instance().Unregister(view->ControlWindow(IDC_PREVIEW));
        if (dlg) dlg->DestroyWindow();
        dlg.reset();
        view.reset();
        Fl::check();
        CKIVUVCControl::DestroyInstance();
    }
    // Serves the display and hands the camera's notifications to the dialog.
    bool Serve(const std::function<bool()>& done) {
        return kivgui::PumpUntil([&] {
            std::deque<unsigned> now;
            {
                std::lock_guard<std::mutex> guard(mutex);
                now.swap(messages);
            }
            for (unsigned m : now) dlg->OnMessage(m);
            return done();
        });
    }
    Fl_Window* Window() const { return static_cast<Fl_Window*>(view->Window()); }

    // The live preview on the screen is the virtual camera's pattern, every
    // value moved up by `shift`: the default camera streams MJPEG 1920x1080,
    // so the preview shows its source rectangle (0, 1, 1920, 1078), scaled
    // into the letterboxed picture of `width`.
    void ExpectPreviewPattern(int shift, int width) {
        Fl_Widget* previewWidget = static_cast<Fl_Widget*>(view->ControlWindow(IDC_PREVIEW));
        std::shared_ptr<const PreviewPicture> picture;
        // Taken as the dialog thread's idle pass takes it: the preview draws
        // the next frame only once the view took the last one.
        const auto take = [&] { DialogBridge::Instance().Take(previewWidget); };
        ASSERT_TRUE(Serve([&] {
            take();
            picture = DialogBridge::Instance().Latest(previewWidget);
            return picture != nullptr;
        })) << "no preview picture arrived";
        EXPECT_EQ(picture->width, width);
        const int dx = picture->width / 3, dy = picture->height / 3;
        const int sx = dx * 1920 / picture->width, sy = 1 + dy * 1078 / picture->height;
        const auto value = [shift](int v) { return static_cast<std::uint32_t>(std::min(255, v % 256 + shift)); };
        const std::uint32_t want = value(sx) << 16 | value(sy) << 8 | value(16 * (sx / 256) + sy / 256);
        const int screenX = previewWidget->x() + picture->left + dx, screenY = previewWidget->y() + picture->top + dy;
        // This test registers no repaint hook (the dialog thread's idle pass
        // does that in the data source): redraw the preview as that pass would.
        EXPECT_TRUE(Serve([&] {
            take();
            previewWidget->redraw();
            return kivgui::PixelAt(Window(), screenX, screenY) == want;
        })) << std::hex
            << "preview pixel " << kivgui::PixelAt(Window(), screenX, screenY) << " instead of " << want;
    }

    std::lock_guard<std::recursive_mutex> fltk_{FltkLock()};
    std::unique_ptr<FltkCaptureView> view;
    std::unique_ptr<CKIVDlg> dlg;
    std::mutex mutex;
    std::deque<unsigned> messages;
    std::function<void()> duringModal;
};

TEST_F(DialogScreensTest, CaptureVersionAndMessageShowTheirTextsWhole) {
    ASSERT_TRUE(dlg->OnInitDialog());
    view->Show();
    ASSERT_TRUE(kivgui::WaitMapped(Window()));
    ASSERT_TRUE(Serve([&] { return view->ControlsEnabled(); })) << "the first frame enables the controls";
    EXPECT_EQ(view->Text(0), LoadKivString(IDS_PRODUCTNAME));
    EXPECT_EQ(view->Text(IDC_FORMAT_LABEL), LoadLocalisedString(IDS_LABEL_FORMAT));
    EXPECT_FALSE(view->Text(IDC_FORMAT_LIST).empty());
    EXPECT_FALSE(view->Text(IDC_SIZE_LIST).empty());
    // The 5:4 preview.
    const ViewRect preview = view->ScreenRect(IDC_PREVIEW);
    EXPECT_EQ(preview.Height(), preview.Width() / 5 * 4);
    for (int id : {IDC_FORMAT_LABEL, IDC_SIZE_LABEL})
        ExpectFits(static_cast<Fl_Widget*>(view->ControlWindow(id)), "label");
    ExpectPreviewPattern(0, preview.Width());
    const std::string capturePng = ArtefactPath("capture");
    if (!capturePng.empty()) {
        EXPECT_TRUE(kivgui::Screenshot(Window(), capturePng));
    }

    // The version dialog from the window's menu.
    bool versionChecked = false;
    duringModal = [&] {
        IVersionDialogView* version = view->VersionDialog();
        if (!version || versionChecked) return;
        auto* window = static_cast<Fl_Window*>(version->Window());
        if (!kivgui::WaitMapped(window)) return;
        kivgui::PumpUntil([] { return false; }, 5);  // its first expose drawn
        versionChecked = true;
        EXPECT_EQ(std::string(window->label()), LoadLocalisedString(IDS_VERSIONTITLE));
        EXPECT_EQ(view->Text(IDC_VERSION_NUMBER), "2.00.0006");
        EXPECT_EQ(view->Text(IDOK_BUTTON), LoadLocalisedString(IDS_OK));
        EXPECT_NE(view->Text(IDC_VERSION_LICENSE).find("Copyright"), std::string::npos);
        for (int i = 0; i < window->children(); ++i) {
            const Fl_Widget* child = window->child(i);
            if (child->label() && child->type() < FL_WINDOW) ExpectFits(child, "version dialog text");
        }
        const std::string png = ArtefactPath("version");
        if (!png.empty()) {
            EXPECT_TRUE(kivgui::Screenshot(window, png));
        }
        version->End(IDOK_BUTTON);
    };
    view->ChooseVersionInformation();
    EXPECT_TRUE(versionChecked);
    duringModal = nullptr;

    // A message box over the dialog: its caption, and the dialog as its owner.
    struct Seen {
        Fl_Window* dialog;
        std::string caption;
        ::Window transientFor = 0;
        bool shot = false;
    } seen{Window(), "", 0, false};
    Fl::add_timeout(
        0.3,
        [](void* data) {
            auto* s = static_cast<Seen*>(data);
            for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w)) {
                if (w == s->dialog || !w->modal()) continue;
                kivgui::WaitMapped(w);
                kivgui::PumpUntil([] { return false; }, 5);
                s->caption = w->label() ? w->label() : "";
                XGetTransientForHint(fl_display, fl_xid(w), &s->transientFor);
                const std::string png = ArtefactPath("message");
                s->shot = png.empty() || kivgui::Screenshot(w, png);
                w->hide();
                return;
            }
        },
        &seen);
    ShowFltkMessageBox({Window(), kMessageCaption, ErrorMessageText(twain::CC_CAMERA_DISCONNECTED), kMbIconError});
    EXPECT_EQ(seen.caption, "Orvan Document Camera");
    EXPECT_EQ(seen.transientFor, fl_xid(Window())) << "modal to the capture dialog";
    EXPECT_TRUE(seen.shot);
}

// The camera's settings window over the dialog: every control's row whole,
// inactive rows greyed until their automatic mode is switched off, a
// brightness change seen in the live preview, Esc closing it.
TEST_F(DialogScreensTest, SettingsWindowShowsTheCamerasControlsAndChangesThePreviewLive) {
    ASSERT_TRUE(dlg->OnInitDialog());
    view->Show();
    ASSERT_TRUE(kivgui::WaitMapped(Window()));
    ASSERT_TRUE(Serve([&] { return view->ControlsEnabled(); }));
    EXPECT_TRUE(view->IsEnabled(IDC_SETTINGS)) << "the virtual camera has controls";
    ICameraControls* controls = CKIVUVCControl::GetInstance()->CameraControls();
    ASSERT_NE(controls, nullptr);

    FltkSettingsWindow settings(*controls, "Orvan Document Camera", Window());
    settings.Show();
    ASSERT_TRUE(kivgui::WaitMapped(settings.Window()));
    kivgui::PumpUntil([] { return false; }, 5);
    for (Fl_Widget* label : settings.Labels()) ExpectFits(label, "settings label");
    EXPECT_EQ(std::string(settings.Window()->label()), "Orvan Document Camera");

    // As a user: autofocus off makes the focus distance a live row.
    Fl_Widget* focus = settings.RowWidget("Focus, Absolute");
    Fl_Widget* autofocus = settings.RowWidget("Focus, Automatic Continuous");
    ASSERT_TRUE(focus && autofocus);
    EXPECT_FALSE(focus->active());
    static_cast<Fl_Button*>(autofocus)->value(0);
    autofocus->do_callback();
    EXPECT_TRUE(focus->active());
    EXPECT_TRUE(settings.StatusLine().empty()) << settings.StatusLine();

    // Brightness +40 through its slider: the preview's pattern brightens.
    auto* brightness = static_cast<Fl_Valuator*>(settings.RowWidget("Brightness"));
    ASSERT_NE(brightness, nullptr);
    brightness->value(40);
    brightness->do_callback();
    kivgui::PumpUntil([] { return false; }, 5);  // drawn
    const std::string png = ArtefactPath("settings");
    if (!png.empty()) {
        EXPECT_TRUE(kivgui::Screenshot(settings.Window(), png));
    }

    // Esc, as the keyboard delivers it.
    Fl::e_keysym = FL_Escape;
    Fl::handle(FL_KEYBOARD, settings.Window());
    EXPECT_FALSE(settings.Shown());
    // The preview it covered shows the brighter pattern.
    ExpectPreviewPattern(40, view->ScreenRect(IDC_PREVIEW).Width());
    controls->ResetToDefaults();
}

// A camera that lists no controls: the window says so in the user's
// language, whole, with Close alone.
TEST_F(DialogScreensTest, SettingsWindowOfACameraWithoutControlsSaysSo) {
    struct NoControls final : CameraControlsBase {
        std::vector<CameraControl> ReadControls() override { return {}; }
        WriteResult WriteControl(const CameraControl&, std::int64_t) override { return {}; }
        bool TakeDeviceChanges() override { return false; }
    } none;
    FltkSettingsWindow settings(none, "Orvan Document Camera", nullptr);
    settings.Show();
    ASSERT_TRUE(kivgui::WaitMapped(settings.Window()));
    kivgui::PumpUntil([] { return false; }, 5);
    std::vector<std::string> texts;
    for (Fl_Widget* label : settings.Labels()) {
        ExpectFits(label, "settings label");
        texts.push_back(label->label());
    }
    EXPECT_EQ(texts, (std::vector<std::string>{LoadLocalisedString(IDS_SETTINGS_NONE),
                                               LoadLocalisedString(IDS_SETTINGS_CLOSE)}));
    const std::string png = ArtefactPath("settings-none");
    if (!png.empty()) {
        EXPECT_TRUE(kivgui::Screenshot(settings.Window(), png));
    }
    settings.Close();
}

}  // namespace
}  // namespace kiv
