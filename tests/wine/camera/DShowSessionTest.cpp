// Whole sessions through DS_Entry of the built kivds.ds with KIVDS_CAMERA=dshow
// on the test camera: the camera is found and opened in its chosen format,
// all three transfers carry the camera's picture (trimmed for MJPEG), the
// "in use" and "disconnected" codes reach the application, and closing the
// source releases every COM object of the camera, also over many cycles.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/DsHost.h"
#include "support/FileBytes.h"
#include "support/ScopedEnv.h"
#include "support/SimPattern.h"
#include "wine/camera/TestCameraHost.h"

using namespace twain;
using kivtest::DsHost;
using kivtest::TestCameraHost;

namespace {

const std::string kModelA =
    "name=KIVCAMA;path=\\\\?\\usb#vid_1a3c&pid_0b21&mi_00#6&1f2e3d4c&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}"
    "\\global";
const std::string kOther =
    "name=Other "
    "Cam;path=\\\\?\\usb#vid_046d&pid_0825&mi_00#7&11111111&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";

int TrimmedSourceRow(int y, int height) { return 1 + y * (height - 2) / height; }

class Session : public ::testing::Test {
protected:
    void SetUp() override {
        kivtest::SetEnv("KIVDS_UI", "headless");
        kivtest::SetEnv("KIVDS_CAMERA", "dshow");
    }
    void TearDown() override { kivtest::SetEnv("KIVDS_CAMERA", "sim"); }
};

void ExpectPixel(const unsigned char* px, const kivtest::Rgb& want, bool bgr, int x, int y) {
    EXPECT_EQ(+(bgr ? want.b : want.r), px[0]) << x << "," << y;
    EXPECT_EQ(+want.g, px[1]) << x << "," << y;
    EXPECT_EQ(+(bgr ? want.r : want.b), px[2]) << x << "," << y;
}

}  // namespace

TEST_F(Session, OpensTheMakersCameraAndDeliversAllThreeTransfers) {
    // Another maker's camera comes first and is passed over.
    TestCameraHost camera(kOther + ";caps=yuy2:320x240|" + kModelA +
                          ";caps=yuy2:320x240,mjpeg:640x480,mjpeg:320x240;current=320x240");
    ASSERT_TRUE(camera.Ready());
    const std::string path = kivtest::TempPath("kivds-dshow-session.bmp");
    std::remove(path.c_str());
    {
        DsHost host;
        ASSERT_TRUE(host.Loaded());
        ASSERT_EQ(TWRC_SUCCESS, host.OpenDS()) << host.OpenFailureCondition();
        // MJPEG is preferred; the pin's current size is an MJPEG size and stays.
        ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi()) << host.Status();
        TW_IMAGEINFO info{};
        ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
        EXPECT_EQ(320, +info.ImageWidth);
        EXPECT_EQ(240, +info.ImageLength);

        // Native: bottom-up BGR, the first and last line trimmed away (MJPEG).
        TW_HANDLE dib = nullptr;
        ASSERT_EQ(TWRC_XFERDONE, host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib)) << host.Status();
        ASSERT_NE(nullptr, dib);
        const auto* bits = static_cast<const unsigned char*>(dib) + 40;
        for (int y : {0, 1, 120, 239})
            for (int x : {0, 255, 256, 319})
                ExpectPixel(bits + (239 - y) * 960 + x * 3, kivtest::SimPixel(x, TrimmedSourceRow(y, 240)), true, x, y);
        DsHost::Free(dib);
        ASSERT_EQ(TWRC_SUCCESS, host.EndXfer());
        ASSERT_EQ(TWRC_SUCCESS, host.DisableDS());

        // Memory: top-down RGB strips.
        ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi()) << host.Status();
        std::vector<unsigned char> picture;
        ASSERT_EQ(TWRC_XFERDONE, host.MemoryTransfer(960 * 50, picture)) << host.Status();
        ASSERT_EQ(960u * 240u, picture.size());
        for (int y : {0, 1, 238, 239})
            for (int x : {0, 300, 319})
                ExpectPixel(&picture[y * 960 + x * 3], kivtest::SimPixel(x, TrimmedSourceRow(y, 240)), false, x, y);
        ASSERT_EQ(TWRC_SUCCESS, host.EndXfer());
        ASSERT_EQ(TWRC_SUCCESS, host.DisableDS());

        // File: a BMP of the same picture.
        TW_SETUPFILEXFER setup{};
        std::strcpy(setup.FileName, path.c_str());
        setup.Format = TWFF_BMP;
        ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
        ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi()) << host.Status();
        ASSERT_EQ(TWRC_XFERDONE, host.Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr)) << host.Status();
        const std::vector<unsigned char> file = kivtest::ReadBytes(path);
        ASSERT_EQ(54u + 960u * 240u, file.size());
        ExpectPixel(&file[54 + 239 * 960 + 319 * 3], kivtest::SimPixel(319, TrimmedSourceRow(0, 240)), true, 319, 0);
        ExpectPixel(&file[54], kivtest::SimPixel(0, TrimmedSourceRow(239, 240)), true, 0, 239);
        ASSERT_EQ(TWRC_SUCCESS, host.EndXfer());
        ASSERT_EQ(TWRC_SUCCESS, host.DisableDS());
        ASSERT_EQ(TWRC_SUCCESS, host.CloseDS());
    }
    std::remove(path.c_str());
    EXPECT_EQ(0, camera.LiveObjects());
}

