// The camera-dependent capabilities against the virtual camera
// (KIVDS_CAMERA=sim, configured through KIVDS_SIM), with the operating
// system's memory functions rather than the source manager's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "support/ScopedEnv.h"
#include "kivds/camera/CameraLogic.h"
#include "kivds/camera/KIVUVCControl.h"
#include "kivds/caps/KIVCapabilityMgr.h"
#include "kivds/protocol/TwainMemory.h"

using namespace twain;

namespace {

using kivtest::ScopedEnv;

constexpr const char* kThreeSizes = "caps=mjpeg:640x480,mjpeg:1920x1080,mjpeg:1280x720";

class VirtualCameraTest : public ::testing::Test {
protected:
    VirtualCameraTest() {
        saved_ = kiv::g_entryPoints;
        kiv::g_entryPoints = TW_ENTRYPOINT{};
        kiv::CKIVUVCControl::SetCameraFactory({});
        kiv::CKIVUVCControl::DestroyInstance();
    }
    ~VirtualCameraTest() override {
        kiv::CKIVUVCControl::DestroyInstance();
        kiv::g_entryPoints = saved_;
    }

    // A fresh camera object for the given KIVDS_SIM, opened as MSG_OPENDS does.
    kiv::CKIVUVCControl* OpenCamera(const char* simDescription) {
        sim_.reset();
        sim_.emplace("KIVDS_SIM", simDescription);
        kiv::CKIVUVCControl::DestroyInstance();
        kiv::CKIVUVCControl* camera = kiv::CKIVUVCControl::GetInstance();
        EXPECT_NE(camera, nullptr);
        if (camera) {
            EXPECT_EQ(camera->Open(), 1) << simDescription;
        }
        return camera;
    }

    // The Item of a TW_ONEVALUE answer, or of the current element of a
    // TW_ENUMERATION (as 16 bits); frees the container as an application would.
    struct Value {
        TW_UINT16 rc;
        TW_UINT16 conType;
        std::uint32_t item;
    };
    Value Ask(TW_UINT16 msg, TW_UINT16 id) {
        TW_CAPABILITY cap{id, 0, nullptr};
        TW_UINT16 cc = 0;
        Value v{mgr.HandleCapability(msg, &cap, cc), cap.ConType, 0};
        if (v.rc != TWRC_SUCCESS) return v;
        {
            kiv::MemLockGuard lock(cap.hContainer);
            const auto* p = static_cast<const std::uint8_t*>(lock.Data());
            if (cap.ConType == TWON_ONEVALUE) {
                std::memcpy(&v.item, p + 2, 4);
            } else {
                std::uint32_t index = 0;
                std::uint16_t element = 0;
                std::memcpy(&index, p + 6, 4);
                std::memcpy(&element, p + 14 + 2 * index, 2);
                v.item = element;
            }
        }
        kiv::MemFree(cap.hContainer);
        return v;
    }

    bool StreamRunning() {
        auto* control = dynamic_cast<kiv::CCameraLogic*>(kiv::CKIVUVCControl::GetInstance()->Camera());
        return control && control->IsRunning();
    }

    ScopedEnv camera_{"KIVDS_CAMERA", "sim"};
    std::optional<ScopedEnv> sim_;
    TW_ENTRYPOINT saved_{};
    kiv::CKIVCapabilityMgr mgr;
};

TEST_F(VirtualCameraTest, PhysicalSizeIsTheWidestFrameWhateverSizeIsSelected) {
    for (const std::string current : {"640x480", "1280x720", "1920x1080"}) {
        OpenCamera((std::string(kThreeSizes) + ";current=" + current).c_str());
        ASSERT_EQ(mgr.CreateCapabilities(false), 1) << current;
        // TW_FIX32 1920.0 is Whole 1920, Frac 0.
        EXPECT_EQ(Ask(MSG_GET, ICAP_PHYSICALWIDTH).item, 1920u) << current;
        EXPECT_EQ(Ask(MSG_GET, ICAP_PHYSICALHEIGHT).item, 1080u) << current;
    }
}

TEST_F(VirtualCameraTest, DeviceOnlineLeavesALivePreviewStopped) {
    kiv::CKIVUVCControl* camera = OpenCamera(kThreeSizes);
    ASSERT_EQ(mgr.CreateCapabilities(true), 1);
    ASSERT_EQ(camera->Run(), 1);
    ASSERT_TRUE(StreamRunning());
    const Value v = Ask(MSG_GET, CAP_DEVICEONLINE);
    ASSERT_EQ(v.rc, TWRC_SUCCESS);
    EXPECT_EQ(v.conType, TWON_ENUMERATION);
    EXPECT_EQ(v.item, 1u);
    EXPECT_FALSE(StreamRunning());
}

TEST_F(VirtualCameraTest, DeviceOnlineIsFalseForABusyOrMissingCamera) {
    OpenCamera((std::string(kThreeSizes) + ";fail=run:busy").c_str());
    ASSERT_EQ(mgr.CreateCapabilities(false), 1);
    Value v = Ask(MSG_GET, CAP_DEVICEONLINE);
    ASSERT_EQ(v.rc, TWRC_SUCCESS);
    EXPECT_EQ(v.conType, TWON_ONEVALUE);
    EXPECT_EQ(v.item, 0u);
    EXPECT_EQ(Ask(MSG_GETDEFAULT, CAP_DEVICEONLINE).item, 1u);

    // Unplugged: the camera object made afresh finds no device.
    sim_.reset();
    sim_.emplace("KIVDS_SIM", "none");
    kiv::CKIVUVCControl::DestroyInstance();
    v = Ask(MSG_GETCURRENT, CAP_DEVICEONLINE);
    ASSERT_EQ(v.rc, TWRC_SUCCESS);
    EXPECT_EQ(v.item, 0u);
    EXPECT_FALSE(StreamRunning());
}

TEST_F(VirtualCameraTest, NoFrameSizeNoCapabilitySet) {
    OpenCamera(kThreeSizes);
    sim_.reset();
    sim_.emplace("KIVDS_SIM", "none");
    kiv::CKIVUVCControl::DestroyInstance();  // the camera went away before the set was built
    EXPECT_EQ(mgr.CreateCapabilities(false), 0);
    EXPECT_EQ(Ask(MSG_GET, CAP_XFERCOUNT).rc, TWRC_FAILURE);
    EXPECT_EQ(mgr.FindCapability(CAP_XFERCOUNT), nullptr);
}

}  // namespace
