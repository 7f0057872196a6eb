// The camera logic against a scripted platform: device binding and model
// names, format choice, graph life, events, preview, zoom and still grab.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "kivds/camera/CameraLogic.h"
#include "kivds/image/Bgr24.h"
#include "kivds/image/ImageReference.h"
#include "unit/camera/FakeVideoPlatform.h"

namespace kiv {
namespace {

using test::FakeVideoPlatform;
using test::FakeWindowBridge;
using test::ScopedBridge;

const std::wstring kPathA = L"\\\\?\\usb#vid_1a3c&pid_0b21&mi_00#6&1f2e3d4c&0&0000#{guid}\\global";
const std::wstring kPathOtherPid = L"\\\\?\\usb#vid_1a3c&pid_0c00&mi_00#7&aa&0&0000#{guid}\\global";
const std::wstring kPathOtherMaker = L"\\\\?\\usb#vid_046d&pid_0825&mi_00#8&bb&0&0000#{guid}\\global";

StreamCapability Cap(const Guid& subtype, std::int32_t w, std::int32_t h, bool videoInfo = true) {
    StreamCapability c;
    c.subtype = subtype;
    c.videoInfo = videoInfo;
    c.width = w;
    c.height = h;
    return c;
}

void SetCurrent(StreamCaps& caps, std::int32_t w, std::int32_t h) {
    caps.hasCurrent = true;
    caps.currentWidth = w;
    caps.currentHeight = h;
}

WindowHandle Window(int n) { return reinterpret_cast<WindowHandle>(static_cast<std::intptr_t>(0x1000 + n)); }

class CameraTest : public ::testing::Test {
protected:
    CameraTest() {
        auto platform = std::make_unique<FakeVideoPlatform>();
        fake = platform.get();
        fake->devices = {{kPathA, L"KIVCAMA", true}};
        SetCurrent(fake->caps, 1920, 1080);
        fake->caps.entries = {Cap(MediaSubtypeMJPG, 1920, 1080), Cap(MediaSubtypeMJPG, 1280, 720),
                              Cap(MediaSubtypeYUY2, 640, 480)};
        camera = std::make_unique<CCameraLogic>(std::move(platform));
        LastCameraError = 0;
    }

    CUVCDeviceInfo Info() {
        std::unique_ptr<CUVCDeviceInfo> info;
        EXPECT_EQ(camera->GetDeviceInfo(info), 1);
        return info ? *info : CUVCDeviceInfo();
    }

