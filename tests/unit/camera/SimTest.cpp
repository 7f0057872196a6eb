// The virtual camera: KIVDS_SIM parsing, the test pattern, and the camera
// logic running on the simulated devices.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "support/LogCapture.h"
#include "support/ScopedEnv.h"
#include "kivds/camera/CameraControls.h"
#include "kivds/camera/CameraLogic.h"
#include "kivds/camera/ExtensionUnit.h"
#include "kivds/camera/sim/SimConfig.h"
#include "kivds/camera/sim/SimPattern.h"
#include "kivds/camera/sim/SimVideoPlatform.h"
#include "kivds/camera/sim/VirtualDevice.h"
#include "kivds/image/ImageReference.h"
#include "unit/camera/FakeVideoPlatform.h"

namespace kiv {
namespace {

using sim::SimConfig;
using sim::SimDevice;
using sim::SimOp;
using sim::SimUnit;

using kivtest::ScopedEnv;

SimConfig Parse(const std::string& text) {
    SimConfig config;
    std::string error;
    EXPECT_TRUE(sim::ParseSimConfig(text, config, error)) << text << ": " << error;
    return config;
}

// -- KIVDS_SIM -----------------------------------------------------------------------

TEST(SimConfigTest, NoneAndEmptyMeanNoDevice) {
    EXPECT_TRUE(Parse("none").devices.empty());
    EXPECT_TRUE(Parse("NONE").devices.empty());
    EXPECT_TRUE(Parse("").devices.empty());
}

TEST(SimConfigTest, DefaultsOfAModelADevice) {
    const SimConfig config = Parse("fps=30");
    ASSERT_EQ(config.devices.size(), 1u);
    const SimDevice& d = config.devices[0];
    EXPECT_EQ(d.name, L"KIVCAMA");
    EXPECT_EQ(d.path,
              L"\\\\?\\usb#vid_1a3c&pid_0b21&mi_00#6&1f2e3d4c&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global");
    ASSERT_EQ(d.caps.size(), 4u);
    EXPECT_EQ(d.caps[3].subtype, MediaSubtypeYUY2);
    EXPECT_EQ(d.caps[3].width, 640);
    EXPECT_TRUE(d.hasCurrent);
    EXPECT_EQ(d.currentWidth, 1920);
    EXPECT_EQ(d.unit, SimUnit::A);
    EXPECT_FALSE(d.loseAfterFrames.has_value());
    for (int op = 0; op < static_cast<int>(SimOp::Count); ++op)
        EXPECT_EQ(d.Failure(static_cast<SimOp>(op)), PlatformResult::Ok);
}

TEST(SimConfigTest, EveryFieldOfSeveralDevices) {
    const SimConfig config = Parse(
        "name=Other Cam;path=\\\\?\\usb#vid_046d&pid_0825#x|"
        "name=ORVAN KIVCAMB;caps=yuy2:640x480,NV12:1280X720,mjpeg:320x240;current=none;"
        "fail=run:busy,Grab:failed,bind:notfound;lose=5;buttons=02,0a,FF;fps=200|"
        "name=orvan kivcamb;current=1280x720;xu=none");
    ASSERT_EQ(config.devices.size(), 3u);
    EXPECT_EQ(config.devices[0].path, L"\\\\?\\usb#vid_046d&pid_0825#x");
    EXPECT_EQ(config.devices[0].unit, SimUnit::None);  // not a button model

    const SimDevice& b = config.devices[1];
    ASSERT_EQ(b.caps.size(), 3u);
    EXPECT_EQ(b.caps[1].subtype, MediaSubtypeNV12);
    EXPECT_EQ(b.caps[1].height, 720);
    EXPECT_FALSE(b.hasCurrent);
    EXPECT_EQ(b.Failure(SimOp::Run), PlatformResult::Busy);
    EXPECT_EQ(b.Failure(SimOp::Grab), PlatformResult::Failed);
    EXPECT_EQ(b.Failure(SimOp::Bind), PlatformResult::NotFound);
    EXPECT_EQ(b.Failure(SimOp::Stop), PlatformResult::Ok);
    EXPECT_EQ(b.loseAfterFrames, 5u);
    EXPECT_EQ(b.buttons, (std::vector<std::uint8_t>{0x02, 0x0A, 0xFF}));
    EXPECT_EQ(b.fps, 200u);
    EXPECT_EQ(b.unit, SimUnit::B);

    EXPECT_EQ(config.devices[2].currentWidth, 1280);
    EXPECT_EQ(config.devices[2].unit, SimUnit::None);  // xu given wins over the name
}

TEST(SimConfigTest, MalformedValuesNameTheBadField) {
    const char* bad[][2] = {
        {"name=A;colour=red", "colour=red"},
        {"caps=mjpeg:1920x1080,h264:640x480", "caps=mjpeg:1920x1080,h264:640x480"},
        {"caps=mjpeg:0x480", "caps=mjpeg:0x480"},
        {"caps=mjpeg:99999x480", "caps=mjpeg:99999x480"},
        {"caps=", "caps="},
        {"current=640*480", "current=640*480"},
        {"fail=run", "fail=run"},
        {"fail=jump:busy", "fail=jump:busy"},
        {"fail=run:slow", "fail=run:slow"},
        {"lose=-1", "lose=-1"},
        {"xu=c", "xu=c"},
        {"buttons=1FF", "buttons=1FF"},
        {"buttons=02,,04", "buttons=02,,04"},
        {"fps=0", "fps=0"},
        {"name=A;;fps=5", ""},
        {"name=A|", ""},
        {"noequals", "noequals"},
    };
    for (const auto& c : bad) {
        SimConfig config;
        config.devices.emplace_back();
        std::string error;
        EXPECT_FALSE(sim::ParseSimConfig(c[0], config, error)) << c[0];
        EXPECT_TRUE(config.devices.empty()) << c[0];
        EXPECT_NE(error.find(std::string("\"") + c[1] + "\""), std::string::npos) << c[0] << " -> " << error;
    }
}

TEST(SimConfigTest, EnvironmentIsReadAtEachLoad) {
    {
        ScopedEnv env("KIVDS_SIM", nullptr);
        EXPECT_EQ(sim::LoadSimConfig().devices.size(), 1u);  // unset: one default camera
    }
    {
        ScopedEnv env("KIVDS_SIM", "name=A|name=B");
        EXPECT_EQ(sim::LoadSimConfig().devices.size(), 2u);
    }
    {
        ScopedEnv env("KIVDS_SIM", "name=A;fps=fast");
        testing::internal::CaptureStderr();
        const SimConfig config = sim::LoadSimConfig();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(config.devices.empty());
        EXPECT_NE(err.find("fps=fast"), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
    }
}

TEST(SimConfigTest, Utf8NamesBecomeWide) {
    const SimConfig config = Parse("name=Kamera \xC3\xBC\xE2\x82\xAC;path=\xFFx");
    EXPECT_EQ(config.devices[0].name, L"Kamera \u00FC\u20AC");
    EXPECT_EQ(config.devices[0].path, L"\uFFFDx");
}

// -- the pattern -----------------------------------------------------------------------

TEST(SimPatternTest, PixelsRowsAndPadding) {
    const std::int32_t width = 258, height = 513;
    const auto bytes = sim::MakePattern(width, height);
    ASSERT_NE(bytes, nullptr);
    const std::size_t stride = 776;  // 774 rounded up to a multiple of 4
    ASSERT_EQ(static_cast<std::size_t>(Bgr24Stride(width)), stride);
    ASSERT_EQ(bytes->size(), stride * height);
    auto pixel = [&](std::int32_t x, std::int32_t y) {
        return bytes->data() + static_cast<std::size_t>(height - 1 - y) * stride + static_cast<std::size_t>(x) * 3;
    };
    struct {
        std::int32_t x, y;
        std::uint8_t b, g, r;
    } expected[] = {
        {0, 0, 0, 0, 0},       {255, 0, 0, 0, 255}, {256, 0, 16, 0, 0},
        {257, 300, 17, 44, 1}, {3, 512, 2, 0, 3},   {257, 512, 18, 0, 1},
    };
    for (const auto& e : expected) {
        const std::uint8_t* p = pixel(e.x, e.y);
        EXPECT_EQ(p[0], e.b) << e.x << "," << e.y;
        EXPECT_EQ(p[1], e.g) << e.x << "," << e.y;
        EXPECT_EQ(p[2], e.r) << e.x << "," << e.y;
    }
    for (std::int32_t y = 0; y < height; ++y) {
        EXPECT_EQ(pixel(width, y)[0], 0);
        EXPECT_EQ(pixel(width, y)[1], 0);
    }
    EXPECT_EQ(sim::MakePattern(0, 10), nullptr);
}

// -- the camera on the virtual devices ---------------------------------------------------

class SimCameraTest : public ::testing::Test {
protected:
    CCameraLogic& Make(const std::string& spec) {
        SimConfig config;
        std::string error;
        EXPECT_TRUE(sim::ParseSimConfig(spec, config, error)) << error;
        auto platform = std::make_unique<sim::SimVideoPlatform>(config);
        sim_ = platform.get();
        camera_ = std::make_unique<CCameraLogic>(std::move(platform));
        LastCameraError = 0;
        return *camera_;
    }
    sim::SimVideoPlatform& Sim() { return *sim_; }

    sim::SimVideoPlatform* sim_ = nullptr;
    std::unique_ptr<CCameraLogic> camera_;
};

TEST_F(SimCameraTest, OpenFailsNotFoundForNoneOtherMakersAndUpperCaseIds) {
    for (const char* spec : {"none", "path=\\\\?\\usb#vid_046d&pid_0825#x", "path=\\\\?\\USB#VID_1A3C&PID_0B21#x"}) {
        CCameraLogic& camera = Make(spec);
        EXPECT_EQ(camera.Open(), 0) << spec;
        EXPECT_EQ(LastCameraError, CAMERA_ERR_NOT_FOUND) << spec;
    }
}

TEST_F(SimCameraTest, InjectedFailuresReachTheCallerAsTheirKind) {
    CCameraLogic& camera = Make("fail=run:busy");
    ASSERT_EQ(camera.Open(), 1);
    EXPECT_EQ(camera.Run(), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_BUSY);

    CCameraLogic& bound = Make("fail=bind:busy");
    EXPECT_EQ(bound.Open(), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_NOT_FOUND);

    CCameraLogic& connect = Make("fail=connect:busy");
    EXPECT_EQ(connect.Open(), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_BUSY);
}

TEST_F(SimCameraTest, AnInjectedFailureIsLoggedWithItsOperationItsOriginAndTheDevice) {
    kivtest::LogCapture log("kivds_sim_fault.log");
    CCameraLogic& camera = Make("name=KIVCAMA;fail=run:busy");
    ASSERT_EQ(camera.Open(), 1);
    EXPECT_EQ(camera.Run(), 0);
    EXPECT_NE(log.Text().find(" error sim.run: busy (injected by KIVDS_SIM fail=run:busy), device KIVCAMA\n"),
              std::string::npos)
        << log.Text();
}

// The streaming thread runs in the application's process: a failure to make
// frames there (as an allocation failure of a large pattern) must end the
// stream, not the process.
TEST_F(SimCameraTest, AStreamThatCannotMakeFramesDeliversNoneAndStopsCleanly) {
    CCameraLogic& camera = Make("caps=yuy2:320x240;fps=200;fail=stream:failed");
    ASSERT_EQ(camera.Open(), 1);
    ASSERT_EQ(camera.SetPreviewWindow(nullptr), 1);
    ASSERT_EQ(camera.Run(), 1);
    EXPECT_FALSE(Sim().WaitForFrames(1, 300));
    std::unique_ptr<CImageReference> image;
    EXPECT_EQ(camera.GrabStill(image), 0);
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(camera.Stop(), 1);
    EXPECT_FALSE(Sim().IsStreaming());
    // The camera can be started again (and fails the same way, quietly).
    ASSERT_EQ(camera.Run(), 1);
    EXPECT_EQ(camera.Stop(), 1);
}

TEST_F(SimCameraTest, StillsShowThePatternOnlyOnceAFrameArrived) {
    CCameraLogic& camera = Make("caps=yuy2:320x240;fps=200");
    ASSERT_EQ(camera.Open(), 1);
    ASSERT_EQ(camera.SetPreviewWindow(nullptr), 1);
    ASSERT_EQ(camera.Run(), 1);
    std::unique_ptr<CImageReference> image;
    if (Sim().FramesProduced() == 0) {
        EXPECT_EQ(camera.GrabStill(image), 0);
        EXPECT_EQ(image, nullptr);
    }
    ASSERT_TRUE(Sim().WaitForFrames(1, 5000));
    ASSERT_EQ(camera.GrabStill(image), 1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->Width(), 320);
    EXPECT_EQ(image->Height(), 240);
    EXPECT_EQ(image->BytesPerLine(), 960);
    const auto pattern = sim::MakePattern(320, 240);
    ASSERT_EQ(image->Size(), pattern->size());
    EXPECT_TRUE(std::equal(pattern->begin(), pattern->end(), image->Data()));
    EXPECT_EQ(camera.Stop(), 1);
    EXPECT_FALSE(Sim().IsStreaming());
}

// The virtual camera's controls: brightness shows in the very next still, and
// a camera that is gone refuses every change.
TEST_F(SimCameraTest, BrightnessShowsInTheNextStillAndAGoneCameraRefusesChanges) {
    CCameraLogic& camera = Make("caps=yuy2:320x240;fps=200");
    ASSERT_EQ(camera.Open(), 1);
    ICameraControls* controls = camera.CameraControls();
    ASSERT_NE(controls, nullptr);
    ASSERT_EQ(camera.SetPreviewWindow(nullptr), 1);
    ASSERT_EQ(camera.Run(), 1);
    ASSERT_TRUE(Sim().WaitForFrames(1, 5000));
    ASSERT_TRUE(SetControlByName(*controls, "Brightness", "-30").Ok());
    std::unique_ptr<CImageReference> image;
    ASSERT_EQ(camera.GrabStill(image), 1);
    const auto darker = sim::MakePattern(320, 240, -30);
    ASSERT_EQ(image->Size(), darker->size());
    EXPECT_TRUE(std::equal(darker->begin(), darker->end(), image->Data()));

    Sim().Unplug();
    const ControlOutcome gone = SetControlByName(*controls, "Contrast", "10");
    EXPECT_EQ(gone.status, ControlStatus::Gone);
    EXPECT_EQ(gone.message, "Contrast: the camera is gone");
    EXPECT_EQ(camera.Stop(), 1);
}

TEST_F(SimCameraTest, MjpegStillsAreTrimmedAndTheRendererStartsFullAfterEachBuild) {
    test::FakeWindowBridge bridge;
    test::ScopedBridge scoped(bridge);
    CCameraLogic& camera = Make("caps=mjpeg:64x48,yuy2:32x24;fps=200");
    ASSERT_EQ(camera.Open(), 1);
    EXPECT_EQ(Sim().Source().height, 48);
    ASSERT_EQ(camera.SetPreviewWindow(reinterpret_cast<WindowHandle>(0x10)), 1);
    EXPECT_EQ(Sim().Source().top, 1);
    EXPECT_EQ(Sim().Source().height, 46);
    const auto preview = Sim().Preview();
    EXPECT_TRUE(preview.visible);
    EXPECT_EQ(preview.width, 640);
    EXPECT_EQ(preview.height, 480);  // 4:3 frame in a 4:3 client
    ASSERT_EQ(camera.Run(), 1);
    ASSERT_TRUE(Sim().WaitForFrames(1, 5000));
    std::unique_ptr<CImageReference> image;
    ASSERT_EQ(camera.GrabStill(image), 1);
    // Picture row y of the still comes from frame row 1 + y * 46 / 48, whose green is that row number.
    for (std::int32_t y : {0, 1, 24, 47}) {
        const std::uint8_t* row = image->Data() + static_cast<std::size_t>(47 - y) * image->BytesPerLine();
        EXPECT_EQ(row[1], 1 + y * 46 / 48) << y;
    }

    ASSERT_EQ(camera.SetMediaFormat(UVCFMT_YUY2, CResolution(32, 24)), 1);
    EXPECT_EQ(Sim().Source().top, 0);  // a new renderer, and no trim for YUY2
    EXPECT_EQ(Sim().Source().width, 32);
    std::int32_t w = 0, h = 0;
    Sim().FrameSize(w, h);
    EXPECT_EQ(w, 32);
    EXPECT_EQ(h, 24);
    EXPECT_TRUE(Sim().IsStreaming());
}

TEST_F(SimCameraTest, FirstFrameIsAnnouncedOncePerArming) {
    test::FakeWindowBridge bridge;
    test::ScopedBridge scoped(bridge);
    CCameraLogic& camera = Make("caps=yuy2:32x24;fps=500");
    ASSERT_EQ(camera.Open(), 1);
    WindowHandle dialog = reinterpret_cast<WindowHandle>(0x20);
    ASSERT_EQ(camera.SetFrameCallback(dialog, 1), 1);
    ASSERT_EQ(camera.Run(), 1);
    ASSERT_TRUE(Sim().WaitForFrames(5, 5000));
    ASSERT_TRUE(Sim().WaitForFrames(Sim().FramesProduced() + 1, 5000));  // the delivery has returned
    EXPECT_EQ(bridge.FramesArrived(), 1u);
    EXPECT_EQ(bridge.framesArrived[0], dialog);
    ASSERT_EQ(camera.SetFrameCallback(dialog, 1), 1);
    ASSERT_TRUE(Sim().WaitForFrames(Sim().FramesProduced() + 2, 5000));
    EXPECT_EQ(bridge.FramesArrived(), 2u);
}

TEST_F(SimCameraTest, DeviceIsLostAfterTheConfiguredFrames) {
    test::FakeWindowBridge bridge;
    test::ScopedBridge scoped(bridge);
    CCameraLogic& camera = Make("lose=3;fps=500");
    ASSERT_EQ(camera.Open(), 1);
    WindowHandle dialog = reinterpret_cast<WindowHandle>(0x30);
    ASSERT_EQ(camera.SetNotifyWindow(dialog), 1);
    EXPECT_EQ(camera.IsDevicePresent(L"KIVCAMA"), 1);
    ASSERT_EQ(camera.Run(), 1);
    CUVCState state;
    ASSERT_EQ(camera.HandleGraphEvents(state), 1);  // waits for the loss
    for (int i = 0; i < 50 && state.state != CUVCState::CameraRemoved; ++i) camera.HandleGraphEvents(state);
    EXPECT_EQ(state.state, CUVCState::CameraRemoved);
    EXPECT_EQ(Sim().FramesProduced(), 3u);
    EXPECT_EQ(bridge.GraphNotifies(), 1u);
    EXPECT_EQ(bridge.graphNotifies[0], dialog);
    EXPECT_EQ(camera.IsDevicePresent(L"KIVCAMA"), 0);
    EXPECT_EQ(camera.Stop(), 1);
    EXPECT_EQ(camera.SetMediaFormat(UVCFMT_MJPEG, CResolution(1280, 720)), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_NOT_FOUND);
}

TEST_F(SimCameraTest, RendererRefusesRectanglesOutsideTheFrame) {
    Make("caps=yuy2:640x480");
    ASSERT_EQ(camera_->Open(), 1);
    EXPECT_EQ(Sim().SetSourceRect(SourceRect{0, 0, 641, 480}), PlatformResult::Failed);
    EXPECT_EQ(Sim().SetSourceRect(SourceRect{10, 10, 0, 5}), PlatformResult::Failed);
    EXPECT_EQ(Sim().SetSourceRect(SourceRect{-1, 0, 10, 10}), PlatformResult::Failed);
    EXPECT_EQ(Sim().SetSourceRect(SourceRect{630, 470, 10, 10}), PlatformResult::Ok);
    EXPECT_EQ(camera_->SetZoom(2.0f), 1);
    EXPECT_EQ(Sim().Source().left, 160);
    EXPECT_EQ(Sim().Source().width, 320);
}

TEST_F(SimCameraTest, ExtensionUnitsAnswerTheButtonScript) {
    Make("name=ORVAN KIVCAMB;buttons=02,04");
    ASSERT_EQ(camera_->Open(), 1);
    EXPECT_EQ(Sim().FindExtensionUnit(kExtensionUnitModelA), PlatformResult::NotFound);
    ASSERT_EQ(Sim().FindExtensionUnit(kExtensionUnitModelB), PlatformResult::Ok);
    std::uint8_t data[2] = {0xEE, 0xEE};
    std::vector<std::uint8_t> seen;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(Sim().ExtensionUnitGet(kExtensionUnitModelB, kModelBStatusSelector, data, 2), PlatformResult::Ok);
        seen.push_back(data[0]);
        EXPECT_EQ(data[1], 0);
    }
    EXPECT_EQ(seen, (std::vector<std::uint8_t>{0x02, 0x04, 0x04}));
}

// One device answers both kinds of request: a UVC driver's, of the
// control's length, and kernel streaming's, of the cameras' byte counts. A
// refused size never reaches the device; a stall drops model A's selection.
TEST(VirtualDeviceTest, ModelAsRegisterUnderBothLengthRules) {
    using sim::XuAnswer;
    using sim::XuLength;
    sim::SimConfig config;
    std::string error;
    ASSERT_TRUE(sim::ParseSimConfig("name=KIVCAMA;buttons=40", config, error)) << error;
    sim::VirtualDevice device(config.devices.at(0));
    const std::uint8_t mode = 0x02, address[2] = {0x84, 0x01};
    std::uint8_t two[2] = {}, one = 0;
    auto select = [&](XuLength rule) {
        return device.Set(kExtensionUnitModelA, kModelAModeSelector, &mode, 1, rule) == XuAnswer::Ok &&
               device.Set(kExtensionUnitModelA, kModelARegisterSelector, address, 2, rule) == XuAnswer::Ok;
    };
    ASSERT_TRUE(select(XuLength::Control));
    EXPECT_EQ(device.Get(kExtensionUnitModelA, kModelARegisterSelector, &one, 1, XuLength::Control),
              XuAnswer::WrongLength);
    ASSERT_EQ(device.Get(kExtensionUnitModelA, kModelARegisterSelector, two, 2, XuLength::Control), XuAnswer::Ok);
    EXPECT_EQ(two[0], 0x40);
    EXPECT_EQ(two[1], 0x01);  // the rest of the control: what the address wrote
    ASSERT_TRUE(select(XuLength::Protocol));
    EXPECT_EQ(device.Get(kExtensionUnitModelA, kModelARegisterSelector, two, 2, XuLength::Protocol),
              XuAnswer::WrongLength);
    ASSERT_EQ(device.Get(kExtensionUnitModelA, kModelARegisterSelector, &one, 1, XuLength::Protocol), XuAnswer::Ok);
    EXPECT_EQ(device.ButtonReads(), 2u);
    // Out of order: a stall, after which even the address alone is refused.
    ASSERT_EQ(device.Set(kExtensionUnitModelA, kModelAModeSelector, &mode, 1, XuLength::Control), XuAnswer::Ok);
    EXPECT_EQ(device.Get(kExtensionUnitModelA, kModelAModeSelector, &one, 1, XuLength::Control), XuAnswer::Stall);
    EXPECT_EQ(device.Set(kExtensionUnitModelA, kModelARegisterSelector, address, 2, XuLength::Control),
              XuAnswer::Stall);
    device.Lose();
    EXPECT_EQ(device.Get(kExtensionUnitModelA, kModelARegisterSelector, two, 2, XuLength::Control), XuAnswer::Gone);
}

}  // namespace
}  // namespace kiv
