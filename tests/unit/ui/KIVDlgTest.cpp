// CKIVDlg over the headless view, with a scripted camera, a fake viewer
// platform, a counting service client and a recording manager.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kivds/camera/IKIVSVCClient.h"
#include "kivds/camera/KIVUVCControl.h"
#include "kivds/camera/ModelName.h"
#include "kivds/platform/MessageBox.h"
#include "kivds/protocol/SourceNotifier.h"
#include "kivds/ui/KIVDlg.h"
#include "kivds/ui/DialogControls.h"
#include "kivds/ui/Viewer.h"
#include "kivds/ui/headless/HeadlessScript.h"
#include "kivds/ui/headless/HeadlessView.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedCamera.h"

namespace kiv {
namespace {

struct Notified {
    twain::TW_UINT16 message;
    std::optional<std::vector<std::int32_t>> frame;
    std::optional<twain::TW_UINT16> condition;
};

class RecordingManager final : public ISourceNotifier {
public:
    int Notify(twain::TW_UINT16 message, void* data) override {
        Notified n{message, std::nullopt, std::nullopt};
        if (message == twain::MSG_XFERREADY && data) {
            const auto* r = static_cast<const std::int32_t*>(data);
            n.frame = std::vector<std::int32_t>(r, r + 4);
        }
        if (message == twain::MSG_CLOSEDSREQ && data) n.condition = *static_cast<const twain::TW_UINT16*>(data);
        log.push_back(n);
        if (inside) inside(message);
        return 1;
    }
    std::size_t Count(twain::TW_UINT16 message) const {
        std::size_t count = 0;
        for (const Notified& n : log) count += n.message == message ? 1 : 0;
        return count;
    }
    std::vector<Notified> log;
    std::function<void(twain::TW_UINT16)> inside;  // what the application does before the notification returns
};

class FakeViewerPlatform final : public IViewerPlatform {
public:
    bool running = false;
    std::vector<std::string> started;
    std::vector<WindowHandle> askedToClose;
    std::optional<std::vector<ProcessEntry>> SnapshotProcesses() override {
        std::vector<ProcessEntry> list{{10, "init"}};
        if (running) list.push_back({77, "KIVVIEW.EXE"});
        return list;
    }
    std::vector<TopLevelWindow> TopLevelWindows() override { return {{WindowFromProcessId(77), 77, false, running}}; }
    std::optional<std::string> ModulePath(std::uint32_t) override { return std::string("/opt/kiv/kivview.exe"); }
    bool AskToClose(WindowHandle window) override {
        askedToClose.push_back(window);
        return true;
    }
    bool Start(const std::string& path) override {
        started.push_back(path);
        return true;
    }
    PathStyle Style() const override { return PathStyle::Posix; }
};

struct ServiceCounts {
    int clients = 0;
    int deletes = 0;
    int creates = 0;
};

class CountingService final : public IKIVSVCClient {
public:
    explicit CountingService(ServiceCounts& counts) : counts_(counts) { ++counts_.clients; }
    bool HasInstance() const override { return true; }
    void RegistryDeleteNodeInterfacesKey() override { ++counts_.deletes; }
    void CreateNodeInterfacesKeyForKIVVIEW() override { ++counts_.creates; }

private:
    ServiceCounts& counts_;
};

CUVCMediaFormat Mjpeg(int w, int h, int isDefault = 0) {
    return CUVCMediaFormat(MediaSubtypeMJPG, UVCFMT_MJPEG, CResolution(w, h, isDefault));
}
CUVCMediaFormat Yuy2(int w, int h, int isDefault = 0) {
    return CUVCMediaFormat(MediaSubtypeYUY2, UVCFMT_YUY2, CResolution(w, h, isDefault));
}

class CaptureDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearHeadlessMessages();
        CKIVUVCControl::DestroyInstance();
        CKIVUVCControl::SetCameraFactory(
            [this]() -> std::unique_ptr<IKIVCameraControl> { return std::make_unique<ScriptedCamera>(camera); });
        SetServiceClientFactory(
            [this]() -> std::unique_ptr<IKIVSVCClient> { return std::make_unique<CountingService>(service); });
        SetActiveNotifier(&manager);
        camera.formats = {Yuy2(320, 240), Mjpeg(1280, 720), Mjpeg(640, 480, 1), Mjpeg(320, 240)};
        camera.current = Mjpeg(640, 480, 1);
    }
    void TearDown() override {
        dlg.reset();
        SetActiveNotifier(nullptr);
        SetServiceClientFactory({});
        CKIVUVCControl::DestroyInstance();
        CKIVUVCControl::SetCameraFactory({});
        ClearHeadlessMessages();
    }

