// Capability negotiation and the localised error messages through DS_Entry.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/DsHost.h"
#include "support/FileBytes.h"
#include "tools/kivscan/ScanPlatform.h"

using namespace twain;
using kivtest::DsHost;

namespace {

class CapsAndMessages : public ::testing::Test {
protected:
    void SetUp() override {
        kivtest::SetEnv("KIVDS_UI", "headless");
        kivtest::SetEnv("KIVDS_CAMERA", "sim");
        kivtest::SetEnv("KIVDS_SIM", "caps=mjpeg:640x480,mjpeg:1920x1080,mjpeg:1280x720");
        kivtest::SetEnv("LANG", "en_US.UTF-8");
        kivtest::UnsetEnv("LC_ALL");
        kivtest::UnsetEnv("LC_MESSAGES");
    }

    // Sends a capability message; the container the source returns is copied
    // out and freed through the double's memory functions.
    TW_UINT16 Cap(DsHost& host, TW_UINT16 msg, TW_UINT16 id, std::vector<unsigned char>* container = nullptr,
                  TW_UINT16* conType = nullptr) {
        TW_CAPABILITY cap{id, TWON_DONTCARE16, nullptr};
        const TW_UINT16 rc = host.Call(DG_CONTROL, DAT_CAPABILITY, msg, &cap);
        if (conType) *conType = cap.ConType;
        if (cap.hContainer) {
            if (container) {
                const auto* bytes = static_cast<const unsigned char*>(cap.hContainer);
                container->assign(bytes, bytes + DsHost::BlockSize(cap.hContainer));
                container->resize(64, 0xEE);  // reads past the block show up as 0xEE
            }
            DsHost::Free(cap.hContainer);
        }
        return rc;
    }

    TW_UINT16 SetOne(DsHost& host, TW_UINT16 id, TW_UINT16 type, TW_UINT32 value) {
        TW_CAPABILITY cap{id, TWON_ONEVALUE, DsHost::Allocate(sizeof(TW_ONEVALUE))};
        auto* one = static_cast<TW_ONEVALUE*>(cap.hContainer);
        one->ItemType = type;
        one->Item = value;
        const TW_UINT16 rc = host.Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
        DsHost::Free(cap.hContainer);
        return rc;
    }
};

using kivtest::Le16;
using kivtest::Le32;

TEST_F(CapsAndMessages, TransferMechanismIsNegotiatedAndResetToNative) {
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    ASSERT_EQ(TWRC_SUCCESS, SetOne(host, ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY));
    std::vector<unsigned char> c;
    TW_UINT16 conType = 0;
    ASSERT_EQ(TWRC_SUCCESS, Cap(host, MSG_GET, ICAP_XFERMECH, &c, &conType));
    ASSERT_EQ(TWON_ENUMERATION, conType);
    EXPECT_EQ(TWTY_UINT16, Le16(&c[0]));
    ASSERT_EQ(3u, Le32(&c[2]));   // NumItems
    EXPECT_EQ(2u, Le32(&c[6]));   // CurrentIndex: TWSX_MEMORY
    EXPECT_EQ(0u, Le32(&c[10]));  // DefaultIndex: TWSX_NATIVE
    EXPECT_EQ(TWSX_NATIVE, Le16(&c[14]));
    EXPECT_EQ(TWSX_FILE, Le16(&c[16]));
    EXPECT_EQ(TWSX_MEMORY, Le16(&c[18]));
    ASSERT_EQ(TWRC_SUCCESS, Cap(host, MSG_RESET, ICAP_XFERMECH, &c, &conType));
    EXPECT_EQ(TWON_ONEVALUE, conType);
    EXPECT_EQ(0u, Le32(&c[2]));
    // A value outside the list is refused.
    EXPECT_EQ(TWRC_FAILURE, SetOne(host, ICAP_XFERMECH, TWTY_UINT16, 7));
    EXPECT_EQ(TWCC_BADVALUE, host.Status());
    EXPECT_EQ(0, host.Memory().outstandingLocks());
}

TEST_F(CapsAndMessages, SupportedCapsAndUnknownIds) {
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    std::vector<unsigned char> c;
    TW_UINT16 conType = 0;
    ASSERT_EQ(TWRC_SUCCESS, Cap(host, MSG_GET, CAP_SUPPORTEDCAPS, &c, &conType));
    EXPECT_EQ(TWON_ARRAY, conType);
    EXPECT_EQ(17u, Le32(&c[2]));
    EXPECT_EQ(TWRC_FAILURE, Cap(host, MSG_GETCURRENT, CAP_SUPPORTEDCAPS));
    EXPECT_EQ(TWCC_BUMMER, host.Status());
    EXPECT_EQ(TWRC_FAILURE, Cap(host, MSG_GET, 0x1234));
    EXPECT_EQ(TWCC_CAPUNSUPPORTED, host.Status());
    for (TW_UINT16 msg : {MSG_RESETALL, MSG_GETHELP, MSG_GETLABEL, MSG_GETLABELENUM}) {
        EXPECT_EQ(TWRC_FAILURE, Cap(host, msg, ICAP_XFERMECH)) << msg;
        EXPECT_EQ(TWCC_BADPROTOCOL, host.Status()) << msg;
    }
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, nullptr));
}

