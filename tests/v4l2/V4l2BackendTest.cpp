// The V4L2 backend against the emulated UVC camera (libuvcemul.so, preloaded):
// device listing and paths from sysfs, formats, streaming and the pixels,
// busy and unplugged devices, extension units, and the camera logic on top.
#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/usb/video.h>
#include <linux/uvcvideo.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "kivds/camera/CameraControls.h"
#include "kivds/camera/CameraLogic.h"
#include "kivds/camera/ExtensionUnit.h"
#include "kivds/camera/IKIVCameraControl.h"
#include "kivds/camera/convert/FrameConvert.h"
#include "kivds/camera/v4l2/DeviceList.h"
#include "kivds/camera/v4l2/V4l2VideoPlatform.h"
#include "kivds/image/ImageReference.h"
#include "support/LogCapture.h"
#include "support/ScopedEnv.h"
#include "support/SimPattern.h"
#include "unit/camera/FakeVideoPlatform.h"
#include "v4l2/emul/UvcEmulApi.h"

using namespace kiv;
using kiv::v4l2::V4l2VideoPlatform;

namespace {

// The emulator's control functions, looked up in the preloaded library.
struct Emul {
    decltype(&uvcemul_reset) reset = nullptr;
    decltype(&uvcemul_add) add = nullptr;
    decltype(&uvcemul_unplug) unplug = nullptr;
    decltype(&uvcemul_set_busy) setBusy = nullptr;
    decltype(&uvcemul_renumber) renumber = nullptr;
    decltype(&uvcemul_deny_open) denyOpen = nullptr;
    decltype(&uvcemul_set_descriptors) setDescriptors = nullptr;
    decltype(&uvcemul_script_status) scriptStatus = nullptr;
    decltype(&uvcemul_set_frame_mode) setFrameMode = nullptr;
    decltype(&uvcemul_last_set) lastSet = nullptr;
    decltype(&uvcemul_open_count) openCount = nullptr;
    decltype(&uvcemul_mapped_count) mappedCount = nullptr;
    decltype(&uvcemul_frames) frames = nullptr;
    decltype(&uvcemul_set_control) setControl = nullptr;
    decltype(&uvcemul_queries) queries = nullptr;
    decltype(&uvcemul_set_camera_control) setCameraControl = nullptr;
    decltype(&uvcemul_camera_control) cameraControl = nullptr;

    bool Load() {
#define KIV_EMUL(field, name) field = reinterpret_cast<decltype(field)>(dlsym(RTLD_DEFAULT, #name))
        KIV_EMUL(reset, uvcemul_reset);
        KIV_EMUL(add, uvcemul_add);
        KIV_EMUL(unplug, uvcemul_unplug);
        KIV_EMUL(setBusy, uvcemul_set_busy);
        KIV_EMUL(renumber, uvcemul_renumber);
        KIV_EMUL(denyOpen, uvcemul_deny_open);
        KIV_EMUL(setDescriptors, uvcemul_set_descriptors);
        KIV_EMUL(scriptStatus, uvcemul_script_status);
        KIV_EMUL(setFrameMode, uvcemul_set_frame_mode);
        KIV_EMUL(lastSet, uvcemul_last_set);
        KIV_EMUL(openCount, uvcemul_open_count);
        KIV_EMUL(mappedCount, uvcemul_mapped_count);
        KIV_EMUL(frames, uvcemul_frames);
        KIV_EMUL(setControl, uvcemul_set_control);
        KIV_EMUL(queries, uvcemul_queries);
        KIV_EMUL(setCameraControl, uvcemul_set_camera_control);
        KIV_EMUL(cameraControl, uvcemul_camera_control);
#undef KIV_EMUL
        return reset && add && unplug && setBusy && renumber && denyOpen && setDescriptors && scriptStatus &&
               setFrameMode && lastSet && openCount && mappedCount && frames && setControl && queries &&
               setCameraControl && cameraControl;
    }
};

UvcEmulCamera ModelB(std::uint32_t fourccFirst = V4L2_PIX_FMT_MJPEG) {
    UvcEmulCamera c;
    c.unit = 2;
    std::snprintf(c.serial, sizeof c.serial, "KB#0042");
    c.formatCount = 2;
    UvcEmulFormat mjpeg;
    mjpeg.fourcc = V4L2_PIX_FMT_MJPEG;
    mjpeg.count = 2;
    mjpeg.width[0] = 640, mjpeg.height[0] = 480;
    mjpeg.width[1] = 320, mjpeg.height[1] = 240;
    UvcEmulFormat yuyv;
    yuyv.fourcc = V4L2_PIX_FMT_YUYV;
    yuyv.count = 2;
    yuyv.width[0] = 320, yuyv.height[0] = 240;
    yuyv.width[1] = 160, yuyv.height[1] = 120;
    c.formats[0] = fourccFirst == V4L2_PIX_FMT_MJPEG ? mjpeg : yuyv;
    c.formats[1] = fourccFirst == V4L2_PIX_FMT_MJPEG ? yuyv : mjpeg;
    c.currentFourcc = V4L2_PIX_FMT_YUYV;
    c.currentWidth = 320;
    c.currentHeight = 240;
    return c;
}

UvcEmulCamera YuyvOnly(const char* name, std::uint16_t product) {
    UvcEmulCamera c = ModelB();
    std::snprintf(c.name, sizeof c.name, "%s", name);
    c.product = product;
    c.formatCount = 1;
    c.formats[0] = ModelB().formats[1];
    return c;
}

int OpenFdCount() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir)) ++n;
        closedir(dir);
    }
    return n;
}

template <typename F>
bool WaitFor(F condition, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Largest channel difference between a bottom-up BGR24 frame and the pattern.
int WorstPatternError(const std::uint8_t* bytes, int width, int height, int stride, double* mean = nullptr) {
    int worst = 0;
    double total = 0;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = bytes + static_cast<std::size_t>(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            const kivtest::Rgb p = kivtest::SimPixel(x, y);
            const int e = std::max(
                {std::abs(row[x * 3] - p.b), std::abs(row[x * 3 + 1] - p.g), std::abs(row[x * 3 + 2] - p.r)});
            worst = std::max(worst, e);
            total += e;
        }
    }
    if (mean) *mean = total / (static_cast<double>(width) * height);
    return worst;
}

