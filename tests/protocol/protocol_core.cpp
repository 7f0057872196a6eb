// The TWAIN manager through DS_Entry: identity, dispatch, status, the state
// machine, notifications, camera failures at open and enable, and the
// localised messages they show.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "support/DsHost.h"

using namespace twain;
using kivtest::DsHost;

namespace {

const char* const kSmallCamera = "caps=mjpeg:640x480,yuy2:640x480";

class ProtocolCore : public ::testing::Test {
protected:
    void SetUp() override {
        kivtest::SetEnv("KIVDS_UI", "headless");
        kivtest::SetEnv("KIVDS_CAMERA", "sim");
        kivtest::SetEnv("KIVDS_SIM", kSmallCamera);
        kivtest::SetEnv("LANG", "en_US.UTF-8");
        kivtest::UnsetEnv("LC_ALL");
        kivtest::UnsetEnv("LC_MESSAGES");
    }
};

TEST_F(ProtocolCore, IdentityIsAnsweredInStateThreeWithEveryValue) {
    DsHost host;
    ASSERT_TRUE(host.Loaded()) << kivtest::DataSourcePath();
    TW_IDENTITY identity;
    std::memset(&identity, 0xFF, sizeof identity);
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity));
    EXPECT_EQ(0u, +identity.Id);
    EXPECT_EQ(2, +identity.Version.MajorNum);
    EXPECT_EQ(0, +identity.Version.MinorNum);
    EXPECT_EQ(TWLG_ENGLISH, +identity.Version.Language);
    EXPECT_EQ(TWCY_USA, +identity.Version.Country);
    EXPECT_STREQ("", identity.Version.Info);
    EXPECT_EQ(2, +identity.ProtocolMajor);
    EXPECT_EQ(0, +identity.ProtocolMinor);
    EXPECT_EQ(0x40000003u, +identity.SupportedGroups);
    EXPECT_STREQ("ORVAN", identity.Manufacturer);
    EXPECT_STREQ("Digital Camera", identity.ProductFamily);
    EXPECT_STREQ("Orvan Document Camera", identity.ProductName);
    // Every byte after the strings' terminators is zero.
    for (std::size_t i = std::strlen(identity.ProductName); i < sizeof identity.ProductName; ++i)
        EXPECT_EQ(0, +identity.ProductName[i]);
}

TEST_F(ProtocolCore, UnknownTripletsAndExtendedImageInfoAreRefused) {
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    TW_UINT32 dummy[16] = {};
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_IMAGE, DAT_EXTIMAGEINFO, MSG_GET, dummy));
    EXPECT_EQ(TWCC_CAPUNSUPPORTED, host.Status());
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_IMAGE, DAT_EXTIMAGEINFO, MSG_SET, dummy));
    EXPECT_EQ(TWCC_CAPUNSUPPORTED, host.Status());
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, dummy));
    EXPECT_EQ(TWCC_BADPROTOCOL, host.Status());
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, dummy));
    EXPECT_EQ(TWCC_BADPROTOCOL, host.Status());
    TW_USERINTERFACE ui{};
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, &ui));
    EXPECT_EQ(TWCC_BADPROTOCOL, host.Status());
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_AUDIO, DAT_NULL, MSG_GET, dummy));
    EXPECT_EQ(TWCC_BADPROTOCOL, host.Status());
    // DG is compared as a whole 32-bit value.
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL | 0x100, DAT_STATUS, MSG_GET, dummy));
    EXPECT_EQ(TWCC_BADPROTOCOL, host.Status());
}

TEST_F(ProtocolCore, StatusReportsACodeOnceThenSuccess) {
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    TW_USERINTERFACE ui{};
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
    EXPECT_EQ(TWCC_SEQERROR, host.Status());
    EXPECT_EQ(TWCC_SUCCESS, host.Status());
    // Closed again (state 3), status is still answered: once the code, then success.
    ASSERT_EQ(TWRC_SUCCESS, host.CloseDS());
    EXPECT_EQ(TWRC_FAILURE, host.CloseDS());
    EXPECT_EQ(TWCC_SEQERROR, host.Status());
    EXPECT_EQ(TWCC_SUCCESS, host.Status());
}

TEST_F(ProtocolCore, SecondOpenIsASequenceErrorAndLeavesTheSourceOpen) {
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    EXPECT_EQ(TWRC_FAILURE, host.OpenDS());
    EXPECT_EQ(TWCC_SEQERROR, host.OpenFailureCondition());
    // Still open: capabilities answer and the source closes normally.
    TW_CAPABILITY cap{CAP_XFERCOUNT, TWON_DONTCARE16, nullptr};
    EXPECT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &cap));
    if (cap.hContainer) DsHost::Free(cap.hContainer);
    EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());
    EXPECT_EQ(TWRC_FAILURE, host.CloseDS());
}

TEST_F(ProtocolCore, OpenTakesTheIdFromTheManagersRecordAndRejectsNullRecords) {
    DsHost host;
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr));
    EXPECT_EQ(TWRC_FAILURE, host.CallFrom(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &host.SourceIdentity()));
    host.SourceIdentity().Id = 4711;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    TW_IDENTITY identity{};
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity));
    EXPECT_EQ(4711u, +identity.Id);
}