    FakeVideoPlatform* fake = nullptr;  // owned by camera
    std::unique_ptr<CCameraLogic> camera;
};

// -- binding and model names ----------------------------------------------------

TEST_F(CameraTest, OpenFailsNotFoundWithoutAMakerDevice) {
    fake->devices = {{kPathOtherMaker, L"Webcam", true}};
    EXPECT_EQ(camera->Open(), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_NOT_FOUND);
    EXPECT_TRUE(fake->bindCalls.empty());

    fake->devices.clear();
    fake->results["ListDevices"] = PlatformResult::NotFound;  // empty category
    EXPECT_EQ(camera->Open(), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_NOT_FOUND);
}

TEST_F(CameraTest, UpperCaseVendorIdIsNotTheMaker) {
    fake->devices = {{L"\\\\?\\USB#VID_1A3C&PID_0B21&MI_00#x", L"KIVCAMA", true}};
    EXPECT_EQ(camera->Open(), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_NOT_FOUND);
    EXPECT_EQ(camera->IsDevicePresent(L"KIVCAMA"), 0);
}

TEST_F(CameraTest, BindsTheFirstMakerDeviceAndNeverTriesTheNext) {
    fake->devices = {{kPathOtherMaker, L"Webcam", true}, {kPathA, L"KIVCAMA", true}, {kPathOtherPid, L"X", true}};
    ASSERT_EQ(camera->Open(), 1);
    EXPECT_EQ(fake->bindCalls, std::vector<std::size_t>{1});
    EXPECT_EQ(Info().devicePath, kPathA);

    // Two of the maker's cameras, the first failing to bind: no try on the second.
    auto platform = std::make_unique<FakeVideoPlatform>();
    FakeVideoPlatform* second = platform.get();
    second->devices = {{kPathA, L"KIVCAMA", true}, {kPathOtherPid, L"ORVAN KIVCAMC", true}};
    second->results["BindDevice"] = PlatformResult::Failed;
    CCameraLogic other(std::move(platform));
    EXPECT_EQ(other.Open(), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_NOT_FOUND);
    EXPECT_EQ(second->bindCalls, std::vector<std::size_t>{0});
}

TEST_F(CameraTest, AChosenDevicePathIsBoundInsteadOfTheFirstMakerDevice) {
    fake->devices = {{kPathA, L"KIVCAMA", true}, {kPathOtherPid, L"X", true}, {kPathOtherMaker, L"Webcam", true}};
    camera->SetDevicePath(kPathOtherMaker);  // any camera, when a host chose it
    ASSERT_EQ(camera->Open(), 1);
    EXPECT_EQ(fake->bindCalls, std::vector<std::size_t>{2});
    EXPECT_EQ(Info().devicePath, kPathOtherMaker);

    fake->bindCalls.clear();
    camera->SetDevicePath(L"usb#gone");
    EXPECT_EQ(camera->Open(), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_NOT_FOUND);
    EXPECT_TRUE(fake->bindCalls.empty());

    camera->SetDevicePath(L"");
    ASSERT_EQ(camera->Open(), 1);
    EXPECT_EQ(fake->bindCalls, std::vector<std::size_t>{0});
}

TEST_F(CameraTest, ModelNamesAreNormalisedForTheFamilyOnly) {
    struct Case {
        std::wstring path, friendly, model;
    } cases[] = {
        {kPathA, L"kivcama", L"kivcama"},  // model A in lower case stays as it is
        {kPathA, L"ORVAN KIVCAMB", L"ORVAN KIVCAMB"},
        {kPathA, L"USB Video Device", L"KIVCAMAorB"},
        {kPathA, L"ORVAN KIVCAMC", L"KIVCAMAorB"},  // model C with the family's product id
        {kPathOtherPid, L"ORVAN KIVCAMC", L"ORVAN KIVCAMC"},
        {kPathOtherPid, L"USB Video Device", L"USB Video Device"},
    };
    for (const Case& c : cases) {
        auto platform = std::make_unique<FakeVideoPlatform>();
        platform->devices = {{c.path, c.friendly, true}};
        platform->caps = fake->caps;
        CCameraLogic cam(std::move(platform));
        ASSERT_EQ(cam.Open(), 1);
        std::unique_ptr<CUVCDeviceInfo> info;
        ASSERT_EQ(cam.GetDeviceInfo(info), 1);
        EXPECT_EQ(info->ModelName(), c.model);
        EXPECT_EQ(cam.IsDevicePresent(c.model), 1);
    }
}

TEST_F(CameraTest, IsDevicePresentComparesNormalisedNamesIgnoringCase) {
    fake->devices = {{kPathOtherMaker, L"KIVCAMA", true}, {kPathA, L"Document Camera", true}};
    LastCameraError = 7;
    EXPECT_EQ(camera->IsDevicePresent(L"kivcamaorb"), 1);
    EXPECT_EQ(camera->IsDevicePresent(L"KIVCAMA"), 0);  // the other maker's device does not count
    EXPECT_EQ(LastCameraError, 7);                      // a plain miss leaves the error alone
    EXPECT_TRUE(fake->bindCalls.empty());

    fake->devices.push_back({L"", L"", false});  // the last device could not be read
    EXPECT_EQ(camera->IsDevicePresent(L"ORVAN KIVCAMB"), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_NOT_FOUND);
}

TEST_F(CameraTest, RebuildBindsTheSameDeviceByPathAndFailsWhenItIsGone) {
    fake->devices = {{kPathA, L"KIVCAMA", true}, {kPathOtherPid, L"ORVAN KIVCAMC", true}};
    ASSERT_EQ(camera->Open(), 1);
    // Enumeration order changed meanwhile: the recorded path decides.
    fake->devices = {{kPathOtherPid, L"ORVAN KIVCAMC", true},
                     {kPathA + L"x", L"KIVCAMA", true},
                     {kPathA, L"renamed", true}};
    ASSERT_EQ(camera->SetMediaFormat(UVCFMT_MJPEG, CResolution(1280, 720)), 1);
    EXPECT_EQ(fake->bindCalls.back(), 2u);
    EXPECT_EQ(Info().ModelName(), L"KIVCAMA");

    fake->devices = {{kPathOtherPid, L"ORVAN KIVCAMC", true}};  // unplugged
    EXPECT_EQ(camera->SetMediaFormat(UVCFMT_MJPEG, CResolution(1920, 1080)), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_NOT_FOUND);
}

// -- formats ---------------------------------------------------------------------

TEST_F(CameraTest, FormatsAreListedDistinctInDeviceOrderWithoutForeignEntries) {
    SetCurrent(fake->caps, 640, 480);
    fake->caps.entries = {Cap(MediaSubtypeYUY2, 640, 480),        Cap(MediaSubtypeNV12, 1920, 1080),
                          Cap(MediaSubtypeMJPG, 1920, 1080),      Cap(MediaSubtypeYUY2, 640, 480),
                          Cap(MediaSubtypeMJPG, 800, 600, false), Cap(MediaSubtypeMJPG, 640, 480)};
    ASSERT_EQ(camera->Open(), 1);
    const CUVCDeviceInfo info = Info();
    ASSERT_EQ(info.formats.size(), 3u);
    EXPECT_EQ(info.Types(), (std::vector<int>{UVCFMT_YUY2, UVCFMT_MJPEG}));
    EXPECT_EQ(info.formats[0].resolution.isDefault, 1);  // the pin's current size
    EXPECT_EQ(info.formats[1].resolution.isDefault, 0);
    EXPECT_EQ(info.formats[2].resolution.isDefault, 1);
    const std::vector<CResolution> mjpeg = info.Sizes(UVCFMT_MJPEG);
    ASSERT_EQ(mjpeg.size(), 2u);
    EXPECT_EQ(mjpeg[0].width, 1920);
    EXPECT_EQ(mjpeg[1].width, 640);
}

TEST_F(CameraTest, MjpegIsPreferredAndTheCurrentSizeKeptWhenListed) {
    SetCurrent(fake->caps, 1280, 720);
    ASSERT_EQ(camera->Open(), 1);
    const CUVCMediaFormat& chosen = camera->ChosenFormat();
    EXPECT_EQ(chosen.type, UVCFMT_MJPEG);
    EXPECT_EQ(chosen.subtype, MediaSubtypeMJPG);
    EXPECT_EQ(chosen.resolution.width, 1280);
    EXPECT_EQ(chosen.resolution.isDefault, 1);
    EXPECT_EQ(Info().currentFormat, chosen);
    ASSERT_EQ(fake->formatSets.size(), 1u);
    EXPECT_EQ(fake->formatSets[0].subtype, MediaSubtypeMJPG);
    EXPECT_EQ(fake->formatSets[0].width, 1280);
}

TEST_F(CameraTest, ACurrentSizeThatIsNoMjpegSizeTakesTheFirstMjpegSize) {
    SetCurrent(fake->caps, 640, 480);  // streaming YUY2 640x480 now
    ASSERT_EQ(camera->Open(), 1);
    const CUVCMediaFormat& chosen = camera->ChosenFormat();
    EXPECT_EQ(chosen.type, UVCFMT_MJPEG);
    EXPECT_EQ(chosen.resolution.width, 1920);
    EXPECT_EQ(chosen.resolution.height, 1080);
    EXPECT_EQ(chosen.resolution.isDefault, 1);
}

TEST_F(CameraTest, OnlyYuy2ChoosesYuy2AndNoFormatKeepsThePinSize) {
    SetCurrent(fake->caps, 800, 600);
    fake->caps.entries = {Cap(MediaSubtypeYUY2, 640, 480), Cap(MediaSubtypeYUY2, 320, 240)};
    ASSERT_EQ(camera->Open(), 1);
    EXPECT_EQ(camera->ChosenFormat().type, UVCFMT_YUY2);
    EXPECT_EQ(camera->ChosenFormat().subtype, MediaSubtypeYUY2);
    EXPECT_EQ(camera->ChosenFormat().resolution.width, 640);

    auto platform = std::make_unique<FakeVideoPlatform>();
    platform->devices = fake->devices;
    SetCurrent(platform->caps, 800, 600);
    platform->caps.entries = {Cap(MediaSubtypeNV12, 1920, 1080)};
    CCameraLogic nv12Only(std::move(platform));
    ASSERT_EQ(nv12Only.Open(), 1);
    EXPECT_EQ(nv12Only.ChosenFormat().type, UVCFMT_YUY2);
    EXPECT_EQ(nv12Only.ChosenFormat().resolution.width, 800);
    EXPECT_EQ(nv12Only.ChosenFormat().resolution.height, 600);
}

TEST_F(CameraTest, FailuresWhileBuildingFailOpenWithTheirReason) {
    struct Case {
        const char* op;
        PlatformResult result;
        int error;
    } cases[] = {
        {"ReadStreamCaps", PlatformResult::Failed, CAMERA_ERR_FAILED},
        {"SetStreamFormat", PlatformResult::Failed, CAMERA_ERR_FAILED},
        {"ConnectGraph", PlatformResult::Busy, CAMERA_ERR_BUSY},
        {"CreateGraph", PlatformResult::Failed, CAMERA_ERR_FAILED},
        {"BindDevice", PlatformResult::Busy, CAMERA_ERR_NOT_FOUND},  // any bind failure is "not found"
    };
    for (const Case& c : cases) {
        auto platform = std::make_unique<FakeVideoPlatform>();
        platform->devices = fake->devices;
        platform->caps = fake->caps;
        platform->results[c.op] = c.result;
        CCameraLogic cam(std::move(platform));
        LastCameraError = 0;
        EXPECT_EQ(cam.Open(), 0) << c.op;
        EXPECT_EQ(LastCameraError, c.error) << c.op;
    }
}

TEST_F(CameraTest, SetMediaFormatWithAnUnknownTypeKeepsTheSubtype) {
    ASSERT_EQ(camera->Open(), 1);
    ASSERT_EQ(camera->SetMediaFormat(UVCFMT_YUY2, CResolution(640, 480)), 1);
    ASSERT_EQ(camera->SetMediaFormat(7, CResolution(640, 480)), 1);
    EXPECT_EQ(camera->ChosenFormat().type, 7);
    EXPECT_EQ(camera->ChosenFormat().subtype, MediaSubtypeYUY2);
    EXPECT_EQ(fake->formatSets.back().subtype, MediaSubtypeYUY2);
    // The device record keeps the format chosen at open.
    EXPECT_EQ(Info().currentFormat.type, UVCFMT_MJPEG);
    EXPECT_TRUE(camera->IsRunning());
}

// -- graph life ------------------------------------------------------------------

TEST_F(CameraTest, RunAndStopAreIdempotentWithoutPlatformCalls) {
    ASSERT_EQ(camera->Open(), 1);
    EXPECT_EQ(camera->Stop(), 1);  // stopped after open
    EXPECT_EQ(fake->CallCount("Stop"), 0);
    ASSERT_EQ(camera->Run(), 1);
    ASSERT_EQ(camera->Run(), 1);
    EXPECT_EQ(fake->CallCount("Run"), 1);
    ASSERT_EQ(camera->Stop(), 1);
    ASSERT_EQ(camera->Stop(), 1);
    EXPECT_EQ(fake->CallCount("Stop"), 1);
    EXPECT_EQ(fake->previewOwner, nullptr);  // stopping detaches the preview
}

TEST_F(CameraTest, RunReportsBusyOrNotFound) {
    ASSERT_EQ(camera->Open(), 1);
    fake->results["Run"] = PlatformResult::Busy;
    EXPECT_EQ(camera->Run(), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_BUSY);
    fake->results["Run"] = PlatformResult::Failed;
    EXPECT_EQ(camera->Run(), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_NOT_FOUND);
    EXPECT_FALSE(camera->IsRunning());
    fake->results.erase("Run");
    EXPECT_EQ(camera->Run(), 1);
    EXPECT_EQ(LastCameraError, 0);
}

TEST_F(CameraTest, OperationsBeforeOpenFail) {
    std::unique_ptr<CUVCDeviceInfo> info;
    EXPECT_EQ(camera->GetDeviceInfo(info), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_FAILED);
    EXPECT_EQ(info, nullptr);
    CUVCState state;
    EXPECT_EQ(camera->HandleGraphEvents(state), 0);
    EXPECT_EQ(camera->Run(), 0);
    EXPECT_EQ(camera->SetPreviewWindow(nullptr), 0);
    std::unique_ptr<CImageReference> image;
    EXPECT_EQ(camera->GrabStill(image), 0);
    EXPECT_TRUE(fake->calls.empty());
}

// A camera whose driver lists no controls still has its settings window,
// which says so: the button works instead of failing or staying off.
TEST_F(CameraTest, ACameraWithoutControlsShowsItsEmptySettingsWindow) {
    struct NoControls final : CameraControlsBase {
        std::vector<CameraControl> ReadControls() override { return {}; }
        WriteResult WriteControl(const CameraControl&, std::int64_t) override { return {}; }
        bool TakeDeviceChanges() override { return false; }
    } none;
    fake->controls = &none;
    FakeWindowBridge bridge;
    ScopedBridge installed(bridge);
    ASSERT_EQ(camera->Open(), 1);
    EXPECT_EQ(camera->HasPropertyPages(), 1);
    EXPECT_EQ(camera->ShowPropertyPages(Window(1), L"Orvan Document Camera"), 1);
    ASSERT_EQ(bridge.shownControls.size(), 1u);
    EXPECT_EQ(bridge.shownControls[0].first, L"Orvan Document Camera");
    EXPECT_EQ(bridge.shownControls[0].second, 0u);
    camera->Close();
}

TEST_F(CameraTest, TeardownReleasesTheGraphAndTheThreadOnce) {
    ASSERT_EQ(camera->Open(), 1);
    const auto calls = fake->sharedCalls;
    camera->Close();
    camera.reset();  // the destructor tears down again without owing the thread anything
    EXPECT_EQ(std::count(calls->begin(), calls->end(), "UninitializeThread"), 1);
    EXPECT_EQ(std::count(calls->begin(), calls->end(), "ReleaseGraph"), 2);
}

TEST_F(CameraTest, SetFrameCallbackNeedsAWindowOnlyToEnable) {
    ASSERT_EQ(camera->Open(), 1);
    EXPECT_EQ(camera->SetFrameCallback(nullptr, 1), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_FAILED);
    EXPECT_EQ(fake->CallCount("SetFrameNotify"), 0);
    EXPECT_EQ(camera->SetFrameCallback(Window(1), 1), 1);
    EXPECT_EQ(fake->frameNotify, Window(1));
    fake->results["SetFrameNotify"] = PlatformResult::Failed;  // ignored
    EXPECT_EQ(camera->SetFrameCallback(nullptr, 0), 1);
    EXPECT_EQ(fake->frameNotify, nullptr);
}

TEST_F(CameraTest, GraphEventsReportOnlyTheRemovalOfTheBoundDevice) {
    ASSERT_EQ(camera->Open(), 1);
    CUVCState state;
    state.state = 0;
    EXPECT_EQ(camera->HandleGraphEvents(state), 1);
    EXPECT_EQ(state.state, CUVCState::NoEvent);

    GraphEvent arrived;
    arrived.code = GraphEventCode::DeviceLost;
    arrived.removed = false;
    arrived.ofBoundDevice = true;
    GraphEvent otherFilter = arrived;
    otherFilter.removed = true;
    otherFilter.ofBoundDevice = false;
    GraphEvent other;
    fake->events = {arrived, otherFilter, other};
    EXPECT_EQ(camera->HandleGraphEvents(state), 1);
    EXPECT_EQ(state.state, CUVCState::NoEvent);
    EXPECT_TRUE(fake->events.empty());

    GraphEvent removed = otherFilter;
    removed.ofBoundDevice = true;
    fake->events = {other, removed, arrived};
    EXPECT_EQ(camera->HandleGraphEvents(state), 1);
    EXPECT_EQ(state.state, CUVCState::CameraRemoved);
    EXPECT_TRUE(fake->events.empty());  // drained past the removal

    // A host polling between frames drains without waiting.
    fake->eventWaits.clear();
    fake->events = {removed};
    EXPECT_EQ(camera->HandleGraphEvents(state, 0), 1);
    EXPECT_EQ(state.state, CUVCState::CameraRemoved);
    EXPECT_EQ(fake->eventWaits, (std::vector<unsigned>{0, 0}));
}

TEST_F(CameraTest, NotifyWindowIsRestoredAfterAFormatChange) {
    ASSERT_EQ(camera->Open(), 1);
    ASSERT_EQ(camera->SetNotifyWindow(Window(3)), 1);
    fake->eventWindow = nullptr;
    ASSERT_EQ(camera->SetMediaFormat(UVCFMT_MJPEG, CResolution(1280, 720)), 1);
    EXPECT_EQ(fake->eventWindow, Window(3));
    fake->results["SetEventWindow"] = PlatformResult::Failed;
    EXPECT_EQ(camera->SetNotifyWindow(nullptr), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_FAILED);
}

// -- preview and zoom --------------------------------------------------------------

TEST(PreviewArithmetic, LetterboxKeepsTheFrameRatioAcrossTheWidth) {
    const PreviewPlacement wide = ComputePreviewPlacement(640, 480, 1920, 1080);
    EXPECT_EQ(wide.left, 0);
    EXPECT_EQ(wide.top, 60);
    EXPECT_EQ(wide.width, 640);
    EXPECT_EQ(wide.height, 360);
    const PreviewPlacement fill = ComputePreviewPlacement(640, 360, 1920, 1080);
    EXPECT_EQ(fill.top, 0);
    EXPECT_EQ(fill.height, 360);
    // Integer division first: 500 / 16 * 9 = 279, offset (400 - 279) / 2 = 60.
    const PreviewPlacement odd = ComputePreviewPlacement(500, 400, 1920, 1080);
    EXPECT_EQ(odd.top, 60);
    EXPECT_EQ(odd.height, 400 - 120);
    // Coarse ratios keep their proportion: 1366x768 (683:384) and 854x480
    // (427:240) in a 640x480 area are 359 and 360 pixels high, not 0 and 240.
    const PreviewPlacement wxga = ComputePreviewPlacement(640, 480, 1366, 768);
    EXPECT_EQ(wxga.height, 480 - 2 * ((480 - 359) / 2));
    EXPECT_EQ(wxga.top, (480 - 359) / 2);
    const PreviewPlacement fwvga = ComputePreviewPlacement(640, 480, 854, 480);
    EXPECT_EQ(fwvga.top, 60);
    EXPECT_EQ(fwvga.height, 360);
    // 4:3 frames in a 16:9 area: (640 / 4) * 3 = 480, taller than the area;
    // the offset is negative and the video overhangs evenly as before.
    const PreviewPlacement tall = ComputePreviewPlacement(640, 360, 1024, 768);
    EXPECT_EQ(tall.top, -60);
    EXPECT_EQ(tall.height, 480);
    // A very wide client area does not overflow the product.
    const PreviewPlacement huge = ComputePreviewPlacement(2000000000, 100, 1366, 768);
    EXPECT_GT(huge.height, 0);
    // A frame without size cannot be letterboxed: the client area is filled.
    const PreviewPlacement unknown = ComputePreviewPlacement(640, 480, 0, 0);
    EXPECT_EQ(unknown.top, 0);
    EXPECT_EQ(unknown.height, 480);
}

TEST(PreviewArithmetic, GcdRoutine) {
    EXPECT_EQ(AspectGcd(1920, 1080), 120);
    EXPECT_EQ(AspectGcd(1080, 1920), 120);
    EXPECT_EQ(AspectGcd(7, 3), 1);
    EXPECT_EQ(AspectGcd(5, 0), -1);
    EXPECT_EQ(AspectGcd(-4, 8), -1);
}

TEST(PreviewArithmetic, ZoomRectangles) {
    auto expect = [](SourceRect r, std::int32_t l, std::int32_t t, std::int32_t w, std::int32_t h) {
        EXPECT_EQ(r.left, l);
        EXPECT_EQ(r.top, t);
        EXPECT_EQ(r.width, w);
        EXPECT_EQ(r.height, h);
    };
    expect(ComputeZoomRect(8.0f, 1920, 1080, true), 840, 472, 240, 135);
    expect(ComputeZoomRect(1.25f, 1920, 1080, true), 192, 108, 1536, 864);
    expect(ComputeZoomRect(1.0f, 1920, 1080, true), 0, 1, 1920, 1078);
    expect(ComputeZoomRect(1.0f, 1920, 1080, false), 0, 0, 1920, 1080);
    expect(ComputeZoomRect(20.0f, 1920, 1080, false), 840, 472, 240, 135);
    expect(ComputeZoomRect(0.5f, 1920, 1080, false), 0, 0, 1920, 1080);
}

TEST_F(CameraTest, PreviewWindowIsLetterboxedAndMjpegTrimmedOnEveryCall) {
    FakeWindowBridge bridge;
    ScopedBridge scoped(bridge);
    ASSERT_EQ(camera->Open(), 1);
    ASSERT_EQ(camera->SetPreviewWindow(Window(5)), 1);
    EXPECT_EQ(fake->previewOwner, Window(5));
    EXPECT_TRUE(fake->previewVisible);
    EXPECT_EQ(fake->previewPosition.top, 60);
    EXPECT_EQ(fake->previewPosition.height, 360);
    ASSERT_EQ(fake->sourceSets.size(), 1u);
    EXPECT_EQ(fake->sourceSets[0].top, 1);
    EXPECT_EQ(fake->sourceSets[0].height, 1078);
    ASSERT_EQ(camera->SetPreviewWindow(Window(5)), 1);
    EXPECT_EQ(fake->sourceSets.size(), 2u);

    // The trim must be accepted, or the preview fails.
    fake->results["SetSourceRect"] = PlatformResult::Failed;
    EXPECT_EQ(camera->SetPreviewWindow(nullptr), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_FAILED);
    EXPECT_FALSE(fake->autoShow);

    bridge.knowsWindows = false;  // the client size cannot be read
    fake->results.clear();
    EXPECT_EQ(camera->SetPreviewWindow(Window(6)), 0);
}

TEST_F(CameraTest, Yuy2IsNotTrimmedExceptOnModelC) {
    ASSERT_EQ(camera->Open(), 1);
    ASSERT_EQ(camera->SetMediaFormat(UVCFMT_YUY2, CResolution(640, 480)), 1);
    EXPECT_TRUE(fake->sourceSets.empty());
    ASSERT_EQ(camera->SetZoom(1.0f), 1);
    ASSERT_EQ(fake->sourceSets.size(), 1u);
    EXPECT_EQ(fake->sourceSets[0].top, 0);
    EXPECT_EQ(fake->sourceSets[0].height, 480);

    auto platform = std::make_unique<FakeVideoPlatform>();
    FakeVideoPlatform* modelC = platform.get();
    modelC->devices = {{kPathOtherPid, L"orvan kivcamc", true}};
    modelC->caps.entries = {Cap(MediaSubtypeYUY2, 640, 480)};
    CCameraLogic cam(std::move(platform));
    ASSERT_EQ(cam.Open(), 1);
    ASSERT_EQ(cam.SetPreviewWindow(nullptr), 1);
    ASSERT_EQ(modelC->sourceSets.size(), 1u);
    EXPECT_EQ(modelC->sourceSets[0].top, 1);
    EXPECT_EQ(modelC->sourceSets[0].height, 478);
}

TEST_F(CameraTest, SetZoomAppliesToTheChosenFrameAndIgnoresRefusal) {
    ASSERT_EQ(camera->Open(), 1);
    fake->results["SetSourceRect"] = PlatformResult::Failed;
    EXPECT_EQ(camera->SetZoom(8.0f), 1);
    ASSERT_EQ(fake->sourceSets.size(), 1u);
    EXPECT_EQ(fake->sourceSets[0].left, 840);
    EXPECT_EQ(fake->sourceSets[0].width, 240);
}

// -- still grab --------------------------------------------------------------------

// A frame whose picture row y is filled with the byte y (bottom-up rows).
VideoFrame RowNumberedFrame(std::int32_t width, std::int32_t height) {
    const std::int32_t stride = Bgr24Stride(width);
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(stride * height));
    for (std::int32_t y = 0; y < height; ++y)
        std::fill_n(bytes->begin() + (height - 1 - y) * stride, width * 3, static_cast<std::uint8_t>(y));
    VideoFrame frame;
    frame.width = width;
    frame.height = height;
    frame.stride = stride;
    frame.bytes = bytes;
    return frame;
}

std::uint8_t PictureRowValue(const CImageReference& image, std::int32_t y) {
    return image.Data()[static_cast<std::size_t>(image.Height() - 1 - y) * image.BytesPerLine()];
}

TEST_F(CameraTest, GrabReturnsTheFrameUnchangedAtTheOrigin) {
    fake->connectWidth = 6;
    fake->connectHeight = 5;
    ASSERT_EQ(camera->Open(), 1);
    fake->frame = RowNumberedFrame(6, 5);
    std::unique_ptr<CImageReference> image;
    ASSERT_EQ(camera->GrabStill(image), 1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->Width(), 6);
    EXPECT_EQ(image->Height(), 5);
    EXPECT_EQ(image->BytesPerLine(), 20);
    ASSERT_EQ(image->Size(), fake->frame.bytes->size());
    EXPECT_TRUE(std::equal(fake->frame.bytes->begin(), fake->frame.bytes->end(), image->Data()));
}

TEST_F(CameraTest, GrabWithTheTrimStretchesTheInnerLines) {
    fake->connectWidth = 4;
    fake->connectHeight = 6;
    ASSERT_EQ(camera->Open(), 1);
    fake->frame = RowNumberedFrame(4, 6);
    fake->source = SourceRect{0, 1, 4, 4};  // lines 1 ... 4 of six
    std::unique_ptr<CImageReference> image;
    ASSERT_EQ(camera->GrabStill(image), 1);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->Height(), 6);
    for (std::int32_t y = 0; y < 6; ++y) EXPECT_EQ(PictureRowValue(*image, y), 1 + y * 4 / 6) << "row " << y;
}

