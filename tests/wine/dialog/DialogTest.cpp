// The Win32 capture dialog and version dialog of the built kivds.ds, driven
// as a user drives them: a TWAIN application with a window and a message
// loop (TwainApp) enables the source with its dialog on the Wine test camera
// and works the real controls with window messages. Modal windows (the
// version dialog, message boxes) run nested loops on the application's
// thread; a watcher thread finds them, reads them, photographs them and
// closes them. Screenshots go to the run's artefacts (ScreenShot.h).
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kivds/platform/Env.h"
#include "kivds/protocol/Twain.h"
#include "support/FileBytes.h"
#include "support/ScopedEnv.h"
#include "support/SimPattern.h"
#include "wine/camera/TestCameraHost.h"
#include "wine/dialog/ScreenShot.h"
#include "wine/dialog/TwainApp.h"
#include "wine/dialog/Win32Probe.h"

using namespace twain;
using namespace kivtest;
using std::chrono::milliseconds;

namespace {

// Template ids of the capture and version dialogs.
constexpr int kPreview = 2001, kFormatLabel = 2002, kFormatList = 2004, kSizeLabel = 2005, kSizeList = 2007,
              kSettings = 2008, kCapture = 2009;
constexpr int kProduct = 2018, kVersionNumber = 2019, kLicence = 2022;
constexpr UINT kVersionCommand = 0x0010;
constexpr int kFour[] = {kFormatList, kSizeList, kSettings, kCapture};

const std::wstring kTitle = L"TWAIN Driver for Orvan Document Camera";
const std::wstring kCaption = L"Orvan Document Camera";

// The texts that follow the user's language.
struct Language {
    LCID lcid;
    const char* tag;
    const wchar_t* formatLabel;
    const wchar_t* sizeLabel;
    const wchar_t* versionMenu;
    const wchar_t* versionTitle;
    const wchar_t* disconnected;
};

const Language kLanguages[] = {
    {0x0409, "en", L"Video Format:", L"Size:", L"Version information...", L"Version information",
     L"A camera has been disconnected or has not been connected. Connect a camera to the computer."},
    {0x0407, "de", L"Videoformat:", L"Größe:", L"Versions-Informationen...", L"Versions-Informationen",
     L"Die Verbindung mit einer Dokumentenkamera wurde getrennt bzw. es wurde keine Dokumentenkamera "
     L"angeschlossen. Schließen Sie eine Dokumentenkamera an den Computer an."},
    {0x0411, "ja", L"ビデオ方式:", L"サイズ:", L"バージョン情報...", L"バージョン情報",
     L"カメラが切断されたか、接続されていません。\nコンピューターにカメラを接続してください。"},
};

// The run's language: the one KIV_GUI_TAG names (English without a tag).
const Language& RunLanguage() {
    const auto tag = kiv::GetEnv("KIV_GUI_TAG");
    for (const Language& language : kLanguages)
        if (tag && *tag == language.tag) return language;
    return kLanguages[0];
}

const char kPathA[] =
    "path=\\\\?\\usb#vid_1a3c&pid_0b21&mi_00#6&1f2e3d4c&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
const char kPathB[] =
    "path=\\\\?\\usb#vid_1a3c&pid_0b30&mi_00#6&2a2b2c2d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
// YUY2 first and the MJPEG sizes out of order: the lists sort them.
const char kFormats[] = "caps=yuy2:320x240,mjpeg:640x480,mjpeg:160x120,mjpeg:320x240;current=320x240;fps=15";

std::string ModelA() { return std::string("name=KIVCAMA;") + kPathA + ";" + kFormats; }

// Model B whose zoom-in button (status bit 0x02) is pressed for five polls
// after seventy-five at rest (fifteen seconds of polling at 200 ms).
std::string ModelBWithZoomPress() {
    std::string buttons = "buttons=";
    for (int i = 0; i < 75; ++i) buttons += "00,";
    buttons += "02,02,02,02,02,00";
    return std::string("name=ORVAN KIVCAMB;") + kPathB + ";" + kFormats + ";xu=b;" + buttons;
}

int TrimmedSourceRow(int y, int height) { return 1 + y * (height - 2) / height; }

// Runs a job on a second thread while the test's thread pumps messages (the
// modal windows live on the test's thread and need its loop).
class Watcher {
public:
    explicit Watcher(std::function<void()> job)
        : thread_([this, job = std::move(job)] {
              job();
              done_ = true;
          }) {}
    ~Watcher() {
        if (thread_.joinable()) thread_.join();
    }
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;
    bool Done() const { return done_; }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// What a watcher saw of a modal window.
struct Seen {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::wstring title;
    std::wstring text;  // message text, or version number
    std::wstring product;
    std::wstring licence;
    std::wstring okText;
    bool licenceReadOnly = false;
    bool dialogEnabledMeanwhile = true;
    bool gone = false;  // the window was gone when the watcher finished
};

// Saves a picture of a window (after its paint has settled) as an artefact.
void Photograph(HWND window, const std::string& name) {
    std::this_thread::sleep_for(milliseconds(400));
    const ScreenShot shot = ScreenShot::Take(ScreenRect(window));
    EXPECT_FALSE(SaveArtifact(shot, name).empty()) << name;
}

HWND FindMessageBox(HWND owner) {
    HWND box = FindOwnedDialog(owner);
    return box && TitleOf(box) == kCaption ? box : nullptr;
}

class Dialog : public ::testing::Test {
protected:
    Dialog() : ui_("KIVDS_UI", "win32"), cameraKind_("KIVDS_CAMERA", "dshow") {}

