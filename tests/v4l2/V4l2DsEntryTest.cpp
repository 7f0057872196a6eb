// The built kivds.ds through DS_Entry with the Linux backend (its default)
// and the emulated UVC camera preloaded: the picture, "in use" and no camera.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cstdlib>

#include "support/DsHost.h"
#include "support/SimPattern.h"
#include "v4l2/emul/UvcEmulApi.h"

using namespace twain;
using kivtest::DsHost;

namespace {

template <typename F>
F Emul(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
}

UvcEmulCamera ModelAYuyv() {
    UvcEmulCamera c;
    std::snprintf(c.name, sizeof c.name, "KIVCAMA");
    c.unit = 1;
    c.formatCount = 1;
    c.formats[0].fourcc = V4L2_PIX_FMT_YUYV;
    c.formats[0].count = 2;
    c.formats[0].width[0] = 320, c.formats[0].height[0] = 240;
    c.formats[0].width[1] = 160, c.formats[0].height[1] = 120;
    return c;
}

class V4l2DsEntry : public ::testing::Test {
protected:
    void SetUp() override {
        reset = Emul<decltype(&uvcemul_reset)>("uvcemul_reset");
        add = Emul<decltype(&uvcemul_add)>("uvcemul_add");
        setBusy = Emul<decltype(&uvcemul_set_busy)>("uvcemul_set_busy");
        ASSERT_TRUE(reset && add && setBusy) << "libuvcemul.so is not preloaded (LD_PRELOAD)";
        reset();
        kivtest::SetEnv("KIVDS_UI", "headless");
        kivtest::UnsetEnv("KIVDS_CAMERA");  // the platform's own backend
    }
    void TearDown() override {
        if (reset) reset();
    }

    decltype(&uvcemul_reset) reset = nullptr;
    decltype(&uvcemul_add) add = nullptr;
    decltype(&uvcemul_set_busy) setBusy = nullptr;
};

}  // namespace

TEST_F(V4l2DsEntry, ANativeTransferCarriesTheCamerasPicture) {
    const UvcEmulCamera camera = ModelAYuyv();
    add(&camera);
    DsHost host;
    ASSERT_TRUE(host.Loaded());
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi());
    TW_HANDLE dib = nullptr;
    ASSERT_EQ(TWRC_XFERDONE, host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
    const unsigned char* bits = static_cast<const unsigned char*>(dib) + 40;
    int worst = 0;
    for (int y = 0; y < 240; y += 7)
        for (int x = 0; x < 320; x += 5) {
            const kivtest::Rgb want = kivtest::SimPixel(x, y);
            const unsigned char* px = bits + (239 - y) * 960 + x * 3;
            worst = std::max({worst, std::abs(px[0] - want.b), std::abs(px[1] - want.g), std::abs(px[2] - want.r)});
        }
    EXPECT_LE(worst, 4);  // the YUV 4:2:2 round trip of the pattern (measured 3)
    DsHost::Free(dib);
    TW_UINT16 count = 1;
    EXPECT_EQ(TWRC_SUCCESS, host.EndXfer(&count));
    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
    EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());
}

TEST_F(V4l2DsEntry, ACameraInUseFailsEnableWithInUse) {
    const UvcEmulCamera camera = ModelAYuyv();
    add(&camera);
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    setBusy(0, 1);
    EXPECT_EQ(TWRC_FAILURE, host.EnableNoUi());
    EXPECT_EQ(0x8002, host.Status());
    EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());
}

TEST_F(V4l2DsEntry, NoCameraFailsOpenWithNotFound) {
    DsHost host;
    EXPECT_EQ(TWRC_FAILURE, host.OpenDS());
    // The source manager double asked the still closed source why.
    EXPECT_EQ(0x8001, host.OpenFailureCondition());
    const UvcEmulCamera camera = ModelAYuyv();
    add(&camera);
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());
}