TEST_F(ProtocolCore, EnableWithoutUiWaitsThenAnnouncesTheImageBeforeReturning) {
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi());
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(4900));

    ASSERT_EQ(1u, host.Notifications().size());
    const kivtest::Notification n = host.Notifications().front();
    EXPECT_EQ(DG_CONTROL, +n.dg);
    EXPECT_EQ(DAT_NULL, +n.dat);
    EXPECT_EQ(MSG_XFERREADY, +n.msg);
    EXPECT_EQ(+host.SourceIdentity().Id, +n.origin.Id);
    EXPECT_STREQ("Orvan Document Camera", n.origin.ProductName);
    EXPECT_EQ(+host.AppIdentity().Id, +n.destination.Id);
    EXPECT_STREQ("kivds protocol tests", n.destination.ProductName);

    // State 6: disabling is refused until the transfer is ended or reset.
    EXPECT_EQ(TWRC_FAILURE, host.DisableDS());
    EXPECT_EQ(TWCC_SEQERROR, host.Status());
    // Delivered by the source manager, so nothing waits for MSG_PROCESSEVENT.
    TW_EVENT event{};
    EXPECT_EQ(TWRC_NOTDSEVENT, host.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event));
    EXPECT_EQ(MSG_NULL, +event.TWMessage);

    TW_PENDINGXFERS pending{};
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending));
    EXPECT_EQ(0, +pending.Count);
    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
    EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());
}

TEST_F(ProtocolCore, WithoutAReachableSourceManagerTheMessageWaitsForProcessEvent) {
    DsHost::Options options;
    options.passEntryPoints = false;
    DsHost host(options);
    // Clearing the entry points explicitly is also accepted in any state.
    EXPECT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, nullptr));
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi());
    EXPECT_TRUE(host.Notifications().empty());

    TW_EVENT event{};
    event.TWMessage = 0x7777;
    EXPECT_EQ(TWRC_DSEVENT, host.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event));
    EXPECT_EQ(MSG_XFERREADY, +event.TWMessage);
    event.TWMessage = 0x7777;
    EXPECT_EQ(TWRC_NOTDSEVENT, host.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event));
    EXPECT_EQ(MSG_NULL, +event.TWMessage);
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, nullptr));
    EXPECT_EQ(TWCC_BUMMER, host.Status());
}

TEST_F(ProtocolCore, ANotificationTheManagerRefusesStaysPending) {
    DsHost::Options options;
    options.dsmAnswer = TWRC_FAILURE;
    DsHost host(options);
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi());
    EXPECT_EQ(1u, host.Notifications().size());
    TW_EVENT event{};
    EXPECT_EQ(TWRC_DSEVENT, host.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event));
    EXPECT_EQ(MSG_XFERREADY, +event.TWMessage);
}

TEST_F(ProtocolCore, StatesOutsideTheirRangeAreSequenceErrors) {
    DsHost host;
    TW_EVENT event{};
    // State 3: nothing but identity, status, entry points and open.
    EXPECT_EQ(TWRC_FAILURE, host.CloseDS());
    EXPECT_EQ(TWCC_SEQERROR, host.Status());
    TW_CAPABILITY cap{CAP_XFERCOUNT, TWON_DONTCARE16, nullptr};
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap));
    EXPECT_EQ(TWCC_BUMMER, host.Status());  // no capability set before the open
    TW_USERINTERFACE closedUi{};
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &closedUi));
    EXPECT_EQ(TWCC_SEQERROR, host.Status());
    TW_IMAGELAYOUT closedLayout{};
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &closedLayout));
    EXPECT_EQ(TWCC_SEQERROR, host.Status());
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event));
    EXPECT_EQ(TWCC_SEQERROR, host.Status());
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event));
    EXPECT_EQ(TWCC_SEQERROR, host.Status());
    TW_IMAGEINFO info{};
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
    EXPECT_EQ(TWCC_SEQERROR, host.Status());
    TW_PENDINGXFERS pending{};
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending));
    EXPECT_EQ(TWCC_SEQERROR, host.Status());
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr));
    EXPECT_EQ(TWCC_BUMMER, host.Status());
}

// ---------------------------------------------------------- camera failures

struct CameraCase {
    const char* sim;
    TW_UINT16 condition;
};