class V4l2Test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(emul.Load()) << "libuvcemul.so is not preloaded (LD_PRELOAD)";
        emul.reset();
        fdsBefore = OpenFdCount();
        LastCameraError = 0;
    }
    void TearDown() override {
        camera.reset();
        platform = nullptr;
        EXPECT_EQ(emul.openCount(), 0) << "an emulated node was left open";
        EXPECT_EQ(emul.mappedCount(), 0) << "a buffer was left mapped";
        EXPECT_EQ(OpenFdCount(), fdsBefore);
        emul.reset();
    }

    // A camera object over a fresh backend.
    void MakeCamera() {
        auto p = std::make_unique<V4l2VideoPlatform>();
        platform = p.get();
        camera = std::make_unique<CCameraLogic>(std::move(p));
    }

    // The emulated camera `config` plugged in, and a camera object opened on it.
    void OpenCamera(const UvcEmulCamera& config) {
        emul.add(&config);
        MakeCamera();
        ASSERT_EQ(camera->Open(), 1);
    }

    // The emulated camera `config` plugged in, and a bare backend bound to it.
    std::unique_ptr<V4l2VideoPlatform> BoundTo(const UvcEmulCamera& config) {
        emul.add(&config);
        return Bound();
    }

    // A bare backend, bound to the listed device at index.
    std::unique_ptr<V4l2VideoPlatform> Bound(std::size_t index = 0) {
        auto p = std::make_unique<V4l2VideoPlatform>();
        EXPECT_EQ(p->InitializeThread(), PlatformResult::Ok);
        EXPECT_EQ(p->CreateGraph(), PlatformResult::Ok);
        std::vector<VideoDevice> devices;
        EXPECT_EQ(p->ListDevices(devices), PlatformResult::Ok);
        EXPECT_EQ(p->BindDevice(index), PlatformResult::Ok);
        return p;
    }

    Emul emul;
    int fdsBefore = 0;
    V4l2VideoPlatform* platform = nullptr;  // owned by camera
    std::unique_ptr<CCameraLogic> camera;
};

}  // namespace

// -- devices ----------------------------------------------------------------------------

TEST_F(V4l2Test, ListsCaptureNodesOnlyWithWindowsStylePaths) {
    UvcEmulCamera first = ModelB();
    first.metadataFirst = 1;  // video0 is the metadata node of the first camera
    emul.add(&first);
    UvcEmulCamera second = YuyvOnly("Other Cam", 0x0c01);
    second.serial[0] = '\0';
    std::snprintf(second.port, sizeof second.port, "3-1.4");
    second.interfaceNumber = 2;
    emul.add(&second);

    V4l2VideoPlatform p;
    std::vector<VideoDevice> devices;
    ASSERT_EQ(p.ListDevices(devices), PlatformResult::Ok);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].path, L"usb#vid_1a3c&pid_0b21&mi_00#sn_KB_0042#0");
    EXPECT_EQ(devices[0].friendlyName, L"ORVAN KIVCAMB");
    EXPECT_TRUE(devices[0].readable);
    EXPECT_EQ(devices[1].path, L"usb#vid_1a3c&pid_0c01&mi_02#port_3-1.4#0");
    EXPECT_EQ(devices[1].friendlyName, L"Other Cam");
    EXPECT_EQ(p.OpenDevicePath(devices[1].path), PlatformResult::Ok);
    EXPECT_EQ(p.OpenDevicePath(L"usb#vid_1a3c&pid_0c01&mi_02#port_3-1.5#0"), PlatformResult::NotFound);
}

TEST_F(V4l2Test, NoCameraIsNotFound) {
    V4l2VideoPlatform p;
    std::vector<VideoDevice> devices;
    EXPECT_EQ(p.ListDevices(devices), PlatformResult::NotFound);
    MakeCamera();
    EXPECT_EQ(camera->Open(), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_NOT_FOUND);
}

TEST_F(V4l2Test, BindingFollowsTheDeviceAcrossRenumberingAndFailsWhenItIsGone) {
    UvcEmulCamera b = ModelB();
    emul.add(&b);
    V4l2VideoPlatform p;
    ASSERT_EQ(p.InitializeThread(), PlatformResult::Ok);
    ASSERT_EQ(p.CreateGraph(), PlatformResult::Ok);
    std::vector<VideoDevice> devices;
    ASSERT_EQ(p.ListDevices(devices), PlatformResult::Ok);
    emul.renumber(5);  // video0 no longer exists; video5 is the capture node
    ASSERT_EQ(p.BindDevice(0), PlatformResult::Ok);
    StreamCaps caps;
    EXPECT_EQ(p.ReadStreamCaps(caps), PlatformResult::Ok);
    EXPECT_EQ(caps.entries.size(), 4u);
    p.DisconnectGraph();

    ASSERT_EQ(p.ListDevices(devices), PlatformResult::Ok);
    emul.unplug(0, kEmulUnplugHangUp);
    EXPECT_EQ(p.BindDevice(0), PlatformResult::NotFound);
    EXPECT_EQ(p.OpenDevicePath(devices[0].path), PlatformResult::NotFound);
    p.ReleaseGraph();
}

TEST_F(V4l2Test, ANodeThatCannotBeOpenedIsListedUnreadableAndPassedOver) {
    UvcEmulCamera b = ModelB();
    emul.add(&b);
    emul.denyOpen(0, 1);
    V4l2VideoPlatform p;
    std::vector<VideoDevice> devices;
    ASSERT_EQ(p.ListDevices(devices), PlatformResult::Ok);
    ASSERT_EQ(devices.size(), 1u);  // the capture node only, by its sysfs index
    EXPECT_FALSE(devices[0].readable);
    EXPECT_EQ(devices[0].path, L"usb#vid_1a3c&pid_0b21&mi_00#sn_KB_0042#0");
    MakeCamera();
    EXPECT_EQ(camera->Open(), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_NOT_FOUND);
    LastCameraError = 0;
    EXPECT_EQ(camera->IsDevicePresent(L"ORVAN KIVCAMB"), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_NOT_FOUND);  // the last device could not be read
    camera->Close();
    emul.denyOpen(0, 0);
    EXPECT_EQ(camera->Open(), 1);
    camera->Close();
}

TEST_F(V4l2Test, TheCameraLogicBindsTheMakersCameraWithItsModelName) {
    UvcEmulCamera other = YuyvOnly("Webcam", 0x0001);
    other.vendor = 0x046d;
    std::snprintf(other.port, sizeof other.port, "1-1");
    emul.add(&other);
    ASSERT_NO_FATAL_FAILURE(OpenCamera(ModelB()));
    std::unique_ptr<CUVCDeviceInfo> info;
    ASSERT_EQ(camera->GetDeviceInfo(info), 1);
    EXPECT_EQ(info->friendlyName, L"ORVAN KIVCAMB");
    EXPECT_EQ(info->devicePath, L"usb#vid_1a3c&pid_0b21&mi_00#sn_KB_0042#0");
    EXPECT_EQ(camera->IsDevicePresent(L"orvan kivcamb"), 1);
    EXPECT_EQ(camera->IsDevicePresent(L"KIVCAMA"), 0);
    camera->Close();
}

// -- formats ----------------------------------------------------------------------------

TEST_F(V4l2Test, FormatsInDeviceOrderAndMjpegChosenAtItsFirstSize) {
    UvcEmulCamera b = ModelB(V4L2_PIX_FMT_YUYV);  // YUYV listed first, current YUYV 320x240
    b.formats[1].stepwise = 0;
    emul.add(&b);
    MakeCamera();
    ASSERT_EQ(camera->Open(), 1);
    std::unique_ptr<CUVCDeviceInfo> info;
    ASSERT_EQ(camera->GetDeviceInfo(info), 1);
    ASSERT_EQ(info->formats.size(), 4u);
    EXPECT_TRUE(info->formats[0].subtype == MediaSubtypeYUY2);
    EXPECT_EQ(info->formats[0].resolution.width, 320);
    EXPECT_EQ(info->formats[0].resolution.isDefault, 1);  // the current size
    EXPECT_TRUE(info->formats[2].subtype == MediaSubtypeMJPG);
    // MJPEG is preferred; 320x240 is an MJPEG size, so it is kept.
    EXPECT_EQ(camera->ChosenFormat().type, UVCFMT_MJPEG);
    EXPECT_EQ(camera->ChosenFormat().resolution.width, 320);
    StreamCaps caps;
    ASSERT_EQ(platform->ReadStreamCaps(caps), PlatformResult::Ok);
    EXPECT_EQ(caps.currentWidth, 320);  // set and read back
    camera->Close();
}