    // Lists the camera, opens the source and enables it with its dialog.
    void Start(const std::string& description) {
        camera_ = std::make_unique<TestCameraHost>(description);
        ASSERT_TRUE(camera_->Ready());
        app_ = std::make_unique<TwainApp>();
        ASSERT_NE(nullptr, app_->Window());
        ASSERT_TRUE(app_->Host().Loaded());
        ASSERT_EQ(TWRC_SUCCESS, app_->Host().OpenDS()) << app_->Host().OpenFailureCondition();
        ASSERT_EQ(TWRC_SUCCESS, app_->EnableWithDialog()) << app_->Host().Status();
        dialog_ = FindTopLevel(kTitle);
        if (!dialog_) app_->PumpUntil([&] { return (dialog_ = FindTopLevel(kTitle)) != nullptr; });
        ASSERT_NE(nullptr, dialog_) << "no window titled " << Narrow(kTitle);
        // A modeless dialog of the application's window.
        EXPECT_TRUE(GetWindow(dialog_, GW_OWNER) == app_->Window() || GetParent(dialog_) == app_->Window());
    }

    void TearDown() override {
        app_.reset();
        camera_.reset();
    }

    HWND Item(int id) const { return GetDlgItem(dialog_, id); }

    bool FourEnabledAre(bool enabled) const {
        for (int id : kFour)
            if ((IsWindowEnabled(Item(id)) != FALSE) != enabled) return false;
        return true;
    }

    bool WaitReady(milliseconds limit = milliseconds(20000)) {
        return app_->PumpUntil([&] { return FourEnabledAre(true); }, limit);
    }

    void Select(int listId, const std::wstring& entry) {
        HWND list = Item(listId);
        const LRESULT index = SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                           reinterpret_cast<LPARAM>(entry.c_str()));
        ASSERT_NE(CB_ERR, index) << Narrow(entry);
        SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(listId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    }

    void ClickCapture() { SendMessageW(Item(kCapture), BM_CLICK, 0, 0); }

    // The area the renderer draws the video into (its window inside 2001),
    // in screen coordinates.
    RECT VideoArea() const {
        HWND preview = Item(kPreview);
        HWND video = GetWindow(preview, GW_CHILD);
        HWND target = video && IsWindowVisible(video) ? video : preview;
        RECT client{};
        GetClientRect(target, &client);
        MapWindowPoints(target, nullptr, reinterpret_cast<POINT*>(&client), 2);
        return client;
    }

    // The screen pixel showing camera pixel (x, y) of a w x h picture.
    static POINT ScreenPointOf(const RECT& video, int x, int y, int w, int h) {
        const int cw = video.right - video.left, ch = video.bottom - video.top;
        return POINT{video.left + static_cast<int>((x + 0.5) * cw / w),
                     video.top + static_cast<int>((y + 0.5) * ch / h)};
    }

    // Ends the current transfer and waits for the controls to come back.
    void EndTransferAndWaitReady() {
        TW_UINT16 count = 0xFFFF;
        ASSERT_EQ(TWRC_SUCCESS, app_->Host().EndXfer(&count));
        EXPECT_EQ(0, count);
        EXPECT_TRUE(WaitReady()) << "controls not enabled again after MSG_ENDXFER";
    }

    // Closes the session from the application's side.
    void Finish() {
        EXPECT_EQ(TWRC_SUCCESS, app_->Host().DisableDS());
        EXPECT_EQ(TWRC_SUCCESS, app_->Host().CloseDS());
        app_->PumpFor(milliseconds(100));
        EXPECT_FALSE(IsWindow(dialog_));
    }