    // Creates and initialises the dialog; the first frame arrives when asked.
    bool Start(bool firstFrame = true) {
        dlg = std::make_unique<CKIVDlg>(view, viewer);
        const bool ok = dlg->OnInitDialog();
        if (ok && firstFrame) dlg->OnMessage(WM_FRAMEARRIVED);
        return ok;
    }
    std::vector<std::string> Texts(int id) const {
        std::vector<std::string> texts;
        const HeadlessSnapshot shown = view.Snapshot();
        for (const auto& e : shown.lists.at(id).entries) texts.push_back(e.text);
        return texts;
    }

    kivtest::ScopedEnv headless_{"KIVDS_UI", "headless"};
    kivtest::ScopedEnv english_{"LC_ALL", "en_US.UTF-8"};
    CameraScript camera;
    RecordingManager manager;
    FakeViewerPlatform viewer;
    ServiceCounts service;
    HeadlessView view;
    std::unique_ptr<CKIVDlg> dlg;
};

TEST_F(CaptureDialogTest, ListsAreFilledSortedAndTheLastDefaultSizeIsSelected) {
    camera.formats = {Mjpeg(800, 600, 1), Mjpeg(320, 240), Mjpeg(640, 480, 1), Yuy2(320, 240)};
    camera.current = Mjpeg(640, 480);
    ASSERT_TRUE(Start(false));
    EXPECT_EQ((std::vector<std::string>{"MJPEG", "YUY2"}), Texts(IDC_FORMAT_LIST));
    EXPECT_EQ((std::vector<std::string>{"320 x 240", "640 x 480", "800 x 600"}), Texts(IDC_SIZE_LIST));
    // Two sizes carry the flag: the later one in the sorted list wins.
    EXPECT_EQ(2, view.ListSelection(IDC_SIZE_LIST));
    EXPECT_EQ(0, view.ListSelection(IDC_FORMAT_LIST));
    // Disabled until the first frame, the labels never.
    EXPECT_FALSE(view.ControlsEnabled());
    EXPECT_TRUE(view.IsEnabled(IDC_FORMAT_LABEL));
    dlg->OnMessage(WM_FRAMEARRIVED);
    EXPECT_TRUE(view.ControlsEnabled());
    // The preview is laid out 5:4 and the dialog follows its height.
    const HeadlessSnapshot shown = view.Snapshot();
    EXPECT_EQ(shown.rects.at(IDC_PREVIEW).Width() / 5 * 4, shown.rects.at(IDC_PREVIEW).Height());
}

TEST_F(CaptureDialogTest, NoDefaultSizeSelectsTheFirstAndAFormatWithoutEntryLeavesNoneSelected) {
    camera.formats = {Mjpeg(640, 480), Mjpeg(320, 240)};
    camera.current = CUVCMediaFormat(MediaSubtypeYUY2, UVCFMT_YUY2, CResolution(640, 480));
    ASSERT_TRUE(Start(false));
    EXPECT_EQ(-1, view.ListSelection(IDC_FORMAT_LIST));
    EXPECT_EQ(0, dlg->CurrentFormatIndex());
    EXPECT_EQ(0, view.ListCount(IDC_SIZE_LIST));  // no size of the current type
}