TEST_F(V4l2Test, SteppedSizesOfferNothingAndAnAdjustedFormatIsAFailure) {
    UvcEmulCamera b = ModelB();
    b.formats[0].stepwise = 1;  // MJPEG sizes as a range
    emul.add(&b);
    auto p = Bound();
    StreamCaps caps;
    ASSERT_EQ(p->ReadStreamCaps(caps), PlatformResult::Ok);
    ASSERT_EQ(caps.entries.size(), 2u);
    EXPECT_TRUE(caps.entries[0].subtype == MediaSubtypeYUY2);
    // A size nobody listed: Ok without a change.
    EXPECT_EQ(p->SetStreamFormat(MediaSubtypeYUY2, 1000, 1000), PlatformResult::Ok);
    EXPECT_EQ(p->SetStreamFormat(MediaSubtypeYUY2, 160, 120), PlatformResult::Ok);
    ASSERT_EQ(p->ReadStreamCaps(caps), PlatformResult::Ok);
    EXPECT_EQ(caps.currentWidth, 160);
    p->DisconnectGraph();
    p->ReleaseGraph();

    // A listed size the driver then adjusts (the emulated device lists 200x100
    // for YUYV but only streams its real sizes): refused, not silently changed.
    emul.reset();
    UvcEmulCamera odd = YuyvOnly("ORVAN KIVCAMB", 0x0b21);
    odd.formats[0].count = 3;
    odd.formats[0].width[2] = 200;
    odd.formats[0].height[2] = 100;
    odd.formats[0].streamable = 2;
    emul.add(&odd);
    auto q = Bound();
    ASSERT_EQ(q->ReadStreamCaps(caps), PlatformResult::Ok);
    ASSERT_EQ(caps.entries.size(), 3u);
    EXPECT_EQ(q->SetStreamFormat(MediaSubtypeYUY2, 200, 100), PlatformResult::Failed);
    EXPECT_EQ(q->SetStreamFormat(MediaSubtypeYUY2, 160, 120), PlatformResult::Ok);
    q->DisconnectGraph();
    q->ReleaseGraph();
}

// -- streaming and pixels ----------------------------------------------------------------

TEST_F(V4l2Test, YuyvStillsEqualThePatternWithinTheBt601RoundTrip) {
    UvcEmulCamera c = YuyvOnly("KIVCAMA", 0x0b21);
    c.yuyvRowPadding = 12;  // bytesperline wider than the row
    emul.add(&c);
    test::FakeWindowBridge bridge;
    test::ScopedBridge scoped(bridge);
    MakeCamera();
    ASSERT_EQ(camera->Open(), 1);
    EXPECT_EQ(camera->ChosenFormat().type, UVCFMT_YUY2);
    EXPECT_EQ(camera->SetFrameCallback(reinterpret_cast<WindowHandle>(0x77), 1), 1);
    ASSERT_EQ(camera->Run(), 1);
    ASSERT_TRUE(WaitFor([&] { return platform->PayloadsReceived() >= 3; }));
    EXPECT_EQ(bridge.FramesArrived(), 1u);  // one per arming
    std::unique_ptr<CImageReference> still;
    ASSERT_EQ(camera->GrabStill(still), 1);
    ASSERT_EQ(still->Width(), 320);
    ASSERT_EQ(still->Height(), 240);
    EXPECT_EQ(still->BytesPerLine(), 960);
    double mean = 0;
    const int worst = WorstPatternError(still->Data(), 320, 240, 960, &mean);
    // The pattern's colours go through 8-bit YUV with 4:2:2 chroma and back:
    // measured worst 3, mean 1.1.
    EXPECT_LE(worst, 4);
    EXPECT_LT(mean, 1.5);

    // A new format is set on the device and streams at its size.
    ASSERT_EQ(camera->SetMediaFormat(UVCFMT_YUY2, CResolution(160, 120)), 1);
    ASSERT_TRUE(WaitFor([&] { return platform->PayloadsReceived() >= 2; }));
    ASSERT_EQ(camera->GrabStill(still), 1);
    ASSERT_EQ(still->Width(), 160);
    ASSERT_EQ(still->Height(), 120);
    EXPECT_LE(WorstPatternError(still->Data(), 160, 120, still->BytesPerLine()), 4);
    EXPECT_EQ(camera->Stop(), 1);
    camera->Close();
}

TEST_F(V4l2Test, MjpegFramesDecodeLazilyAndTheTrimApplies) {
    UvcEmulCamera b = ModelB();
    b.currentFourcc = V4L2_PIX_FMT_MJPEG;
    b.currentWidth = 640;
    b.currentHeight = 480;
    emul.add(&b);
    test::FakeWindowBridge bridge;
    test::ScopedBridge scoped(bridge);
    MakeCamera();
    ASSERT_EQ(camera->Open(), 1);
    ASSERT_EQ(camera->ChosenFormat().type, UVCFMT_MJPEG);
    ASSERT_EQ(camera->SetPreviewWindow(reinterpret_cast<WindowHandle>(0x55)), 1);
    const SourceRect source = platform->Source();
    EXPECT_EQ(source.top, 1);  // MJPEG loses its first and last line
    EXPECT_EQ(source.height, 478);
    // A shown preview draws, and so decodes, frames; hidden, nothing is decoded.
    ASSERT_EQ(platform->ShowPreview(false), PlatformResult::Ok);
    ASSERT_EQ(camera->Run(), 1);
    ASSERT_TRUE(WaitFor([&] { return platform->PayloadsReceived() >= 20; }));
    EXPECT_EQ(platform->FramesConverted(), 0u);  // nobody asked for a picture
    VideoFrame frame;
    ASSERT_EQ(platform->GetLatestFrame(frame), PlatformResult::Ok);
    EXPECT_EQ(platform->FramesConverted(), 1u);
    ASSERT_TRUE(IsWellFormed(frame));
    double mean = 0;
    // JPEG rings at the pattern's 255-to-0 steps; the mean tells the picture.
    EXPECT_LE(WorstPatternError(frame.bytes->data(), 640, 480, frame.stride, &mean), 64);
    EXPECT_LT(mean, 3.0);
    std::unique_ptr<CImageReference> still;
    ASSERT_EQ(camera->GrabStill(still), 1);
    EXPECT_EQ(still->Width(), 640);
    EXPECT_EQ(still->Height(), 480);
    // Shown, the preview decodes at its own scale: a full-size decode is for
    // a still only.
    ASSERT_EQ(platform->ShowPreview(true), PlatformResult::Ok);
    const std::uint64_t full = platform->FramesConverted();
    const std::uint64_t received = platform->PayloadsReceived();
    ASSERT_TRUE(WaitFor([&] { return platform->PayloadsReceived() >= received + 10; }));
    EXPECT_EQ(platform->FramesConverted(), full);
    ASSERT_EQ(camera->GrabStill(still), 1);
    EXPECT_EQ(platform->FramesConverted(), full + 1);
    EXPECT_EQ(camera->Stop(), 1);
    camera->Close();
}