    ScopedEnv ui_;
    ScopedEnv cameraKind_;
    std::unique_ptr<TestCameraHost> camera_;
    std::unique_ptr<TwainApp> app_;
    HWND dialog_ = nullptr;
};

void ExpectBgr(const unsigned char* px, const Rgb& want, int x, int y, const char* what) {
    EXPECT_EQ(+want.b, px[0]) << what << " " << x << "," << y;
    EXPECT_EQ(+want.g, px[1]) << what << " " << x << "," << y;
    EXPECT_EQ(+want.r, px[2]) << what << " " << x << "," << y;
}

bool Near(int a, int b, int tolerance) { return std::abs(a - b) <= tolerance; }

}  // namespace

// ------------------------------------------------------------------ texts

TEST_F(Dialog, TextsListsAndControlsUntilTheFirstFrame) {
    const Language& language = RunLanguage();
    // The locale of the run took effect (it comes from LANG under Wine).
    ASSERT_EQ(language.lcid, GetUserDefaultLCID()) << "user locale of run " << language.tag;
    ASSERT_NO_FATAL_FAILURE(Start(ModelA()));

    // Nothing has been pumped yet: no frame can have reached the dialog.
    EXPECT_TRUE(FourEnabledAre(false));
    EXPECT_TRUE(IsWindowEnabled(Item(kFormatLabel)));
    EXPECT_TRUE(IsWindowEnabled(Item(kSizeLabel)));
    EXPECT_TRUE(IsWindowEnabled(Item(kPreview)));

    EXPECT_EQ(kTitle, WindowText(dialog_));
    EXPECT_EQ(std::wstring(language.formatLabel), WindowText(Item(kFormatLabel)));
    EXPECT_EQ(std::wstring(language.sizeLabel), WindowText(Item(kSizeLabel)));
    const MenuItem last = LastSystemMenuItem(dialog_);
    EXPECT_EQ(kVersionCommand, last.id);
    EXPECT_EQ(std::wstring(language.versionMenu), last.text);

    EXPECT_EQ((std::vector<std::wstring>{L"MJPEG", L"YUY2"}), ComboEntries(Item(kFormatList)));
    EXPECT_EQ(L"MJPEG", ComboSelection(Item(kFormatList)));
    EXPECT_EQ((std::vector<std::wstring>{L"160 x 120", L"320 x 240", L"640 x 480"}), ComboEntries(Item(kSizeList)));
    EXPECT_EQ(L"320 x 240", ComboSelection(Item(kSizeList)));

    ASSERT_TRUE(WaitReady()) << "the four controls were not enabled by the first frame";
    EXPECT_TRUE(IsWindowVisible(dialog_));
    // The renderer's window lives inside the preview static, within its area.
    HWND video = GetWindow(Item(kPreview), GW_CHILD);
    ASSERT_NE(nullptr, video) << "no renderer window inside control 2001";
    EXPECT_TRUE(IsWindowVisible(video));
    RECT inside{};
    const RECT videoRect = ScreenRect(video), previewRect = ScreenRect(Item(kPreview));
    IntersectRect(&inside, &videoRect, &previewRect);
    EXPECT_TRUE(EqualRect(&inside, &videoRect));
    EXPECT_GT(videoRect.right - videoRect.left, 100);
    Finish();
}

// ----------------------------------------------------------------- layout

TEST_F(Dialog, LayoutGivesThePreviewFiveToFourAndMovesOnlyTheCaptureButton) {
    ASSERT_NO_FATAL_FAILURE(Start(ModelA()));
    ASSERT_TRUE(WaitReady());
    // The template's rectangles in this dialog's font, in pixels.
    auto mapped = [&](int x, int y, int w, int h) {
        RECT r{x, y, x + w, y + h};
        MapDialogRect(dialog_, &r);
        return r;
    };
    const RECT preview0 = mapped(14, 12, 270, 216);
    const int pw = preview0.right - preview0.left, ph = preview0.bottom - preview0.top;
    const int delta = (pw / 5) * 4 - ph;

    const RECT preview = ClientRectIn(dialog_, Item(kPreview));
    EXPECT_EQ(preview0.left, preview.left);
    EXPECT_EQ(preview0.top, preview.top);
    EXPECT_EQ(pw, preview.right - preview.left);
    EXPECT_EQ(ph + delta, preview.bottom - preview.top);
    EXPECT_EQ((preview.right - preview.left) / 5 * 4, preview.bottom - preview.top);

    const RECT capture0 = mapped(298, 189, 70, 40);
    const RECT capture = ClientRectIn(dialog_, Item(kCapture));
    EXPECT_EQ(capture0.left, capture.left);
    EXPECT_EQ(capture0.top + delta, capture.top);
    EXPECT_EQ(capture0.right - capture0.left, capture.right - capture.left);
    EXPECT_EQ(capture0.bottom - capture0.top, capture.bottom - capture.top);

    // Unmoved: the settings button and the labels exactly, the lists in their
    // position and width (a drop-down list is as high as its edit field).
    struct Fixed {
        int id, x, y, w, h;
        bool fullHeight;
    };
    const Fixed fixed[] = {{kSettings, 298, 70, 70, 40, true},
                           {kFormatLabel, 299, 10, 70, 10, true},
                           {kSizeLabel, 299, 39, 70, 10, true},
                           {kFormatList, 298, 21, 70, 48, false},
                           {kSizeList, 298, 50, 70, 96, false}};
    for (const Fixed& f : fixed) {
        const RECT want = mapped(f.x, f.y, f.w, f.h);
        const RECT got = ClientRectIn(dialog_, Item(f.id));
        EXPECT_EQ(want.left, got.left) << f.id;
        EXPECT_EQ(want.top, got.top) << f.id;
        EXPECT_EQ(want.right, got.right) << f.id;
        if (f.fullHeight) {
            EXPECT_EQ(want.bottom, got.bottom) << f.id;
        }
    }

    // The dialog grew by the same amount: its client area is the template's
    // height plus delta.
    const RECT whole = mapped(0, 0, 381, 240);
    RECT client{};
    GetClientRect(dialog_, &client);
    EXPECT_EQ(whole.right, client.right);
    EXPECT_EQ(whole.bottom + delta, client.bottom);
    Finish();
}

// ---------------------------------------------------------------- capture

TEST_F(Dialog, CaptureTransfersThePictureByEachMechanism) {
    ASSERT_NO_FATAL_FAILURE(Start(ModelA()));
    ASSERT_TRUE(WaitReady());
    const std::string path = TempPath("kivds-dialog-capture.bmp");
    std::remove(path.c_str());
    const int w = 320, h = 240, stride = w * 3;

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ClickCapture();
        EXPECT_TRUE(FourEnabledAre(false)) << "controls still enabled after capture";
        ASSERT_TRUE(app_->WaitForMessage(MSG_XFERREADY, static_cast<std::size_t>(round + 1)));
        // Still disabled while the transfer is pending.
        app_->PumpFor(milliseconds(200));
        EXPECT_TRUE(FourEnabledAre(false));

        TW_IMAGEINFO info{};
        ASSERT_EQ(TWRC_SUCCESS, app_->Host().Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
        EXPECT_EQ(w, +info.ImageWidth);
        EXPECT_EQ(h, +info.ImageLength);
        if (round == 0) {
            // Native: a DIB, bottom-up BGR, the MJPEG edge lines trimmed away.
            TW_HANDLE dib = nullptr;
            ASSERT_EQ(TWRC_XFERDONE, app_->Host().Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
            ASSERT_NE(nullptr, dib);
            const auto* base = static_cast<const unsigned char*>(GlobalLock(static_cast<HGLOBAL>(dib)));
            ASSERT_NE(nullptr, base);
            for (int y : {0, 1, 120, 239})
                for (int x : {0, 255, 256, 319})
                    ExpectBgr(base + 40 + (h - 1 - y) * stride + x * 3, SimPixel(x, TrimmedSourceRow(y, h)), x, y,
                              "native");
            GlobalUnlock(static_cast<HGLOBAL>(dib));
            GlobalFree(static_cast<HGLOBAL>(dib));
        } else if (round == 1) {
            // Memory: top-down RGB strips in the application's buffer.
            std::vector<unsigned char> picture;
            ASSERT_EQ(TWRC_XFERDONE, app_->Host().MemoryTransfer(static_cast<std::size_t>(stride) * 50, picture))
                << app_->Host().Status();
            ASSERT_EQ(static_cast<std::size_t>(stride) * h, picture.size());
            for (int y : {0, 1, 238, 239})
                for (int x : {0, 300, 319}) {
                    const Rgb want = SimPixel(x, TrimmedSourceRow(y, h));
                    const unsigned char* px = &picture[static_cast<std::size_t>(y) * stride + x * 3];
                    EXPECT_EQ(+want.r, px[0]) << "memory " << x << "," << y;
                    EXPECT_EQ(+want.g, px[1]) << "memory " << x << "," << y;
                    EXPECT_EQ(+want.b, px[2]) << "memory " << x << "," << y;
                }
        } else {
            // File: a BMP of the same picture.
            TW_SETUPFILEXFER setup{};
            std::strncpy(setup.FileName, path.c_str(), sizeof setup.FileName - 1);
            setup.Format = TWFF_BMP;
            ASSERT_EQ(TWRC_SUCCESS, app_->Host().Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
            ASSERT_EQ(TWRC_XFERDONE, app_->Host().Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr))
                << app_->Host().Status();
            const std::vector<unsigned char> file = ReadBytes(path);
            ASSERT_EQ(54u + static_cast<std::size_t>(stride) * h, file.size());
            ExpectBgr(&file[54 + (h - 1) * stride + 319 * 3], SimPixel(319, TrimmedSourceRow(0, h)), 319, 0, "file");
            ExpectBgr(&file[54], SimPixel(0, TrimmedSourceRow(h - 1, h)), 0, h - 1, "file");
            ExpectBgr(&file[54 + 120 * stride + 256 * 3], SimPixel(256, TrimmedSourceRow(h - 1 - 120, h)), 256,
                      h - 1 - 120, "file");
        }
        ASSERT_NO_FATAL_FAILURE(EndTransferAndWaitReady());
    }
    std::remove(path.c_str());
    EXPECT_EQ(0u, app_->Count(MSG_CLOSEDSREQ));
    Finish();
}

// -------------------------------------------------- format and size changes

TEST_F(Dialog, FormatAndSizeChangesRestartThePreview) {
    ASSERT_NO_FATAL_FAILURE(Start(ModelA()));
    ASSERT_TRUE(WaitReady());
    // Choosing the entry already applied changes nothing.
    Select(kFormatList, L"MJPEG");
    EXPECT_TRUE(FourEnabledAre(true));

    Select(kFormatList, L"YUY2");
    EXPECT_TRUE(FourEnabledAre(false)) << "format change did not restart the preview";
    ASSERT_TRUE(WaitReady()) << "no frame after the format change";
    EXPECT_EQ(L"YUY2", ComboSelection(Item(kFormatList)));

    Select(kFormatList, L"MJPEG");
    ASSERT_TRUE(WaitReady());
    Select(kSizeList, L"640 x 480");
    EXPECT_TRUE(FourEnabledAre(false)) << "size change did not restart the preview";
    ASSERT_TRUE(WaitReady()) << "no frame after the size change";

    // The capture now has the chosen size.
    ClickCapture();
    ASSERT_TRUE(app_->WaitForMessage(MSG_XFERREADY));
    TW_IMAGEINFO info{};
    ASSERT_EQ(TWRC_SUCCESS, app_->Host().Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
    EXPECT_EQ(640, +info.ImageWidth);
    EXPECT_EQ(480, +info.ImageLength);
    TW_HANDLE dib = nullptr;
    ASSERT_EQ(TWRC_XFERDONE, app_->Host().Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
    if (const auto* base = static_cast<const unsigned char*>(GlobalLock(static_cast<HGLOBAL>(dib)))) {
        ExpectBgr(base + 40 + (479 - 300) * 1920 + 600 * 3, SimPixel(600, TrimmedSourceRow(300, 480)), 600, 300,
                  "native 640x480");
        GlobalUnlock(static_cast<HGLOBAL>(dib));
    }
    GlobalFree(static_cast<HGLOBAL>(dib));
    ASSERT_NO_FATAL_FAILURE(EndTransferAndWaitReady());
    Finish();
}

// --------------------------------------------------------- version dialog

TEST_F(Dialog, VersionDialogIsModalOverTheDialogAndClosesWithEscOrOk) {
    ASSERT_NO_FATAL_FAILURE(Start(ModelA()));
    ASSERT_TRUE(WaitReady());
    const Language& language = RunLanguage();
    for (const bool withEscape : {true, false}) {
        SCOPED_TRACE(withEscape ? "Esc" : "OK");
        Seen seen;
        {
            Watcher watcher([&] {
                if (!WaitFor([&] { return (seen.window = FindTopLevel(language.versionTitle)) != nullptr; },
                             milliseconds(10000)))
                    return;
                seen.owner = GetWindow(seen.window, GW_OWNER);
                seen.text = WindowText(GetDlgItem(seen.window, kVersionNumber));
                seen.product = WindowText(GetDlgItem(seen.window, kProduct));
                seen.licence = WindowText(GetDlgItem(seen.window, kLicence));
                seen.licenceReadOnly = (GetWindowLongW(GetDlgItem(seen.window, kLicence), GWL_STYLE) & ES_READONLY) !=
                                       0;
                seen.okText = WindowText(GetDlgItem(seen.window, IDOK));
                seen.dialogEnabledMeanwhile = IsWindowEnabled(dialog_) != FALSE;
                if (withEscape) PostMessageW(GetDlgItem(seen.window, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
                else
                    PostMessageW(seen.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                                 reinterpret_cast<LPARAM>(GetDlgItem(seen.window, IDOK)));
                seen.gone = WaitFor([&] { return !IsWindow(seen.window); }, milliseconds(10000));
            });
            PostMessageW(dialog_, WM_SYSCOMMAND, kVersionCommand, 0);
            EXPECT_TRUE(app_->PumpUntil([&] { return watcher.Done(); }, milliseconds(25000)));
        }
        ASSERT_NE(nullptr, seen.window) << "no version dialog";
        EXPECT_EQ(dialog_, seen.owner);
        EXPECT_EQ(L"2.00.0006", seen.text);
        EXPECT_EQ(kTitle, seen.product);
        EXPECT_NE(std::wstring::npos, seen.licence.find(L"Copyright")) << Narrow(seen.licence.substr(0, 80));
        EXPECT_NE(std::wstring::npos, seen.licence.find(L"\r\n"));
        EXPECT_TRUE(seen.licenceReadOnly);
        EXPECT_EQ(L"OK", seen.okText);
        EXPECT_FALSE(seen.dialogEnabledMeanwhile) << "the capture dialog stayed usable under the modal version dialog";
        EXPECT_TRUE(seen.gone);
        // Back to the capture dialog, which still works.
        EXPECT_TRUE(IsWindowEnabled(dialog_));
        EXPECT_TRUE(FourEnabledAre(true));
        EXPECT_EQ(0u, app_->Count(MSG_CLOSEDSREQ));
    }
    Finish();
}

TEST_F(Dialog, ClosingTheDialogEndsTheVersionDialogFirst) {
    ASSERT_NO_FATAL_FAILURE(Start(ModelA()));
    ASSERT_TRUE(WaitReady());
    Seen seen;
    bool versionAliveAtClose = true;
    app_->OnTwainMessage([&](TW_UINT16 msg) {
        if (msg == MSG_CLOSEDSREQ) versionAliveAtClose = seen.window && IsWindow(seen.window);
    });
    {
        Watcher watcher([&] {
            if (!WaitFor([&] { return (seen.window = FindTopLevel(L"Version information")) != nullptr; },
                         milliseconds(10000)))
                return;
            PostMessageW(dialog_, WM_CLOSE, 0, 0);
            seen.gone = WaitFor([&] { return !IsWindow(seen.window); }, milliseconds(10000));
        });
        PostMessageW(dialog_, WM_SYSCOMMAND, kVersionCommand, 0);
        EXPECT_TRUE(app_->WaitForMessage(MSG_CLOSEDSREQ, 1, milliseconds(25000)));
        EXPECT_TRUE(app_->PumpUntil([&] { return watcher.Done(); }));
    }
    ASSERT_NE(nullptr, seen.window);
    EXPECT_TRUE(seen.gone);
    EXPECT_FALSE(versionAliveAtClose);
    EXPECT_EQ(1u, app_->Count(MSG_CLOSEDSREQ));
    EXPECT_EQ(0, app_->Host().Status());  // the close request carries condition 0
    // Hidden, not destroyed, until the application disables the source.
    EXPECT_TRUE(IsWindow(dialog_));
    EXPECT_FALSE(IsWindowVisible(dialog_));
    Finish();
}

// ---------------------------------------------------------------- unplug

TEST_F(Dialog, UnpluggingShowsTheDisconnectedMessageOverTheDialogThenAsksToClose) {
    ASSERT_NO_FATAL_FAILURE(Start(ModelA()));
    ASSERT_TRUE(WaitReady());
    Seen seen;
    {
        Watcher watcher([&] {
            if (!WaitFor([&] { return (seen.window = FindMessageBox(dialog_)) != nullptr; }, milliseconds(10000)))
                return;
            seen.owner = GetWindow(seen.window, GW_OWNER);
            seen.title = TitleOf(seen.window);
            seen.text = LongestStaticText(seen.window);
            PostMessageW(seen.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            seen.gone = WaitFor([&] { return !IsWindow(seen.window); }, milliseconds(10000));
        });
        camera_->Unplug(0);
        EXPECT_TRUE(app_->WaitForMessage(MSG_CLOSEDSREQ, 1, milliseconds(25000)));
        EXPECT_TRUE(app_->PumpUntil([&] { return watcher.Done(); }));
    }
    ASSERT_NE(nullptr, seen.window) << "no message box owned by the capture dialog";
    EXPECT_EQ(kCaption, seen.title);
    EXPECT_EQ(std::wstring(kLanguages[0].disconnected), seen.text);
    EXPECT_TRUE(seen.gone);
    EXPECT_EQ(1u, app_->Count(MSG_CLOSEDSREQ));
    EXPECT_EQ(0u, app_->Count(MSG_XFERREADY));
    Finish();
}

TEST_F(Dialog, UnpluggingUnderTheVersionDialogOwnsTheMessageByIt) {
    ASSERT_NO_FATAL_FAILURE(Start(ModelA()));
    ASSERT_TRUE(WaitReady());
    Seen version, box;
    {
        Watcher watcher([&] {
            if (!WaitFor([&] { return (version.window = FindTopLevel(L"Version information")) != nullptr; },
                         milliseconds(10000)))
                return;
            camera_->Unplug(0);
            if (!WaitFor([&] { return (box.window = FindMessageBox(version.window)) != nullptr; }, milliseconds(10000)))
                return;
            box.owner = GetWindow(box.window, GW_OWNER);
            box.text = LongestStaticText(box.window);
            PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            box.gone = WaitFor([&] { return !IsWindow(box.window); }, milliseconds(10000));
            version.gone = WaitFor([&] { return !IsWindow(version.window); }, milliseconds(10000));
        });
        PostMessageW(dialog_, WM_SYSCOMMAND, kVersionCommand, 0);
        EXPECT_TRUE(app_->WaitForMessage(MSG_CLOSEDSREQ, 1, milliseconds(30000)));
        EXPECT_TRUE(app_->PumpUntil([&] { return watcher.Done(); }));
    }
    ASSERT_NE(nullptr, version.window);
    ASSERT_NE(nullptr, box.window) << "no message box owned by the version dialog";
    EXPECT_EQ(version.window, box.owner);
    EXPECT_EQ(std::wstring(kLanguages[0].disconnected), box.text);
    EXPECT_TRUE(box.gone);
    EXPECT_TRUE(version.gone) << "the version dialog outlived the camera";
    EXPECT_EQ(1u, app_->Count(MSG_CLOSEDSREQ));
    Finish();
}

// The camera's settings pages run in a modal property frame with the
// caption; the camera goes while it is open. Wine 8 gives the frame no owner
// (it ignores OleCreatePropertyFrame's owner window), so the dialog finds no
// frame of its own to put the message on: no message is shown, and the
// dialog still asks to be closed, once, also after the frame is closed and
// the settings call returns.
TEST_F(Dialog, UnpluggingUnderTheSettingsPagesClosesTheDialogOnce) {
    ASSERT_NO_FATAL_FAILURE(Start(ModelA()));
    ASSERT_TRUE(WaitReady());
    Seen frame;
    bool boxShown = false;
    {
        Watcher watcher([&] {
            auto findFrame = [&] {
                for (HWND w : TopLevelWindows(L"Properties for Orvan Document Camera")) frame.window = w;
                for (HWND w = GetTopWindow(nullptr); w && !frame.window; w = GetWindow(w, GW_HWNDNEXT)) {
                    DWORD pid = 0;
                    GetWindowThreadProcessId(w, &pid);
                    if (pid == GetCurrentProcessId() && w != dialog_ && IsWindowVisible(w) &&
                        ClassName(w) == L"#32770" && TitleOf(w).find(kCaption) != std::wstring::npos)
                        frame.window = w;
                }
                return frame.window != nullptr;
            };
            if (!WaitFor(findFrame, milliseconds(10000))) return;
            frame.title = TitleOf(frame.window);
            frame.owner = GetWindow(frame.window, GW_OWNER);
            camera_->Unplug(0);
            // A message would be up by now, over the frame or the dialog.
            boxShown = WaitFor([&] { return !TopLevelWindows(kCaption).empty(); }, milliseconds(3000));
            for (HWND box : TopLevelWindows(kCaption)) PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            PostMessageW(frame.window, WM_CLOSE, 0, 0);
            frame.gone = WaitFor([&] { return !IsWindow(frame.window); }, milliseconds(10000));
        });
        PostMessageW(dialog_, WM_COMMAND, MAKEWPARAM(kSettings, BN_CLICKED), reinterpret_cast<LPARAM>(Item(kSettings)));
        EXPECT_TRUE(app_->WaitForMessage(MSG_CLOSEDSREQ, 1, milliseconds(30000)));
        EXPECT_TRUE(app_->PumpUntil([&] { return watcher.Done(); }));
        app_->PumpFor(milliseconds(300));  // a second close request would come now
    }
    ASSERT_NE(nullptr, frame.window) << "no property frame with the caption";
    EXPECT_NE(std::wstring::npos, frame.title.find(kCaption)) << Narrow(frame.title);
    if (frame.owner == dialog_) {
        // Where the frame is the dialog's (Windows), the message goes over it.
        EXPECT_TRUE(boxShown);
    } else {
        EXPECT_FALSE(boxShown) << "a message without a frame of the dialog's to own it";
    }
    EXPECT_TRUE(frame.gone);
    EXPECT_EQ(1u, app_->Count(MSG_CLOSEDSREQ));
    EXPECT_FALSE(IsWindowVisible(dialog_));
    Finish();
}

// ------------------------------------------------------------ screenshots

// The dialog as the user sees it in the run's language: the live preview
// (checked against the camera's pattern), the capture button held down, a
// preview zoomed by the camera's button, the version dialog and the
// disconnected message.
TEST_F(Dialog, ScreensOfPreviewPressedZoomVersionAndDisconnection) {
    const Language& language = RunLanguage();
    ASSERT_NO_FATAL_FAILURE(Start(ModelBWithZoomPress()));
    ASSERT_TRUE(WaitReady());
    app_->PumpFor(milliseconds(500));
    const int w = 320, h = 240;

    // 1. The preview: the camera's pattern, scaled into the video area.
    const RECT video = VideoArea();
    ASSERT_GT(video.right - video.left, 100);
    const ScreenShot released = ScreenShot::Take(ScreenRect(Item(kCapture)));
    {
        const ScreenShot shot = ScreenShot::Take(ScreenRect(dialog_));
        ASSERT_FALSE(shot.Empty());
        EXPECT_FALSE(SaveArtifact(shot, "capture-dialog").empty());
        // Centres of smooth regions of the pattern, away from the wrap of R
        // at x = 256; the tolerance covers scaling and the MJPEG round trip.
        for (int y : {40, 120, 200})
            for (int x : {40, 120, 200, 300}) {
                const POINT at = ScreenPointOf(video, x, y, w, h);
                const ScreenPixel got = shot.AtScreen(at.x, at.y);
                const Rgb want = SimPixel(x, y);
                EXPECT_TRUE(Near(got.r, want.r, 16) && Near(got.g, want.g, 16) && Near(got.b, want.b, 16))
                    << "preview at camera " << x << "," << y << ": got " << +got.r << "," << +got.g << "," << +got.b
                    << " want " << +want.r << "," << +want.g << "," << +want.b;
            }
    }

    // 2. The capture button held down, then released: a capture.
    {
        HWND button = Item(kCapture);
        RECT r{};
        GetClientRect(button, &r);
        const LPARAM centre = MAKELPARAM((r.right - r.left) / 2, (r.bottom - r.top) / 2);
        SendMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, centre);
        app_->PumpFor(milliseconds(300));
        EXPECT_TRUE(SendMessageW(button, BM_GETSTATE, 0, 0) & BST_PUSHED);
        const ScreenShot shot = ScreenShot::Take(ScreenRect(dialog_));
        EXPECT_FALSE(SaveArtifact(shot, "capture-pressed").empty());
        // The held button is drawn differently (its frame and icon).
        int changed = 0;
        const POINT o = released.Origin();
        for (int y = o.y; y < o.y + released.Height(); ++y)
            for (int x = o.x; x < o.x + released.Width(); ++x) {
                const ScreenPixel a = released.AtScreen(x, y), b = shot.AtScreen(x, y);
                changed += a.r != b.r || a.g != b.g || a.b != b.b;
            }
        EXPECT_GT(changed, released.Width()) << "the held capture button looks like the released one";
        SendMessageW(button, WM_LBUTTONUP, 0, centre);
        ASSERT_TRUE(app_->WaitForMessage(MSG_XFERREADY)) << "releasing the held button did not capture";
        TW_HANDLE dib = nullptr;
        ASSERT_EQ(TWRC_XFERDONE, app_->Host().Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
        GlobalFree(static_cast<HGLOBAL>(dib));
        ASSERT_NO_FATAL_FAILURE(EndTransferAndWaitReady());
    }

    // 3. The zoom-in button of the camera: the preview shows a smaller part
    // of the picture, so a point near the top shows a lower camera row.
    {
        const POINT probe = ScreenPointOf(video, 160, 24, w, h);
        const int before = ScreenShot::Take(ScreenRect(dialog_)).AtScreen(probe.x, probe.y).g;
        EXPECT_TRUE(Near(before, 24, 16)) << before;
        const bool zoomed = app_->PumpUntil(
            [&] { return ScreenShot::Take(ScreenRect(dialog_)).AtScreen(probe.x, probe.y).g > before + 10; },
            milliseconds(25000));
        EXPECT_TRUE(zoomed) << "the pressed zoom button did not zoom the preview";
        app_->PumpFor(milliseconds(1500));
        EXPECT_FALSE(SaveArtifact(ScreenShot::Take(ScreenRect(dialog_)), "capture-zoomed").empty());
    }

    // 4. The version dialog, then 5. the disconnected message over it.
    Seen version, box;
    {
        Watcher watcher([&] {
            if (!WaitFor([&] { return (version.window = FindTopLevel(language.versionTitle)) != nullptr; },
                         milliseconds(10000)))
                return;
            Photograph(version.window, "version-dialog");
            camera_->Unplug(0);
            if (!WaitFor([&] { return (box.window = FindMessageBox(version.window)) != nullptr; }, milliseconds(10000)))
                return;
            box.text = LongestStaticText(box.window);
            Photograph(box.window, "disconnected-message");
            PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            box.gone = WaitFor([&] { return !IsWindow(box.window); }, milliseconds(10000));
        });
        PostMessageW(dialog_, WM_SYSCOMMAND, kVersionCommand, 0);
        EXPECT_TRUE(app_->WaitForMessage(MSG_CLOSEDSREQ, 1, milliseconds(30000)));
        EXPECT_TRUE(app_->PumpUntil([&] { return watcher.Done(); }));
    }
    ASSERT_NE(nullptr, version.window) << "no version dialog titled " << Narrow(language.versionTitle);
    ASSERT_NE(nullptr, box.window);
    EXPECT_EQ(std::wstring(language.disconnected), box.text);
    Finish();
}