TEST_F(CaptureDialogTest, FailingInitialisationEndsTheDialogWithoutACloseRequest) {
    camera.failRun = true;
    EXPECT_FALSE(Start(false));
    EXPECT_TRUE(dlg->Ended());
    EXPECT_TRUE(manager.log.empty());
    EXPECT_TRUE(HeadlessMessages().empty());
    EXPECT_EQ(0, service.clients);  // initialisation stopped before the service
    // Without a camera the commands do nothing.
    view.ListSelect(IDC_FORMAT_LIST, 1);
    dlg->OnCommand(IDC_FORMAT_LIST, CBN_SELCHANGE);
    EXPECT_TRUE(camera.setFormats.empty());
}

TEST_F(CaptureDialogTest, CaptureAnnouncesTheSelectedSizeAndStaysDisabledUntilTheTransferEnds) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(view.Pick(*dlg, IDC_SIZE_LIST, "1280 x 720"));
    dlg->OnMessage(WM_FRAMEARRIVED);
    ASSERT_TRUE(view.Press(*dlg, IDC_CAPTURE));
    ASSERT_EQ(1u, manager.log.size());
    EXPECT_EQ((std::vector<std::int32_t>{0, 0, 1280, 720}), *manager.log[0].frame);
    EXPECT_FALSE(view.Press(*dlg, IDC_CAPTURE));
    // A late first-frame notification does not open the way for a second capture.
    dlg->OnMessage(WM_FRAMEARRIVED);
    EXPECT_FALSE(view.ControlsEnabled());
    dlg->OnMessage(WM_XFERDONE);
    EXPECT_TRUE(view.Press(*dlg, IDC_CAPTURE));
    EXPECT_EQ(2u, manager.Count(twain::MSG_XFERREADY));
}

TEST_F(CaptureDialogTest, FormatChangeKeepsTheSizeListAndClampsItsPositionToTheNewFormat) {
    ASSERT_TRUE(Start());
    // Choosing the applied format again does nothing.
    ASSERT_TRUE(view.Pick(*dlg, IDC_FORMAT_LIST, "MJPEG"));
    EXPECT_TRUE(camera.setFormats.empty());
    EXPECT_TRUE(view.ControlsEnabled());

    ASSERT_TRUE(view.Pick(*dlg, IDC_SIZE_LIST, "1280 x 720"));  // position 2
    ASSERT_EQ(1u, camera.setFormats.size());
    dlg->OnMessage(WM_FRAMEARRIVED);
    ASSERT_TRUE(view.Pick(*dlg, IDC_FORMAT_LIST, "YUY2"));  // one size only
    ASSERT_EQ(2u, camera.setFormats.size());
    EXPECT_EQ(UVCFMT_YUY2, camera.setFormats[1].first);
    EXPECT_EQ(320, camera.setFormats[1].second.width);
    EXPECT_EQ(240, camera.setFormats[1].second.height);
    EXPECT_EQ((std::vector<std::string>{"320 x 240", "640 x 480", "1280 x 720"}), Texts(IDC_SIZE_LIST));
    EXPECT_FALSE(view.ControlsEnabled());
    dlg->OnMessage(WM_FRAMEARRIVED);
    EXPECT_TRUE(view.ControlsEnabled());
    // A capture now asks for the size the camera streams.
    ASSERT_TRUE(view.Press(*dlg, IDC_CAPTURE));
    EXPECT_EQ((std::vector<std::int32_t>{0, 0, 320, 240}), *manager.log.back().frame);
}

TEST_F(CaptureDialogTest, FailingFormatChangeShowsTheMessageAndAsksOnceToClose) {
    ASSERT_TRUE(Start());
    camera.failSetFormat = true;
    ASSERT_TRUE(view.Pick(*dlg, IDC_SIZE_LIST, "320 x 240"));
    const std::vector<ShownMessage> shown = HeadlessMessages();
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ("Other error (32771)", shown[0].text);
    EXPECT_EQ(view.Window(), shown[0].owner);
    ASSERT_EQ(1u, manager.log.size());
    EXPECT_EQ(twain::MSG_CLOSEDSREQ, manager.log[0].message);
    EXPECT_EQ(0, *manager.log[0].condition);
    EXPECT_TRUE(view.Snapshot().ended);
    EXPECT_EQ(1, dlg->CurrentSizeIndex());  // the failed change was not applied
}