TEST_F(V4l2Test, TheSoftwarePreviewIsFedOnlyWhileVisible) {
    auto p = BoundTo(ModelB());
    StreamCaps caps;
    ASSERT_EQ(p->ReadStreamCaps(caps), PlatformResult::Ok);
    ASSERT_EQ(p->SetStreamFormat(MediaSubtypeMJPG, 320, 240), PlatformResult::Ok);
    ASSERT_EQ(p->ConnectGraph(), PlatformResult::Ok);
    std::mutex mutex;
    std::vector<VideoFrame> shown;
    p->SetPreviewSink([&](const std::shared_ptr<IPreviewPayload>& payload) {
        VideoFrame frame;
        SourceRect part;
        if (!payload->Reduce(SourceRect{0, 0, 320, 240}, 320, 240, frame, part)) return;
        std::lock_guard<std::mutex> lock(mutex);
        shown.push_back(frame);
    });
    auto count = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return shown.size();
    };
    ASSERT_EQ(p->Run(), PlatformResult::Ok);
    ASSERT_TRUE(WaitFor([&] { return p->PayloadsReceived() >= 5; }));
    EXPECT_EQ(count(), 0u);  // not visible yet
    ASSERT_EQ(p->ShowPreview(true), PlatformResult::Ok);
    ASSERT_TRUE(WaitFor([&] { return count() >= 3; }));
    ASSERT_EQ(p->ShowPreview(false), PlatformResult::Ok);
    const std::size_t seen = count();
    const std::uint64_t received = p->PayloadsReceived();
    ASSERT_TRUE(WaitFor([&] { return p->PayloadsReceived() >= received + 5; }));
    EXPECT_LE(count(), seen + 1);  // at most the one in flight
    EXPECT_EQ(p->Stop(), PlatformResult::Ok);
    p->SetPreviewSink(nullptr);
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const VideoFrame& f : shown) {
            EXPECT_TRUE(IsWellFormed(f));
            EXPECT_EQ(f.width, 320);
        }
    }
    p->DisconnectGraph();
    p->ReleaseGraph();
}

TEST_F(V4l2Test, DamagedMjpegKeepsThePreviousPictureAndFlaggedBuffersAreNotUsed) {
    UvcEmulCamera b = ModelB();
    b.currentFourcc = V4L2_PIX_FMT_MJPEG;
    b.currentWidth = 320;
    b.currentHeight = 240;
    emul.add(&b);
    auto p = Bound();
    StreamCaps caps;
    ASSERT_EQ(p->ReadStreamCaps(caps), PlatformResult::Ok);
    ASSERT_EQ(p->SetStreamFormat(MediaSubtypeMJPG, 320, 240), PlatformResult::Ok);
    ASSERT_EQ(p->ConnectGraph(), PlatformResult::Ok);

    // Buffers flagged as errors never become frames.
    emul.setFrameMode(0, kEmulFramesErrorFlag);
    ASSERT_EQ(p->Run(), PlatformResult::Ok);
    ASSERT_TRUE(WaitFor([&] { return emul.frames(0) >= 10; }));
    EXPECT_EQ(p->PayloadsReceived(), 0u);
    VideoFrame frame;
    EXPECT_EQ(p->GetLatestFrame(frame), PlatformResult::Failed);

    // Without Huffman tables: the standard ones.
    emul.setFrameMode(0, kEmulFramesNoHuffman);
    ASSERT_TRUE(WaitFor([&] { return p->PayloadsReceived() >= 2; }));
    ASSERT_EQ(p->GetLatestFrame(frame), PlatformResult::Ok);
    double mean = 0;
    EXPECT_LE(WorstPatternError(frame.bytes->data(), 320, 240, frame.stride, &mean), 64);
    EXPECT_LT(mean, 3.0);
    const auto good = frame.bytes;

    // Garbage is dropped: the last picture stays.
    emul.setFrameMode(0, kEmulFramesGarbage);
    const std::uint64_t sent = emul.frames(0);
    ASSERT_TRUE(WaitFor([&] { return emul.frames(0) >= sent + 10; }));
    ASSERT_EQ(p->GetLatestFrame(frame), PlatformResult::Ok);
    EXPECT_EQ(*frame.bytes, *good);

    // So is a picture of another size than the stream's.
    emul.setFrameMode(0, kEmulFramesWrongSize);
    const std::uint64_t sentBefore = emul.frames(0);
    ASSERT_TRUE(WaitFor([&] { return emul.frames(0) >= sentBefore + 10; }));
    ASSERT_EQ(p->GetLatestFrame(frame), PlatformResult::Ok);
    EXPECT_EQ(frame.width, 320);
    EXPECT_EQ(*frame.bytes, *good);

    // A truncated frame that still decodes is used.
    emul.setFrameMode(0, kEmulFramesTruncated);
    const std::uint64_t received = p->PayloadsReceived();
    ASSERT_TRUE(WaitFor([&] { return p->PayloadsReceived() >= received + 2; }));
    ASSERT_EQ(p->GetLatestFrame(frame), PlatformResult::Ok);
    EXPECT_TRUE(IsWellFormed(frame));
    EXPECT_NE(*frame.bytes, *good);
    EXPECT_EQ(p->Stop(), PlatformResult::Ok);
    p->DisconnectGraph();
    p->ReleaseGraph();
}

TEST_F(V4l2Test, ANewFormatWhileStreamingStopsAndFreesTheBuffersFirst) {
    UvcEmulCamera c = YuyvOnly("KIVCAMA", 0x0b21);
    emul.add(&c);
    auto p = Bound();
    StreamCaps caps;
    ASSERT_EQ(p->ReadStreamCaps(caps), PlatformResult::Ok);
    ASSERT_EQ(p->SetStreamFormat(MediaSubtypeYUY2, 320, 240), PlatformResult::Ok);
    ASSERT_EQ(p->ConnectGraph(), PlatformResult::Ok);
    ASSERT_EQ(p->Run(), PlatformResult::Ok);
    ASSERT_TRUE(WaitFor([&] { return p->PayloadsReceived() >= 2; }));
    EXPECT_GT(emul.mappedCount(), 0);
    // The driver answers EBUSY while buffers exist: the backend lets them go.
    ASSERT_EQ(p->SetStreamFormat(MediaSubtypeYUY2, 160, 120), PlatformResult::Ok);
    EXPECT_EQ(emul.mappedCount(), 0);
    ASSERT_EQ(p->ConnectGraph(), PlatformResult::Ok);
    ASSERT_EQ(p->Run(), PlatformResult::Ok);
    ASSERT_TRUE(WaitFor([&] { return p->PayloadsReceived() >= 2; }));
    VideoFrame frame;
    ASSERT_EQ(p->GetLatestFrame(frame), PlatformResult::Ok);
    EXPECT_EQ(frame.width, 160);
    EXPECT_EQ(frame.height, 120);
    EXPECT_EQ(frame.stride, 480);
    p->DisconnectGraph();
    p->ReleaseGraph();
}