TEST_F(CapsAndMessages, PhysicalSizeIsTheWidestFrameAndValuesReturnAfterReopen) {
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    std::vector<unsigned char> c;
    ASSERT_EQ(TWRC_SUCCESS, Cap(host, MSG_GETCURRENT, ICAP_PHYSICALWIDTH, &c));
    EXPECT_EQ(1920, Le16(&c[2]));  // TW_FIX32 Whole
    EXPECT_EQ(0, Le16(&c[4]));
    ASSERT_EQ(TWRC_SUCCESS, Cap(host, MSG_GETCURRENT, ICAP_PHYSICALHEIGHT, &c));
    EXPECT_EQ(1080, Le16(&c[2]));
    ASSERT_EQ(TWRC_SUCCESS, SetOne(host, ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE));
    ASSERT_EQ(TWRC_SUCCESS, host.CloseDS());
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    ASSERT_EQ(TWRC_SUCCESS, Cap(host, MSG_GETCURRENT, ICAP_XFERMECH, &c));
    EXPECT_EQ(TWSX_NATIVE, Le32(&c[2]));
}

TEST_F(CapsAndMessages, UiControllableIsAnEnumerationOnlyForTwainTwoApplications) {
    for (bool twain2 : {true, false}) {
        SCOPED_TRACE(twain2);
        DsHost::Options options;
        options.twain2App = twain2;
        DsHost host(options);
        ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
        TW_UINT16 conType = 0;
        ASSERT_EQ(TWRC_SUCCESS, Cap(host, MSG_GET, CAP_UICONTROLLABLE, nullptr, &conType));
        EXPECT_EQ(twain2 ? TWON_ENUMERATION : TWON_ONEVALUE, conType);
    }
}

TEST_F(CapsAndMessages, DeviceOnlineProbesTheCameraAndStopsIt) {
    kivtest::SetEnv("KIVDS_SIM", "caps=mjpeg:640x480;fail=run:busy");
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    std::vector<unsigned char> c;
    TW_UINT16 conType = 0;
    ASSERT_EQ(TWRC_SUCCESS, Cap(host, MSG_GETCURRENT, CAP_DEVICEONLINE, &c, &conType));
    EXPECT_EQ(TWON_ONEVALUE, conType);
    EXPECT_EQ(0u, Le32(&c[2]));
    // A TWAIN 2 application gets an enumeration whose current item is FALSE.
    ASSERT_EQ(TWRC_SUCCESS, Cap(host, MSG_GET, CAP_DEVICEONLINE, &c, &conType));
    ASSERT_EQ(TWON_ENUMERATION, conType);
    const std::uint32_t current = Le32(&c[6]);
    ASSERT_LT(current, Le32(&c[2]));
    EXPECT_EQ(0, Le16(&c[14 + 2 * current]));
    ASSERT_EQ(TWRC_SUCCESS, Cap(host, MSG_GETDEFAULT, CAP_DEVICEONLINE, &c));
    EXPECT_EQ(1u, Le32(&c[2]));
}

TEST_F(CapsAndMessages, XferCountIsMinusOneAgainAfterEnable) {
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    // 1 is an allowed value: the count really is 1 before the enable.
    ASSERT_EQ(TWRC_SUCCESS, SetOne(host, CAP_XFERCOUNT, TWTY_INT16, 1));
    std::vector<unsigned char> c;
    ASSERT_EQ(TWRC_SUCCESS, Cap(host, MSG_GETCURRENT, CAP_XFERCOUNT, &c));
    ASSERT_EQ(1u, Le32(&c[2]));
    ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi());
    ASSERT_EQ(TWRC_SUCCESS, Cap(host, MSG_GETCURRENT, CAP_XFERCOUNT, &c));
    EXPECT_EQ(0xFFFFFFFFu, Le32(&c[2]));
}