TEST_F(CaptureDialogTest, CaptureWithAnEmptySizeListKeepsTheManagersFrame) {
    camera.formats = {Mjpeg(640, 480)};
    camera.current = CUVCMediaFormat(MediaSubtypeYUY2, UVCFMT_YUY2, CResolution(640, 480));
    ASSERT_TRUE(Start());
    ASSERT_TRUE(view.Press(*dlg, IDC_CAPTURE));
    ASSERT_EQ(1u, manager.log.size());
    EXPECT_FALSE(manager.log[0].frame.has_value());
    // A size change without sizes applies nothing.
    dlg->OnCommand(IDC_SIZE_LIST, CBN_SELCHANGE);
    EXPECT_TRUE(camera.setFormats.empty());
}

TEST_F(CaptureDialogTest, PollingRunsForTheThreeButtonModelsOnly) {
    for (const wchar_t* name : {L"KIVCAMA", L"orvan kivcamb", L"KIVCAMAorB", L"ORVAN KIVCAMC"}) {
        camera.name = name;
        HeadlessView fresh;
        CKIVDlg d(fresh, viewer);
        ASSERT_TRUE(d.OnInitDialog());
        d.OnMessage(WM_FRAMEARRIVED);
        const bool polled = std::wstring(name) != L"ORVAN KIVCAMC";
        EXPECT_EQ(polled ? 1u : 0u, fresh.Snapshot().timers.count(kPollTimer));
        const int before = camera.polls;
        d.OnTimer(kPollTimer);
        d.OnTimer(5);  // other timers are ignored
        EXPECT_EQ(before + 1, camera.polls);
        d.OnCancel();
        EXPECT_EQ(0u, fresh.Snapshot().timers.count(kPollTimer));
    }
}

TEST_F(CaptureDialogTest, DeviceChangeStopsThePollOnlyWhenModelAIsGone) {
    camera.name = L"KIVCAMA";
    ASSERT_TRUE(Start());
    dlg->OnDeviceChange();
    EXPECT_EQ(1u, view.Snapshot().timers.count(kPollTimer));
    camera.present = false;
    dlg->OnDeviceChange();
    EXPECT_EQ(0u, view.Snapshot().timers.count(kPollTimer));
    EXPECT_TRUE(manager.log.empty());  // the loss itself comes through graph events
}

TEST_F(CaptureDialogTest, CameraLossWithThePropertyFrameOpenIsReportedOverTheFrame) {
    ASSERT_TRUE(Start());
    WindowHandle frame = nullptr;
    WindowHandle other = view.AddOwnedWindow("Something else");
    camera.duringPages = [&] {
        frame = view.AddOwnedWindow("Orvan Document Camera Properties");
        camera.lost = true;
        dlg->OnMessage(WM_GRAPHNOTIFY);
    };
    ASSERT_TRUE(view.Press(*dlg, IDC_SETTINGS));
    EXPECT_EQ("ShowPropertyPages Orvan Document Camera", camera.calls[camera.calls.size() - 2]);
    const std::vector<ShownMessage> shown = HeadlessMessages();
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ(frame, shown[0].owner);
    EXPECT_EQ(std::vector<WindowHandle>{frame}, view.ClosedWindows());
    (void)other;
    EXPECT_EQ(1u, manager.Count(twain::MSG_CLOSEDSREQ));
    EXPECT_TRUE(view.Snapshot().ended);
}

TEST_F(CaptureDialogTest, CameraLossWithTheVersionDialogOpenIsOwnedByIt) {
    ASSERT_TRUE(Start());
    WindowHandle versionWindow = nullptr;
    view.SetVersionDialogHook([&] {
        versionWindow = view.VersionDialog()->Window();
        camera.lost = true;
        dlg->OnMessage(WM_GRAPHNOTIFY);
    });
    view.ChooseVersionInformation(*dlg);
    const std::vector<ShownMessage> shown = HeadlessMessages();
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ(versionWindow, shown[0].owner);
    EXPECT_EQ("A camera has been disconnected or has not been connected. Connect a camera to the computer.",
              shown[0].text);
    EXPECT_EQ(1u, manager.Count(twain::MSG_CLOSEDSREQ));
    const HeadlessSnapshot snapshot = view.Snapshot();
    EXPECT_EQ("Version information", snapshot.versionTitle);
    EXPECT_EQ("2.00.0006", snapshot.versionTexts.at(IDC_VERSION_NUMBER));
    EXPECT_EQ("OK", snapshot.versionTexts.at(IDOK_BUTTON));
}

