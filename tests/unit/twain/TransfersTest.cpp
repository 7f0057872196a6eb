// The TWAIN manager's transfers against the virtual camera (KIVDS_CAMERA=sim),
// called in the process as a source manager would.
#include <gtest/gtest.h>

#include <vector>

#include "kivds/camera/CameraLogic.h"
#include "kivds/camera/KIVUVCControl.h"
#include "kivds/camera/sim/SimVideoPlatform.h"
#include "kivds/twain/KIVTwainMgr.h"
#include "support/ScopedEnv.h"

using namespace twain;

namespace {

TW_UINT16 KIV_TWAIN_CALL Dsm(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) {
    return TWRC_SUCCESS;
}

// Without the dialog the camera streams while the strips of a memory transfer
// are served and stops when the transfer ends (MSG_ENDXFER).
TEST(TransfersTest, CameraWithoutDialogStopsWhenTheMemoryTransferEnds) {
    kivtest::ScopedEnv sim("KIVDS_SIM", "caps=yuy2:64x48;fps=100");
    kivtest::ScopedEnv ui("KIVDS_UI", "headless");
    kiv::CKIVUVCControl::DestroyInstance();
    kiv::CKIVTwainMgr manager;
    manager.InitIdentity();
    TW_IDENTITY app{}, source{};
    app.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    auto call = [&](TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        return manager.Dispatch(&app, dg, dat, msg, data);
    };
    TW_ENTRYPOINT points{};
    points.Size = sizeof points;
    points.DSM_Entry = Dsm;
    ASSERT_EQ(call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &points), TWRC_SUCCESS);
    ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
    TW_USERINTERFACE noUi{};
    ASSERT_EQ(call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &noUi), TWRC_SUCCESS);
    kiv::CKIVUVCControl* camera = kiv::CKIVUVCControl::GetInstance();
    auto* logic = camera ? dynamic_cast<kiv::CCameraLogic*>(camera->Camera()) : nullptr;
    ASSERT_NE(logic, nullptr);
    auto& platform = dynamic_cast<kiv::sim::SimVideoPlatform&>(logic->Platform());
    ASSERT_TRUE(platform.WaitForFrames(1, 10000));

    std::vector<unsigned char> buffer(64 * 3 * 8);  // 8 of the 48 rows a strip
    TW_IMAGEMEMXFER strip{};
    auto nextStrip = [&] {
        strip = TW_IMAGEMEMXFER{};
        strip.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
        strip.Memory.Length = static_cast<TW_UINT32>(buffer.size());
        strip.Memory.TheMem = buffer.data();
        return call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip);
    };
    ASSERT_EQ(nextStrip(), TWRC_SUCCESS);
    EXPECT_TRUE(platform.IsStreaming()) << "stopped by the first strip";
    TW_UINT16 rc = TWRC_SUCCESS;
    while (rc == TWRC_SUCCESS) rc = nextStrip();
    ASSERT_EQ(rc, TWRC_XFERDONE);
    EXPECT_TRUE(platform.IsStreaming()) << "stopped before MSG_ENDXFER";
    TW_PENDINGXFERS pending{};
    ASSERT_EQ(call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
    EXPECT_FALSE(platform.IsStreaming()) << "still streaming after MSG_ENDXFER";

    EXPECT_EQ(call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &noUi), TWRC_SUCCESS);
    EXPECT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
    kiv::CKIVUVCControl::DestroyInstance();
}

}  // namespace