TEST_F(Session, Yuy2OnlyCameraIsNotTrimmed) {
    TestCameraHost camera(kModelA + ";caps=yuy2:160x120");
    ASSERT_TRUE(camera.Ready());
    {
        DsHost host;
        ASSERT_EQ(TWRC_SUCCESS, host.OpenDS()) << host.OpenFailureCondition();
        ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi()) << host.Status();
        TW_HANDLE dib = nullptr;
        ASSERT_EQ(TWRC_XFERDONE, host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib)) << host.Status();
        const auto* bits = static_cast<const unsigned char*>(dib) + 40;
        for (int y : {0, 119})
            for (int x : {0, 159}) ExpectPixel(bits + (119 - y) * 480 + x * 3, kivtest::SimPixel(x, y), true, x, y);
        DsHost::Free(dib);
        ASSERT_EQ(TWRC_SUCCESS, host.EndXfer());
        ASSERT_EQ(TWRC_SUCCESS, host.DisableDS());
        ASSERT_EQ(TWRC_SUCCESS, host.CloseDS());
    }
    EXPECT_EQ(0, camera.LiveObjects());
}

TEST_F(Session, NoCameraOfTheMakerIsDisconnected) {
    TestCameraHost camera(kOther + ";caps=yuy2:160x120");
    ASSERT_TRUE(camera.Ready());
    DsHost host;
    EXPECT_EQ(TWRC_FAILURE, host.OpenDS());
    EXPECT_EQ(0x8001, host.OpenFailureCondition());
    EXPECT_EQ(0, camera.LiveObjects());
}

TEST_F(Session, CameraInUseFailsOpenWithInUse) {
    TestCameraHost camera(kModelA + ";caps=mjpeg:160x120;fail=connect:busy");
    ASSERT_TRUE(camera.Ready());
    {
        DsHost host;
        EXPECT_EQ(TWRC_FAILURE, host.OpenDS());
        EXPECT_EQ(0x8002, host.OpenFailureCondition());
    }
    EXPECT_EQ(0, camera.LiveObjects());
}

TEST_F(Session, UnpluggedCameraIsGoneAtTheNextOpen) {
    TestCameraHost camera(kModelA + ";caps=mjpeg:160x120");
    ASSERT_TRUE(camera.Ready());
    {
        DsHost host;
        ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
        ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi()) << host.Status();
        camera.Unplug(0);
        TW_PENDINGXFERS pending{};
        ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending));
        ASSERT_EQ(TWRC_SUCCESS, host.DisableDS());
        ASSERT_EQ(TWRC_SUCCESS, host.CloseDS());
        EXPECT_EQ(0, camera.LiveObjects());
        EXPECT_EQ(TWRC_FAILURE, host.OpenDS());
        EXPECT_EQ(0x8001, host.OpenFailureCondition());
    }
    EXPECT_EQ(0, camera.LiveObjects());
}

TEST_F(Session, HundredOpenCloseCyclesLeaveNothingBehind) {
    TestCameraHost camera(kModelA + ";caps=mjpeg:320x240,yuy2:160x120");
    ASSERT_TRUE(camera.Ready());
    DsHost host;
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(TWRC_SUCCESS, host.OpenDS()) << i;
        ASSERT_EQ(TWRC_SUCCESS, host.CloseDS()) << i;
        ASSERT_EQ(0, camera.LiveObjects()) << i;
    }
}