TEST_F(CaptureDialogTest, FailingSettingsShowTheMessageAndClose) {
    ASSERT_TRUE(Start());
    camera.failPages = true;
    ASSERT_TRUE(view.Press(*dlg, IDC_SETTINGS));
    ASSERT_EQ(1u, HeadlessMessages().size());
    EXPECT_EQ("A camera has been disconnected or has not been connected. Connect a camera to the computer.",
              HeadlessMessages()[0].text);
    EXPECT_EQ(1u, manager.Count(twain::MSG_CLOSEDSREQ));
}

TEST_F(CaptureDialogTest, WithoutSettingsPagesTheSettingsButtonStaysDisabledAndTheDialogOpen) {
    camera.hasPages = false;
    ASSERT_TRUE(Start());
    EXPECT_TRUE(view.ControlsEnabled());  // ready: the lists and capture are on
    EXPECT_FALSE(view.IsEnabled(IDC_SETTINGS));
    dlg->OnCommand(IDC_SETTINGS, BN_CLICKED);  // even a click that slips through
    EXPECT_TRUE(HeadlessMessages().empty());
    EXPECT_FALSE(dlg->Ended());
    ASSERT_TRUE(view.Press(*dlg, IDC_CAPTURE));
    dlg->OnMessage(WM_XFERDONE);
    EXPECT_FALSE(view.IsEnabled(IDC_SETTINGS));
    EXPECT_TRUE(view.IsEnabled(IDC_CAPTURE));
}

// Notices are posted: the first frame, or a transfer's end, may come after the close.
TEST_F(CaptureDialogTest, NoticesThatArriveAfterTheCloseLeaveTheEndedDialogAlone) {
    camera.name = kModelA;  // polled: the first frame would start timer 0
    ASSERT_TRUE(Start(false));
    view.PressClose(*dlg);
    ASSERT_TRUE(dlg->Ended());
    dlg->OnMessage(WM_FRAMEARRIVED);
    dlg->OnMessage(WM_XFERDONE);
    EXPECT_FALSE(view.ControlsEnabled());
    EXPECT_TRUE(view.Snapshot().timers.empty());
}

// The application disables and closes the source as soon as it hears of the
// close request: the window and then the camera are destroyed before the
// request returns, and nothing of the dialog reaches the camera after.
TEST_F(CaptureDialogTest, CameraClosedInsideTheCloseRequestIsNotTouchedAgain) {
    camera.name = kModelA;
    ASSERT_TRUE(Start());
    manager.inside = [this](twain::TW_UINT16 message) {
        if (message != twain::MSG_CLOSEDSREQ) return;
        dlg->DestroyWindow();
        CKIVUVCControl::DestroyInstance();
    };
    camera.lost = true;
    dlg->OnMessage(WM_GRAPHNOTIFY);
    ASSERT_EQ(1u, manager.Count(twain::MSG_CLOSEDSREQ));
    const std::size_t calls = camera.calls.size();
    dlg->OnMessage(WM_GRAPHNOTIFY);
    dlg->OnTimer(kPollTimer);
    dlg->OnDeviceChange();
    dlg->OnCancel();
    EXPECT_EQ(calls, camera.calls.size());
    EXPECT_EQ(1u, manager.Count(twain::MSG_CLOSEDSREQ));
}