// ------------------------------------------------------- localised messages

#if defined(_WIN32)
#define SKIP_ON_WINDOWS() GTEST_SKIP() << "the Windows user locale is fixed for the session"
#else
#define SKIP_ON_WINDOWS() (void)0
#endif

TEST_F(CapsAndMessages, FailingOpenShowsTheDisconnectedTextInJapanese) {
    SKIP_ON_WINDOWS();
    kivtest::SetEnv("LC_ALL", "ja_JP.UTF-8");
    kivtest::SetEnv("KIVDS_SIM", "none");
    DsHost host;
    kiv::scan::StderrCapture capture;
    EXPECT_EQ(TWRC_FAILURE, host.OpenDS());
    const std::string text = capture.Finish();
    EXPECT_NE(std::string::npos, text.find("[Orvan Document Camera] カメラが切断されたか、接続されていません。\n"
                                           "コンピューターにカメラを接続してください。"))
        << text;
}

TEST_F(CapsAndMessages, BusyCameraShowsTheInUseTextInGerman) {
    SKIP_ON_WINDOWS();
    kivtest::SetEnv("LC_ALL", "de_DE.UTF-8");
    kivtest::SetEnv("KIVDS_SIM", "caps=mjpeg:640x480;fail=run:busy");
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    kiv::scan::StderrCapture capture;
    EXPECT_EQ(TWRC_FAILURE, host.EnableNoUi());
    const std::string text = capture.Finish();
    EXPECT_NE(std::string::npos,
              text.find("[Orvan Document Camera] Verbinden nicht möglich, da von einer anderen Anwendung verwendet."))
        << text;
}

TEST_F(CapsAndMessages, OnlyFailuresOfOpenEnableAndTransfersShowAMessage) {
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    kiv::scan::StderrCapture capture;
    EXPECT_EQ(TWRC_FAILURE, host.CloseDS() == TWRC_SUCCESS ? host.CloseDS() : TWRC_SUCCESS);  // silent
    EXPECT_EQ(TWRC_FAILURE, host.OpenDS() == TWRC_SUCCESS ? host.OpenDS() : TWRC_SUCCESS);    // shown
    const std::string text = capture.Finish();
    // One message: the second MSG_OPENDS, "Other error (11)" for TWCC_SEQERROR.
    EXPECT_NE(std::string::npos, text.find("[Orvan Document Camera] Other error (11)")) << text;
    EXPECT_EQ(text.find("[Orvan"), text.rfind("[Orvan")) << text;
}

// Before any handler runs: a missing record is refused before a wrong state,
// and the refusal shows a message only for MSG_OPENDS and MSG_ENABLEDS and,
// for the transfers, only for the wrong state.
TEST_F(CapsAndMessages, RefusalsCheckTheRecordBeforeTheStateAndShowWhereTheTripletDoes) {
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    TW_HANDLE dib = nullptr;
    kiv::scan::StderrCapture capture;
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, nullptr));  // silent
    EXPECT_EQ(TWCC_BUMMER, host.Status());
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));  // shown
    EXPECT_EQ(TWCC_SEQERROR, host.Status());
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr));  // silent
    EXPECT_EQ(TWCC_BUMMER, host.Status());
    EXPECT_EQ(TWRC_FAILURE, host.CallFrom(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &host.SourceIdentity()));
    EXPECT_EQ(TWCC_BUMMER, host.Status());                                                     // shown
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr));  // shown
    EXPECT_EQ(TWCC_BUMMER, host.Status());
    const std::string text = capture.Finish();
    auto count = [&text](const std::string& what) {
        int n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(1, count("[Orvan Document Camera] Other error (11)")) << text;
    EXPECT_EQ(2, count("[Orvan Document Camera] Other error (1)")) << text;
    EXPECT_EQ(3, count("[Orvan")) << text;
    EXPECT_EQ(TWRC_SUCCESS, host.CloseDS());  // still open: none of them changed the state
}

}  // namespace
