// The capture dialog through DS_Entry of the built kivds.ds on the test
// camera (KIVDS_CAMERA=dshow, headless dialog driven by KIVDS_UI_SCRIPT):
// the 200 ms button poll reads models A's and B's extension units through
// IKsControl and zooms the still the application receives, a model without
// buttons is not polled, and the registration service is asked to delete the
// node-interface key when the dialog starts and once per run when model A's
// unit is missing.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/DsHost.h"
#include "support/FileBytes.h"
#include "support/ScopedEnv.h"
#include "support/SimPattern.h"
#include "wine/camera/ServiceRegistration.h"
#include "wine/camera/TestCameraHost.h"

using namespace twain;
using kivtest::DsHost;
using kivtest::kModelAPath;
using kivtest::kModelBPath;
using kivtest::OpenableDevicePath;
using kivtest::TestCameraHost;

namespace {

const char kModelCPath[] =
    "\\\\?\\usb#vid_1a3c&pid_0c33&mi_00#7&1&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";

std::string Device(const char* name, const char* path, const std::string& rest) {
    return std::string("name=") + name + ";path=" + path + ";" + rest;
}

bool WaitFor(const std::function<bool()>& condition, int ms = 30000) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

// A picture as top-down RGB rows without padding.
struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
    kivtest::Rgb At(int x, int y) const {
        const std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
        return kivtest::Rgb{p[0], p[1], p[2]};
    }
};

// Takes the pending image through a native transfer (a bottom-up BGR DIB).
Picture TakeNative(DsHost& host) {
    Picture picture;
    TW_HANDLE dib = nullptr;
    EXPECT_EQ(TWRC_XFERDONE, host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib)) << host.Status();
    if (!dib) return picture;
    const auto* header = static_cast<const std::uint8_t*>(dib);
    picture.width = static_cast<int>(kivtest::Le32(header + 4));
    picture.height = static_cast<int>(kivtest::Le32(header + 8));
    const std::size_t stride = (static_cast<std::size_t>(picture.width) * 3 + 3) / 4 * 4;
    const std::uint8_t* bits = header + 40;
    for (int y = 0; y < picture.height; ++y) {
        const std::uint8_t* row = bits + (picture.height - 1 - y) * stride;
        for (int x = 0; x < picture.width; ++x) {
            picture.rgb.push_back(row[x * 3 + 2]);
            picture.rgb.push_back(row[x * 3 + 1]);
            picture.rgb.push_back(row[x * 3]);
        }
    }
    DsHost::Free(dib);
    return picture;
}

std::vector<std::string> JournalLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool StartsAny(const std::vector<std::string>& lines, const std::string& start) {
    for (const std::string& line : lines)
        if (line.rfind(start, 0) == 0) return true;
    return false;
}

class DShowDialog : public ::testing::Test {
protected:
    void SetUp() override {
        journal = kivtest::TempPath(std::string("kivds-dshow-dialog-") +
                                    ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt");
        std::remove(journal.c_str());
        kivtest::SetEnv("KIVDS_UI", "headless");
        kivtest::SetEnv("KIVDS_CAMERA", "dshow");
        kivtest::SetEnv("KIVDS_UI_RECORD", journal.c_str());
        kivtest::UnsetEnv("KIVDS_UI_SCRIPT");
    }
    void TearDown() override {
        kivtest::SetEnv("KIVDS_CAMERA", "sim");
        kivtest::UnsetEnv("KIVDS_UI_SCRIPT");
        kivtest::UnsetEnv("KIVDS_UI_RECORD");
        std::remove(journal.c_str());
    }

    // Opens the source, shows the dialog with `script`, waits for the
    // capture and takes the image; `reads` gets the unit's reads by then.
    Picture CaptureThroughDialog(const char* script, const TestCameraHost* camera, long* reads) {
        kivtest::SetEnv("KIVDS_UI_SCRIPT", script);
        Picture picture;
        DsHost host;
        EXPECT_TRUE(host.Loaded());
        if (host.OpenDS() != TWRC_SUCCESS) {
            ADD_FAILURE() << "open: " << host.OpenFailureCondition();
            return picture;
        }
        EXPECT_EQ(TWRC_SUCCESS, host.EnableUi()) << host.Status();
        if (!host.WaitForNotification(MSG_XFERREADY, 1, std::chrono::milliseconds(60000))) {
            ADD_FAILURE() << "no capture";
        } else {
            if (camera && reads) *reads = camera->ButtonReads(0);
            picture = TakeNative(host);
            EXPECT_EQ(TWRC_SUCCESS, host.EndXfer());
        }
        EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
        EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());
        return picture;
    }

    std::string journal;
};

}  // namespace