// -- busy and unplug ---------------------------------------------------------------------

TEST_F(V4l2Test, ADeviceInUseIsBusy) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(ModelB()));
    emul.setBusy(0, 1);
    EXPECT_EQ(camera->Run(), 0);
    EXPECT_EQ(LastCameraError, CAMERA_ERR_BUSY);
    EXPECT_EQ(emul.mappedCount(), 0);  // a failed start leaves nothing behind
    // The format cannot change either.
    EXPECT_EQ(camera->SetMediaFormat(UVCFMT_YUY2, CResolution(160, 120)), 0);
    emul.setBusy(0, 0);
    EXPECT_EQ(camera->Open(), 1) << LastCameraError;
    EXPECT_EQ(camera->Run(), 1);
    EXPECT_EQ(camera->Stop(), 1);
    camera->Close();
}

TEST_F(V4l2Test, UnplugWhileStreamingIsTheBoundDevicesRemoval) {
    for (int how : {kEmulUnplugHangUp, kEmulUnplugBuffers}) {
        SCOPED_TRACE(how);
        emul.reset();
        UvcEmulCamera b = ModelB();
        emul.add(&b);
        test::FakeWindowBridge bridge;
        test::ScopedBridge scoped(bridge);
        MakeCamera();
        ASSERT_EQ(camera->Open(), 1);
        const WindowHandle window = reinterpret_cast<WindowHandle>(0x99);
        ASSERT_EQ(camera->SetNotifyWindow(window), 1);
        ASSERT_EQ(camera->Run(), 1);
        ASSERT_TRUE(WaitFor([&] { return platform->PayloadsReceived() >= 2; }));
        emul.unplug(0, how);
        ASSERT_TRUE(WaitFor([&] { return bridge.GraphNotifies() >= 1; }));
        CUVCState state;
        ASSERT_EQ(camera->HandleGraphEvents(state), 1);
        EXPECT_EQ(state.state, CUVCState::CameraRemoved);
        EXPECT_EQ(bridge.graphNotifies.front(), window);
        EXPECT_EQ(camera->IsDevicePresent(L"ORVAN KIVCAMB"), 0);
        EXPECT_EQ(camera->Stop(), 1);
        // Rebuilding on the lost device fails as not found.
        EXPECT_EQ(camera->SetMediaFormat(UVCFMT_MJPEG, CResolution(640, 480)), 0);
        EXPECT_EQ(LastCameraError, CAMERA_ERR_NOT_FOUND);
        camera->Close();
        camera.reset();
    }
}

// The log says what failed where: the call, its errno by name and the node.
TEST_F(V4l2Test, AnUnpluggedDeviceLogsTheFailedCallItsErrnoAndTheNode) {
    UvcEmulCamera b = ModelB();
    emul.add(&b);
    const std::vector<v4l2::CaptureNode> nodes = v4l2::ListCaptureNodes();
    ASSERT_EQ(nodes.size(), 1u);
    auto p = Bound();
    ASSERT_EQ(p->ConnectGraph(), PlatformResult::Ok);
    ASSERT_EQ(p->Run(), PlatformResult::Ok);
    ASSERT_TRUE(WaitFor([&] { return p->PayloadsReceived() >= 1; }));
    kivtest::LogCapture log("kivds_v4l2_unplug.log");
    emul.unplug(0, kEmulUnplugBuffers);  // DQBUF drains the queue, then fails; QBUF may fail first
    const std::string lost = "error v4l2.stream: device lost: VIDIOC_";
    ASSERT_TRUE(WaitFor([&] { return log.Text().find(lost) != std::string::npos; })) << log.Text();
    const std::string text = log.Text();
    const std::string line = text.substr(text.find(lost), text.find('\n', text.find(lost)) - text.find(lost));
    EXPECT_TRUE(line.find("QBUF failed with ENODEV (19) on " + nodes[0].node) != std::string::npos ||
                line.find("DQBUF failed with EIO (5) on " + nodes[0].node) != std::string::npos)
        << line;
    StreamCaps caps;
    EXPECT_EQ(p->ReadStreamCaps(caps), PlatformResult::NotFound);
    EXPECT_NE(log.Text().find("error v4l2.caps: not found: VIDIOC_ENUM_FMT failed with ENODEV (19) on " +
                              nodes[0].node),
              std::string::npos)
        << log.Text();
    p->DisconnectGraph();
    p->ReleaseGraph();
}

TEST_F(V4l2Test, AThousandFramesAndAHundredOpenCloseCyclesLeaveNothingBehind) {
    UvcEmulCamera c = YuyvOnly("KIVCAMA", 0x0b21);
    c.frameIntervalUs = 200;
    emul.add(&c);
    MakeCamera();
    ASSERT_EQ(camera->Open(), 1);
    ASSERT_EQ(camera->Run(), 1);
    ASSERT_TRUE(WaitFor([&] { return platform->PayloadsReceived() >= 1000; }, 60000));
    EXPECT_EQ(camera->Stop(), 1);
    camera->Close();
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(camera->Open(), 1) << i;
        ASSERT_EQ(camera->Run(), 1) << i;
        if (i % 10 == 0) {
            ASSERT_TRUE(WaitFor([&] { return platform->PayloadsReceived() >= 1; })) << i;
        }
        ASSERT_EQ(camera->Stop(), 1) << i;
        camera->Close();
    }
    EXPECT_EQ(emul.openCount(), 0);
    EXPECT_EQ(emul.mappedCount(), 0);
}

// -- extension units ---------------------------------------------------------------------

TEST_F(V4l2Test, ModelBReadsItsStatusThroughTheExtensionUnit) {
    UvcEmulCamera b = ModelB();
    emul.add(&b);
    const std::uint8_t script[] = {0x00, 0x05, 0x01};
    emul.scriptStatus(0, script, sizeof script);
    auto p = Bound();
    EXPECT_EQ(p->FindExtensionUnit(kExtensionUnitModelB), PlatformResult::Ok);
    EXPECT_EQ(p->FindExtensionUnit(kExtensionUnitModelA), PlatformResult::NotFound);
    std::uint8_t status[2] = {0xFF, 0xFF};
    for (std::uint8_t expected : {0x00, 0x05, 0x01, 0x01}) {
        ASSERT_EQ(p->ExtensionUnitGet(kExtensionUnitModelB, kModelBStatusSelector, status, 2), PlatformResult::Ok);
        EXPECT_EQ(status[0], expected);
        EXPECT_EQ(status[1], 0);
    }
    // A read shorter than the control gets its first bytes; a longer one is not sent.
    status[0] = 0xFF;
    ASSERT_EQ(p->ExtensionUnitGet(kExtensionUnitModelB, kModelBStatusSelector, status, 1), PlatformResult::Ok);
    EXPECT_EQ(status[0], 0x01);
    std::uint8_t three[3] = {};
    const std::uint64_t reads = emul.queries(0, UVC_GET_CUR);
    EXPECT_EQ(p->ExtensionUnitGet(kExtensionUnitModelB, kModelBStatusSelector, three, 3), PlatformResult::Failed);
    EXPECT_EQ(emul.queries(0, UVC_GET_CUR), reads);
    EXPECT_EQ(p->ExtensionUnitGet(kExtensionUnitModelB, 3, status, 2), PlatformResult::NotFound);
    EXPECT_EQ(p->ExtensionUnitGet(kExtensionUnitModelA, kModelARegisterSelector, status, 1), PlatformResult::NotFound);
    emul.unplug(0, kEmulUnplugHangUp);
    EXPECT_EQ(p->ExtensionUnitGet(kExtensionUnitModelB, kModelBStatusSelector, status, 2), PlatformResult::NotFound);
    p->DisconnectGraph();
    p->ReleaseGraph();
}