TEST_F(CameraTest, FailedOrMalformedGrabsStoreNoImage) {
    ASSERT_EQ(camera->Open(), 1);
    std::unique_ptr<CImageReference> image;
    EXPECT_EQ(camera->GrabStill(image), 0);  // no frame buffered yet
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_FAILED);

    fake->frame = RowNumberedFrame(4, 6);
    fake->frame.width = 100;  // rows too short for the width
    EXPECT_EQ(camera->GrabStill(image), 0);
    EXPECT_EQ(image, nullptr);

    // A padded frame: 8x4 with 16 bytes more than stride x height. Derived
    // from size / height its rows would be 28 bytes apart instead of 24.
    fake->frame = RowNumberedFrame(8, 4);
    auto padded = std::make_shared<std::vector<std::uint8_t>>(*fake->frame.bytes);
    padded->resize(padded->size() + 16);
    fake->frame.bytes = padded;
    EXPECT_EQ(camera->GrabStill(image), 0);
    EXPECT_EQ(image, nullptr);

    // A stride that is not a multiple of 4, or shorter than a row.
    fake->frame = RowNumberedFrame(8, 4);
    fake->frame.stride = 26;
    fake->frame.bytes = std::make_shared<std::vector<std::uint8_t>>(26 * 4);
    EXPECT_EQ(camera->GrabStill(image), 0);
    fake->frame.stride = 20;
    fake->frame.bytes = std::make_shared<std::vector<std::uint8_t>>(20 * 4);
    EXPECT_EQ(camera->GrabStill(image), 0);
    EXPECT_EQ(image, nullptr);

    // A stride larger than the row is fine and is what the image keeps.
    fake->frame = RowNumberedFrame(8, 4);
    fake->frame.stride = 32;
    fake->frame.bytes = std::make_shared<std::vector<std::uint8_t>>(32 * 4, 7);
    ASSERT_EQ(camera->GrabStill(image), 1);
    EXPECT_EQ(image->BytesPerLine(), 32);
    image.reset();

    fake->frame = RowNumberedFrame(4, 6);
    fake->results["GetSourceRect"] = PlatformResult::Failed;
    EXPECT_EQ(camera->GrabStill(image), 0);
    EXPECT_NE(image, nullptr);  // stored before the source rectangle is read; the caller owns it
}

}  // namespace
}  // namespace kiv