TEST_F(CaptureDialogTest, RunningViewerIsClosedAndStartedAgainWithTheKeyRecreated) {
    viewer.running = true;
    ASSERT_TRUE(Start());
    EXPECT_EQ(1, service.deletes);
    ASSERT_EQ(1u, viewer.askedToClose.size());
    EXPECT_EQ(WindowFromProcessId(77), viewer.askedToClose[0]);
    EXPECT_EQ("/opt/kiv/kivview.exe", dlg->ViewerPath());
    EXPECT_TRUE(viewer.started.empty());
    dlg->DestroyWindow();
    EXPECT_EQ(1, service.creates);
    EXPECT_EQ(std::vector<std::string>{"/opt/kiv/kivview.exe"}, viewer.started);
    EXPECT_TRUE(dlg->ViewerPath().empty());
    dlg->DestroyWindow();  // a second destruction restarts nothing
    EXPECT_EQ(1u, viewer.started.size());
}

TEST_F(CaptureDialogTest, WithoutAViewerNothingIsRestartedAndTheKeyStaysDeleted) {
    ASSERT_TRUE(Start());
    view.PressClose(*dlg);
    EXPECT_EQ(1u, manager.Count(twain::MSG_CLOSEDSREQ));
    EXPECT_EQ("Stop", camera.calls.back());
    dlg->DestroyWindow();
    EXPECT_EQ(1, service.deletes);
    EXPECT_EQ(0, service.creates);
    EXPECT_TRUE(viewer.started.empty());
}

TEST_F(CaptureDialogTest, ScriptStopsAtAnUnknownOrImpossibleStep) {
    ASSERT_TRUE(Start(false));
    ScriptedHeadlessDialog target(view, *dlg);
    UiScript script("frame; capture ;bogus;close");
    EXPECT_TRUE(script.Advance(target).has_value());  // waits for the first frame
    EXPECT_EQ(0u, manager.Count(twain::MSG_XFERREADY));
    EXPECT_FALSE(script.Finished());
    dlg->OnMessage(WM_FRAMEARRIVED);
    EXPECT_TRUE(script.Advance(target).has_value());  // pressed capture
    EXPECT_EQ(1u, manager.Count(twain::MSG_XFERREADY));
    testing::internal::CaptureStderr();
    script.Advance(target);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, err.find("bogus"));
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(0u, manager.Count(twain::MSG_CLOSEDSREQ));  // "close" never ran

    UiScript impossible("capture");  // the controls are disabled after the capture
    testing::internal::CaptureStderr();
    impossible.Advance(target);
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("capture"));
    EXPECT_EQ(1u, manager.Count(twain::MSG_XFERREADY));
}

TEST(ButtonDrawing, IconIsCentredOnTheItemAndMovesWhenPressed) {
    const ViewRect item{0, 0, 105, 65};
    ButtonDrawPlan plan = PlanButtonDrawing(IDC_CAPTURE, item, true, false);
    EXPECT_EQ(IDI_CAPTURE, plan.iconId);
    EXPECT_EQ(28, plan.iconX);
    EXPECT_EQ(8, plan.iconY);
    EXPECT_TRUE(plan.focusFrame);
    EXPECT_EQ(1, plan.face.left);
    EXPECT_EQ(4, plan.focus.left);
    plan = PlanButtonDrawing(IDC_SETTINGS, item, true, true);
    EXPECT_EQ(IDI_SETTINGS, plan.iconId);
    EXPECT_EQ(29, plan.iconX);
    EXPECT_EQ(5, plan.focus.left);
    EXPECT_TRUE(plan.shadowFrame);
}

TEST(DialogUnits, HalvesRoundAwayFromZeroAsMapDialogRectDoes) {
    EXPECT_EQ(572, DialogUnitsX(kCaptureDialogWidth));  // 571.5
    EXPECT_EQ(20, DialogUnitsY(12));                    // 19.5
    EXPECT_EQ(16, DialogUnitsY(10));                    // 16.25
    EXPECT_EQ(-2, DialogUnitsX(-1));                    // -1.5
    // The headless view lays its template out the same way.
    HeadlessView view;
    const ViewRect dialog = view.ScreenRect(0);
    const ViewRect preview = view.ScreenRect(IDC_PREVIEW);
    EXPECT_EQ(572, dialog.Width());
    EXPECT_EQ(20, preview.top - dialog.top);
}

}  // namespace
}  // namespace kiv