// The emulated unit refuses what uvcvideo refuses: a request whose size is not
// the control's length, whatever the query.
TEST_F(V4l2Test, TheEmulatedUnitAnswersOnlyRequestsOfTheControlsLength) {
    UvcEmulCamera a = YuyvOnly("KIVCAMA", 0x0b21);
    a.unit = 1;
    emul.add(&a);
    const std::vector<v4l2::CaptureNode> nodes = v4l2::ListCaptureNodes();
    ASSERT_EQ(nodes.size(), 1u);
    v4l2::UniqueFd fd(::open(nodes[0].node.c_str(), O_RDWR | O_NONBLOCK));
    ASSERT_TRUE(fd.Valid());
    auto query = [&](std::uint8_t unit, std::uint8_t selector, std::uint8_t code, std::uint8_t* data,
                     std::uint16_t size) {
        uvc_xu_control_query q{unit, selector, code, size, data};
        return ::ioctl(fd.Get(), UVCIOC_CTRL_QUERY, &q) == 0 ? 0 : errno;
    };
    std::uint8_t data[4] = {0x84, 0x01, 0, 0};
    EXPECT_EQ(query(kEmulUnitId, 2, UVC_GET_CUR, data, 1), ENOBUFS);  // the protocol's 1-byte read
    EXPECT_EQ(query(kEmulUnitId, 2, UVC_SET_CUR, data, 3), ENOBUFS);
    EXPECT_EQ(query(kEmulUnitId, 1, UVC_SET_CUR, data, 2), ENOBUFS);
    EXPECT_EQ(query(kEmulUnitId, 2, UVC_GET_LEN, data, 1), ENOBUFS);
    EXPECT_EQ(query(kEmulUnitId, 2, UVC_GET_INFO, data, 2), ENOBUFS);
    EXPECT_EQ(query(kEmulUnitId, 3, UVC_GET_LEN, data, 2), ENOENT);
    EXPECT_EQ(query(kEmulUnitId + 1, 2, UVC_GET_LEN, data, 2), ENOENT);
    ASSERT_EQ(query(kEmulUnitId, 2, UVC_GET_LEN, data, 2), 0);
    EXPECT_EQ(data[0] | data[1] << 8, 2);
    ASSERT_EQ(query(kEmulUnitId, 2, UVC_GET_INFO, data, 1), 0);
    EXPECT_EQ(data[0], UVC_CONTROL_CAP_GET | UVC_CONTROL_CAP_SET);
    data[0] = 0x84, data[1] = 0x01;
    // Model A's order holds at this level too: the address only after the mode.
    EXPECT_EQ(query(kEmulUnitId, 2, UVC_SET_CUR, data, 2), EPIPE);
    std::uint8_t mode = 0x02;
    ASSERT_EQ(query(kEmulUnitId, 1, UVC_SET_CUR, &mode, 1), 0);
    EXPECT_EQ(query(kEmulUnitId, 2, UVC_SET_CUR, data, 2), 0);
}

TEST_F(V4l2Test, ModelASetsItsModeAndRegister) {
    UvcEmulCamera a = YuyvOnly("KIVCAMA", 0x0b21);
    a.unit = 1;
    emul.add(&a);
    const std::uint8_t script[] = {0x42};
    emul.scriptStatus(0, script, 1);
    auto p = Bound();
    const std::uint8_t mode = 0x02;
    ASSERT_EQ(p->ExtensionUnitSet(kExtensionUnitModelA, kModelAModeSelector, &mode, 1), PlatformResult::Ok);
    std::uint8_t selector = 0, data[4] = {};
    ASSERT_EQ(emul.lastSet(0, &selector, data, sizeof data), 1u);
    EXPECT_EQ(selector, kModelAModeSelector);
    EXPECT_EQ(data[0], 0x02);
    const std::uint8_t address[2] = {0x84, 0x01};
    ASSERT_EQ(p->ExtensionUnitSet(kExtensionUnitModelA, kModelARegisterSelector, address, 2), PlatformResult::Ok);
    ASSERT_EQ(emul.lastSet(0, &selector, data, sizeof data), 2u);
    EXPECT_EQ(data[0], 0x84);
    EXPECT_EQ(data[1], 0x01);
    // The protocol reads 1 byte of the 2-byte control.
    std::uint8_t status = 0;
    ASSERT_EQ(p->ExtensionUnitGet(kExtensionUnitModelA, kModelARegisterSelector, &status, 1), PlatformResult::Ok);
    EXPECT_EQ(status, 0x42);
    EXPECT_EQ(p->ExtensionUnitSet(kExtensionUnitModelA, kModelAModeSelector, nullptr, 1), PlatformResult::Failed);
    // Each control's length was asked once.
    EXPECT_EQ(emul.queries(0, UVC_GET_LEN), 2u);

    // Bound anew, the lengths are asked again: a longer register gets its
    // default bytes beyond the address (reading it first would be a step of
    // model A's protocol: it stalls and drops the mode), a shorter one is not
    // written at all. The mode goes to the device directly, so that the
    // backend asks only the register's length.
    const std::uint8_t longer[4] = {0x11, 0x22, 0xAA, 0xBB};
    emul.setControl(0, kModelARegisterSelector, longer, sizeof longer);
    p->DisconnectGraph();
    p = Bound();
    {
        v4l2::UniqueFd node(::open(v4l2::ListCaptureNodes().at(0).node.c_str(), O_RDWR | O_NONBLOCK));
        uvc_xu_control_query q{kEmulUnitId, kModelAModeSelector, UVC_SET_CUR, 1, const_cast<std::uint8_t*>(&mode)};
        ASSERT_EQ(::ioctl(node.Get(), UVCIOC_CTRL_QUERY, &q), 0);
    }
    ASSERT_EQ(p->ExtensionUnitSet(kExtensionUnitModelA, kModelARegisterSelector, address, 2), PlatformResult::Ok);
    ASSERT_EQ(emul.lastSet(0, &selector, data, sizeof data), 4u);
    EXPECT_EQ(std::vector<std::uint8_t>(data, data + 4), (std::vector<std::uint8_t>{0x84, 0x01, 0xAA, 0xBB}));
    status = 0;
    ASSERT_EQ(p->ExtensionUnitGet(kExtensionUnitModelA, kModelARegisterSelector, &status, 1), PlatformResult::Ok);
    EXPECT_EQ(status, 0x42);
    EXPECT_EQ(emul.queries(0, UVC_GET_LEN), 3u);

    const std::uint8_t shorter[1] = {0x00};
    emul.setControl(0, kModelARegisterSelector, shorter, sizeof shorter);
    p->DisconnectGraph();
    p = Bound();
    const std::uint64_t sets = emul.queries(0, UVC_SET_CUR);
    EXPECT_EQ(p->ExtensionUnitSet(kExtensionUnitModelA, kModelARegisterSelector, address, 2), PlatformResult::Failed);
    EXPECT_EQ(emul.queries(0, UVC_SET_CUR), sets);
    p->DisconnectGraph();
    p->ReleaseGraph();
}