TEST_F(ProtocolCore, OpenFailsWhenNoCameraOfTheMakerIsFound) {
    const CameraCase cases[] = {
        {"none", 0x8001},
        {"name=Other "
         "Cam;path=\\\\?\\usb#vid_046d&pid_0825&mi_00#7&1&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
         0x8001},
        {"path=\\\\?\\usb#VID_1A3C&PID_0B21&mi_00#6&1f2e3d4c&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
         0x8001},
        {"fail=bind:busy", 0x8001},
    };
    for (const CameraCase& c : cases) {
        SCOPED_TRACE(c.sim);
        kivtest::SetEnv("KIVDS_SIM", c.sim);
        // The source manager double asks DAT_STATUS right after the failed
        // open, with the source still in state 3, as the real ones do.
        {
            DsHost host;
            EXPECT_EQ(TWRC_FAILURE, host.OpenDS());
            EXPECT_EQ(+c.condition, host.OpenFailureCondition());
            EXPECT_EQ(TWCC_SUCCESS, host.Status());  // reported once
        }
        // An application that reads the status itself later gets it too.
        DsHost::Options quiet;
        quiet.statusAfterFailedOpen = false;
        DsHost direct(quiet);
        EXPECT_EQ(TWRC_FAILURE, direct.OpenDS());
        EXPECT_EQ(+c.condition, direct.Status());
    }
}

TEST_F(ProtocolCore, ASourceManagerLearnsWhyTheCameraIsInUse) {
    kivtest::SetEnv("KIVDS_SIM", "caps=mjpeg:640x480;fail=connect:busy");
    DsHost host;
    EXPECT_EQ(TWRC_FAILURE, host.OpenDS());
    EXPECT_EQ(0x8002, host.OpenFailureCondition());
    // The source is closed and can be opened once the camera is free.
    kivtest::SetEnv("KIVDS_SIM", kSmallCamera);
    EXPECT_EQ(TWRC_SUCCESS, host.OpenDS());
    EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());
}

TEST_F(ProtocolCore, BusyCameraFailsEnableWithInUse) {
    kivtest::SetEnv("KIVDS_SIM", "caps=mjpeg:640x480;fail=run:busy");
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    EXPECT_EQ(TWRC_FAILURE, host.EnableNoUi());
    EXPECT_EQ(0x8002, host.Status());
    EXPECT_TRUE(host.Notifications().empty());
    // Still state 4: the source can be closed.
    EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());
}

TEST_F(ProtocolCore, DefaultFrameFollowsTheChosenFormat) {
    struct FrameCase {
        const char* sim;
        int width, height;
    };
    const FrameCase cases[] = {
        {"caps=mjpeg:1280x720,mjpeg:640x480;current=640x480", 640, 480},
        {"caps=mjpeg:1280x720,mjpeg:640x480;current=none", 1280, 720},
        {"caps=yuy2:800x600,yuy2:320x240;current=320x240", 320, 240},
        {"caps=yuy2:800x600,mjpeg:1024x768;current=800x600", 1024, 768},
    };
    for (const FrameCase& c : cases) {
        SCOPED_TRACE(c.sim);
        kivtest::SetEnv("KIVDS_SIM", c.sim);
        DsHost host;
        ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
        TW_IMAGELAYOUT layout{};
        ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout));
        EXPECT_EQ(0, +layout.Frame.Left.Whole);
        EXPECT_EQ(0, +layout.Frame.Top.Whole);
        EXPECT_EQ(+c.width, +layout.Frame.Right.Whole);
        EXPECT_EQ(+c.height, +layout.Frame.Bottom.Whole);
        EXPECT_EQ(0, +layout.Frame.Right.Frac);
    }
}

TEST_F(ProtocolCore, AnOpenThatSucceedsLeavesNoConditionBehindWithoutADefaultFileName) {
    // A temporary directory so long that "sample.bmp" no longer fits in 255
    // characters: the open succeeds without a default file name, and reports
    // nothing to DAT_STATUS; asking for the default itself still fails.
    const std::string longDir = std::string("/") + std::string(250, 'd') + "/";
    kivtest::ScopedEnv tmpdir("TMPDIR", longDir.c_str());
    kivtest::ScopedEnv tmp("TMP", longDir.c_str());
    kivtest::ScopedEnv temp("TEMP", longDir.c_str());
    DsHost host;
    host.Status();  // a code left unread by an earlier test (the library may stay loaded)
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    EXPECT_EQ(TWCC_SUCCESS, host.Status());
    TW_SETUPFILEXFER defaults{};
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GETDEFAULT, &defaults));
    EXPECT_EQ(TWCC_BUMMER, host.Status());
    // An unread code from before the open is not cleared by it either.
    ASSERT_EQ(TWRC_SUCCESS, host.CloseDS());
    EXPECT_EQ(TWRC_FAILURE, host.CloseDS());
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    EXPECT_EQ(TWCC_SEQERROR, host.Status());
}

#if GTEST_HAS_DEATH_TEST
// An application that ends its process with the source still enabled (the
// camera streaming, nothing closed). On Windows the library is detached with
// the loader lock held and the camera's thread already killed, possibly while
// it held the camera's lock: stopping the camera then hangs the process.
TEST_F(ProtocolCore, AProcessThatExitsWithTheSourceEnabledEnds) {
    kivtest::SetEnv("KIVDS_SIM", "caps=mjpeg:640x480;fps=1000");
    EXPECT_EXIT(
        {
            // Leaked on purpose: the process ends with the source open.
            DsHost& host = *std::make_unique<DsHost>().release();
            if (host.OpenDS() != TWRC_SUCCESS || host.EnableNoUi() != TWRC_SUCCESS) std::_Exit(3);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