// Zoom-in pressed and released four times: four steps of 0.25 make the zoom
// 2.0, and the still shows the centre half of the picture stretched back to
// the full size, pixel for pixel what the virtual camera gives for the same
// buttons. Model B reads its status register, model A writes its mode and
// register address before each read; the released state repeats after the
// script, so later polls change nothing.
TEST_F(DShowDialog, HeldButtonsZoomTheStillLikeTheVirtualCamera) {
    const struct {
        std::string device;
        const char* path;
    } cases[] = {
        {Device("ORVAN KIVCAMB", kModelBPath, "caps=mjpeg:320x240;xu=b;buttons=02,00,02,00,02,00,02,00"), kModelBPath},
        {Device("KIVCAMA", kModelAPath, "caps=yuy2:320x240;xu=a;buttons=02,42,02,42,02,42,02,42"), kModelAPath},
    };
    const char* script = "frame;wait=4000;capture";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        OpenableDevicePath plugged(c.path);
        ASSERT_TRUE(plugged.Ready());
        Picture zoomed;
        {
            TestCameraHost camera(c.device);
            ASSERT_TRUE(camera.Ready());
            long reads = 0;
            zoomed = CaptureThroughDialog(script, &camera, &reads);
            // All eight scripted states were polled before the capture.
            EXPECT_GE(reads, 8);
            EXPECT_EQ(0, camera.LiveObjects());
        }
        ASSERT_EQ(320, zoomed.width);
        ASSERT_EQ(240, zoomed.height);
        // Zoom 2.0 on 320 x 240: the source rectangle (80, 60, 160, 120).
        for (int y : {0, 1, 119, 120, 238, 239})
            for (int x : {0, 1, 159, 160, 318, 319}) {
                const kivtest::Rgb want = kivtest::SimPixel(80 + x / 2, 60 + y / 2);
                const kivtest::Rgb got = zoomed.At(x, y);
                EXPECT_EQ(+want.r, +got.r) << x << "," << y;
                EXPECT_EQ(+want.g, +got.g) << x << "," << y;
                EXPECT_EQ(+want.b, +got.b) << x << "," << y;
            }

        // The same camera description on the virtual camera.
        kivtest::SetEnv("KIVDS_CAMERA", "sim");
        kivtest::SetEnv("KIVDS_SIM", c.device.c_str());
        const Picture virtualStill = CaptureThroughDialog(script, nullptr, nullptr);
        kivtest::SetEnv("KIVDS_CAMERA", "dshow");
        ASSERT_EQ(zoomed.rgb.size(), virtualStill.rgb.size());
        EXPECT_TRUE(zoomed.rgb == virtualStill.rgb);
    }
}

// Only models A and B have buttons: model C, even with a unit, is never
// polled (no poll timer, no topology query); model B is, at 200 ms.
TEST_F(DShowDialog, OnlyModelsWithButtonsArePolled) {
    const struct {
        std::string device;
        bool polled;
    } cases[] = {
        {Device("ORVAN KIVCAMC", kModelCPath, "caps=yuy2:320x240;xu=b"), false},
        {Device("ORVAN KIVCAMB", kModelBPath, "caps=yuy2:320x240;xu=b"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        std::remove(journal.c_str());
        TestCameraHost camera(c.device);
        ASSERT_TRUE(camera.Ready());
        kivtest::SetEnv("KIVDS_UI_SCRIPT", "frame;wait=1500;close");
        {
            DsHost host;
            ASSERT_EQ(TWRC_SUCCESS, host.OpenDS()) << host.OpenFailureCondition();
            ASSERT_EQ(TWRC_SUCCESS, host.EnableUi()) << host.Status();
            ASSERT_TRUE(host.WaitForNotification(MSG_CLOSEDSREQ, 1, std::chrono::milliseconds(60000)));
            EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
            EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());
        }
        const std::vector<std::string> lines = JournalLines(journal);
        ASSERT_TRUE(StartsAny(lines, "enable 2009 1"));  // the first frame came
        EXPECT_EQ(c.polled, StartsAny(lines, "timer-set 0 200"));
        EXPECT_EQ(c.polled, camera.TopologyQueries() > 0);
        EXPECT_EQ(c.polled, camera.ButtonReads(0) > 0);
    }
}

// The dialog's start asks the service to delete the node-interface key; a
// missing unit of model A asks once more at the first poll and not again
// until the camera runs anew (here: after a size change).
TEST_F(DShowDialog, MissingUnitOfModelAAsksTheServiceOncePerRun) {
    if (!kivtest::ServiceRegistration::Available()) GTEST_SKIP() << "kivsvc.exe is not part of this build";
    kivtest::ServiceRegistration registration;
    ASSERT_TRUE(registration.Registered());
    OpenableDevicePath plugged(kModelAPath);
    ASSERT_TRUE(plugged.Ready());
    TestCameraHost camera(Device("KIVCAMA", kModelAPath, "caps=yuy2:320x240,yuy2:160x120;current=320x240;xu=none"));
    ASSERT_TRUE(camera.Ready());
    kivtest::CreateNodeKey();
    ASSERT_TRUE(kivtest::NodeKeyExists());
    kivtest::SetEnv("KIVDS_UI_SCRIPT", "frame;wait=8000;size=160x120");
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS()) << host.OpenFailureCondition();
    ASSERT_EQ(TWRC_SUCCESS, host.EnableUi()) << host.Status();
    // Two polls: the first one's request to the service has been answered.
    ASSERT_TRUE(WaitFor([&] { return camera.TopologyQueries() >= 2; }));
    EXPECT_FALSE(kivtest::NodeKeyExists());
    // Later polls of the same run leave a key written meanwhile alone.
    kivtest::CreateNodeKey();
    ASSERT_TRUE(WaitFor([&] { return camera.TopologyQueries() >= 6; }));
    const bool sizeChangedMeanwhile = StartsAny(JournalLines(journal), "list-select 2007 0");
    EXPECT_TRUE(kivtest::NodeKeyExists());
    // The size change runs the camera again: its first poll asks again.
    ASSERT_TRUE(WaitFor([&] { return !kivtest::NodeKeyExists(); }));
    EXPECT_FALSE(sizeChangedMeanwhile) << "the script's wait ended before the polls were counted";
    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
    EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());
    EXPECT_EQ(0, camera.LiveObjects());
}