// Model A's buttons step the zoom through the Linux backend, although its
// register control is written with 2 bytes and read with 1.
TEST_F(V4l2Test, ModelAButtonsZoomThroughTheDriversControlLengths) {
    UvcEmulCamera a = YuyvOnly("KIVCAMA", 0x0b21);
    a.unit = 1;
    emul.add(&a);
    const std::uint8_t script[] = {0x42, 0x02};  // released, then zoom-in held
    emul.scriptStatus(0, script, sizeof script);
    MakeCamera();
    ASSERT_EQ(camera->Open(), 1);
    ASSERT_EQ(camera->SetPreviewWindow(nullptr), 1);
    ASSERT_EQ(camera->Run(), 1);
    std::vector<std::uint8_t> seen;
    for (int i = 0; i < 6; ++i) {
        CameraButtonState state;
        ASSERT_EQ(camera->PollButtons(&state), 1);
        seen.push_back(state.status);
    }
    EXPECT_EQ(seen, (std::vector<std::uint8_t>{0x42, 0x02, 0x02, 0x02, 0x02, 0x02}));
    ASSERT_FLOAT_EQ(camera->ZoomFactor(), 1.75f);
    const SourceRect zoom = platform->Source();  // 320 / 1.75 = 182, 240 / 1.75 = 137, centred
    EXPECT_EQ(zoom.left, 69);
    EXPECT_EQ(zoom.top, 51);
    EXPECT_EQ(zoom.width, 182);
    EXPECT_EQ(zoom.height, 137);
    EXPECT_EQ(emul.queries(0, UVC_GET_LEN), 2u);  // once per control, not per poll
    ASSERT_EQ(camera->Stop(), 1);
    camera->Close();
}

TEST_F(V4l2Test, HostileDescriptorFilesFindNoUnit) {
    auto p = BoundTo(ModelB());
    ASSERT_EQ(p->FindExtensionUnit(kExtensionUnitModelB), PlatformResult::Ok);
    // The real file cut short in the middle of the extension unit.
    const std::vector<std::uint8_t> cut = {18,   1,    0,    2, 0xEF, 2,  1,    64,   0x3c, 0x1a, 0x21,
                                           0x0b, 0,    1,    1, 2,    3,  1,    9,    4,    0,    0,
                                           1,    0x0E, 0x01, 0, 0,    27, 0x24, 0x06, 4,    0x0A, 0x3E};
    emul.setDescriptors(0, cut.data(), cut.size());
    EXPECT_EQ(p->FindExtensionUnit(kExtensionUnitModelB), PlatformResult::NotFound);
    std::vector<std::uint8_t> huge(70000, 0xFF);
    emul.setDescriptors(0, huge.data(), huge.size());
    EXPECT_EQ(p->FindExtensionUnit(kExtensionUnitModelB), PlatformResult::NotFound);
    emul.setDescriptors(0, huge.data(), 0);
    std::uint8_t status[2];
    EXPECT_EQ(p->ExtensionUnitGet(kExtensionUnitModelB, kModelBStatusSelector, status, 2), PlatformResult::NotFound);
    p->DisconnectGraph();
    p->ReleaseGraph();
}

TEST_F(V4l2Test, SettingsPagesFailCleanly) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(ModelB()));
    EXPECT_EQ(camera->ShowPropertyPages(nullptr, L"Settings"), 0);
    camera->Close();
}

// -- camera controls ---------------------------------------------------------------------

namespace {

const CameraControl& Named(const std::vector<CameraControl>& controls, const char* name) {
    static const CameraControl none;
    const CameraControl* c = FindControl(controls, name);
    EXPECT_NE(c, nullptr) << name;
    return c ? *c : none;
}

}  // namespace

TEST_F(V4l2Test, ControlsAreListedInTheirGroupsWithoutClassHeadersCompoundsOrMenuHoles) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(ModelB()));
    EXPECT_EQ(camera->HasPropertyPages(), 1);
    ICameraControls* controls = camera->CameraControls();
    ASSERT_NE(controls, nullptr);
    const std::vector<CameraControl> all = controls->List();
    EXPECT_EQ(all.size(), 18u);
    for (const CameraControl& c : all) {
        EXPECT_NE(c.name, "User Controls");
        EXPECT_NE(c.name, "Region of Interest");  // compound: nothing a row can show
    }
    EXPECT_EQ(Named(all, "Brightness").group, "User Controls");
    const CameraControl& exposure = Named(all, "Auto Exposure");
    EXPECT_EQ(exposure.group, "Camera Controls");
    ASSERT_EQ(exposure.menu.size(), 2u);  // indices 0 and 2 are holes
    EXPECT_EQ(exposure.menu[1].index, 3);
    EXPECT_EQ(exposure.menu[1].name, "Aperture Priority Mode");
    EXPECT_EQ(FormatControlValue(exposure, exposure.value), "Aperture Priority Mode");
    EXPECT_TRUE(Named(all, "Exposure Time, Absolute").inactive);
    EXPECT_TRUE(Named(all, "Focus, Absolute").inactive);
    EXPECT_TRUE(Named(all, "Privacy").readOnly && Named(all, "Privacy").isVolatile);
    EXPECT_EQ(Named(all, "Pan, Reset").kind, CameraControlKind::Button);
    camera->Close();
    EXPECT_EQ(camera->CameraControls(), nullptr);
}

TEST_F(V4l2Test, ControlsAreClampedSteppedAndRefusedWithTheirReasons) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(ModelB()));
    ICameraControls& controls = *camera->CameraControls();
    std::vector<std::string> heard;
    controls.SetListener([&](const CameraControl& c) { heard.push_back(c.name + (c.inactive ? " inactive" : "")); });

    // Manual focus makes the focus distance the user's; the listener hears both.
    ASSERT_TRUE(SetControlByName(controls, "focus, automatic continuous", "off").Ok());
    EXPECT_EQ(heard, (std::vector<std::string>{"Focus, Absolute", "Focus, Automatic Continuous"}));
    const CameraControl focus = Named(controls.List(), "Focus, Absolute");
    EXPECT_FALSE(focus.inactive);
    // 0 ... 250 in steps of 5, as the driver rounds.
    const std::pair<std::int64_t, std::int64_t> adjusted[] = {{252, 250}, {13, 15}, {12, 10}, {-7, 0}, {9999, 250}};
    for (const auto& [asked, applied] : adjusted) {
        const ControlOutcome out = controls.Set(focus.id, asked);
        EXPECT_TRUE(out.Ok()) << out.message;
        EXPECT_EQ(out.value, applied) << asked;
        EXPECT_EQ(emul.cameraControl(0, focus.id), applied) << asked;
    }

    // A menu index the camera does not offer, a read-only control, an
    // inactive one, a name nobody has: refused before the driver is asked.
    const CameraControl exposure = Named(controls.List(), "Auto Exposure");
    ControlOutcome out = controls.Set(exposure.id, 2);
    EXPECT_EQ(out.status, ControlStatus::InvalidValue);
    EXPECT_EQ(emul.cameraControl(0, exposure.id), exposure.value);
    out = SetControlByName(controls, "Privacy", "on");
    EXPECT_EQ(out.status, ControlStatus::ReadOnly);
    EXPECT_EQ(out.message, "Privacy: read-only");
    out = SetControlByName(controls, "Exposure Time, Absolute", "100");
    EXPECT_EQ(out.status, ControlStatus::Inactive);
    EXPECT_NE(out.message.find("Exposure Time, Absolute: inactive"), std::string::npos) << out.message;
    out = SetControlByName(controls, "Zoom", "2");
    EXPECT_EQ(out.status, ControlStatus::NoSuchControl);
    EXPECT_EQ(out.message, "Zoom: no such control");
    out = SetControlByName(controls, "Power Line Frequency", "55 Hz");
    EXPECT_EQ(out.status, ControlStatus::InvalidValue);
    EXPECT_TRUE(SetControlByName(controls, "Power Line Frequency", "60 hz").Ok());

    // The driver's own refusal, with its errno.
    emul.setBusy(0, 1);
    out = SetControlByName(controls, "Brightness", "10");
    EXPECT_EQ(out.status, ControlStatus::Busy);
    EXPECT_NE(out.message.find("Brightness: the camera is busy (EBUSY"), std::string::npos) << out.message;
    emul.setBusy(0, 0);
    controls.SetListener(nullptr);
    camera->Close();
}

// An integer menu's entries are the numbers VIDIOC_QUERYMENU answers in
// `value`; a user picks one by its number, the driver gets its index.
TEST_F(V4l2Test, IntegerMenuEntriesAreTheDriversValues) {
    UvcEmulCamera b = ModelB();
    b.integerMenu = 1;
    ASSERT_NO_FATAL_FAILURE(OpenCamera(b));
    ICameraControls& controls = *camera->CameraControls();
    const CameraControl bias = Named(controls.List(), "Auto Exposure, Bias");
    EXPECT_EQ(bias.kind, CameraControlKind::IntegerMenu);
    std::vector<std::string> entries;
    for (const ControlMenuEntry& e : bias.menu) entries.push_back(std::to_string(e.index) + "=" + e.name);
    EXPECT_EQ(entries, (std::vector<std::string>{"0=-2000", "1=-1000", "3=1000", "4=2000"}));
    EXPECT_EQ(FormatControlValue(bias, bias.value), "1000");
    ASSERT_TRUE(SetControlByName(controls, "Auto Exposure, Bias", "-1000").Ok());
    EXPECT_EQ(emul.cameraControl(0, kEmulIntegerMenuId), 1);
    camera->Close();
}

TEST_F(V4l2Test, WhatTheCameraChangesItselfArrivesAsControlEventsAndDefaultsRestoreTheRest) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(ModelB()));
    ICameraControls& controls = *camera->CameraControls();
    const CameraControl focus = Named(controls.List(), "Focus, Absolute");
    const CameraControl automatic = Named(controls.List(), "Focus, Automatic Continuous");
    EXPECT_FALSE(controls.Refresh());  // nothing happened

    // Heard at once, on the backend's thread: nobody calls Refresh.
    std::mutex mutex;
    std::vector<CameraControl> heard;
    controls.SetListener([&](const CameraControl& c) {
        std::lock_guard<std::mutex> lock(mutex);
        heard.push_back(c);
    });
    const auto heardFocusAt = [&](std::int64_t value) {
        std::lock_guard<std::mutex> lock(mutex);
        return std::any_of(heard.begin(), heard.end(),
                           [&](const CameraControl& c) { return c.id == focus.id && !c.inactive && c.value == value; });
    };
    ASSERT_EQ(emul.setCameraControl(0, automatic.id, 0), 0);  // another program
    ASSERT_EQ(emul.setCameraControl(0, focus.id, 120), 0);
    EXPECT_TRUE(WaitFor([&] { return heardFocusAt(120); }));
    EXPECT_FALSE(controls.Refresh());  // taken in already

    ASSERT_TRUE(SetControlByName(controls, "Brightness", "-20").Ok());
    const ControlOutcome reset = controls.ResetToDefaults();
    EXPECT_TRUE(reset.Ok()) << reset.message;
    const std::vector<CameraControl> after = controls.List();
    EXPECT_EQ(Named(after, "Brightness").value, 0);
    EXPECT_EQ(Named(after, "Focus, Automatic Continuous").value, 1);
    // Reset while it was the user's (it comes first), then owned by autofocus again.
    EXPECT_TRUE(Named(after, "Focus, Absolute").inactive);
    EXPECT_EQ(Named(after, "Focus, Absolute").value, 0);
    controls.SetListener(nullptr);
    camera->Close();
}

// -- backend choice ----------------------------------------------------------------------

TEST_F(V4l2Test, TheBackendIsChosenByNameAndAnUnknownNameIsNoCamera) {
    UvcEmulCamera b = ModelB();
    emul.add(&b);
    std::vector<VideoDevice> devices;
    {
        kivtest::ScopedEnv env("KIVDS_CAMERA", "v4l2");
        EXPECT_EQ(CreateVideoPlatform()->ListDevices(devices), PlatformResult::Ok);
        EXPECT_EQ(devices.size(), 1u);
    }
    {
        kivtest::ScopedEnv env("KIVDS_CAMERA", nullptr);  // the default on Linux
        EXPECT_EQ(CreateVideoPlatform()->ListDevices(devices), PlatformResult::Ok);
        ASSERT_EQ(devices.size(), 1u);
        EXPECT_EQ(devices[0].friendlyName, L"ORVAN KIVCAMB");
    }
    {
        kivtest::ScopedEnv env("KIVDS_CAMERA", "v4l");
        EXPECT_EQ(CreateVideoPlatform()->ListDevices(devices), PlatformResult::NotFound);
    }
    {
        kivtest::ScopedEnv env("KIVDS_CAMERA", "sim");
        kivtest::ScopedEnv sim("KIVDS_SIM", nullptr);
        ASSERT_EQ(CreateVideoPlatform()->ListDevices(devices), PlatformResult::Ok);
        EXPECT_NE(devices[0].friendlyName, L"ORVAN KIVCAMB");
    }
}
