// The capability set behind DG_CONTROL / DAT_CAPABILITY, with a scripted
// camera behind the facade and the fake source-manager memory functions.
#include <gtest/gtest.h>

#include <cstring>

#include "kivds/caps/KIVCapabilities.h"
#include "kivds/caps/KIVCapabilityMgr.h"
#include "unit/caps/FakeCamera.h"
#include "unit/caps/FakeTwainMemory.h"

using namespace twain;
using kiv::CKIVCapabilityMgr;
using kivtest::Decoded;

namespace {

constexpr TW_UINT16 kSupportedCaps[] = {ICAP_XFERMECH,      ICAP_PIXELFLAVOR,   ICAP_PLANARCHUNKY,
                                        ICAP_COMPRESSION,   ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT,
                                        ICAP_UNITS,         CAP_DEVICEONLINE,   ICAP_PIXELTYPE,
                                        ICAP_BITDEPTH,      ICAP_BITORDER,      ICAP_XRESOLUTION,
                                        ICAP_YRESOLUTION,   CAP_XFERCOUNT,      ICAP_IMAGEFILEFORMAT,
                                        CAP_UICONTROLLABLE, ICAP_SUPPORTEDSIZES};

class CapabilitySetTest : public ::testing::Test {
protected:
    CapabilitySetTest() {
        camera.formats = {kivtest::Mjpeg(640, 480), kivtest::Mjpeg(1920, 1080), kivtest::Mjpeg(1280, 720),
                          kivtest::Yuy2(2592, 1944)};
    }

    struct Reply {
        TW_UINT16 rc = 0;
        TW_UINT16 cc = 0xBEEF;
        TW_CAPABILITY cap{};
        Decoded d;
    };

    // One DAT_CAPABILITY triplet. The application's hContainer starts as a
    // sentinel so that "stored even when null" is visible.
    Reply Send(TW_UINT16 msg, TW_UINT16 id, TW_UINT16 conType = 0, TW_HANDLE container = nullptr,
               std::size_t width = 2) {
        Reply r;
        r.cap.Cap = id;
        r.cap.ConType = conType;
        r.cap.hContainer = container ? container : &sentinel;
        r.rc = mgr.HandleCapability(msg, &r.cap, r.cc);
        if (r.rc == TWRC_SUCCESS && msg != MSG_SET) {
            EXPECT_EQ(mem.Info(r.cap.hContainer).locks, 0);
            r.d = kivtest::Decode(mem.Bytes(r.cap.hContainer), r.cap.ConType, width);
        }
        return r;
    }
    Reply SetOne(TW_UINT16 id, TW_UINT16 itemType, TW_UINT32 item) {
        TW_HANDLE h = mem.AppBlock(kivtest::OneValueBytes(itemType, item));
        Reply r = Send(MSG_SET, id, TWON_ONEVALUE, h);
        EXPECT_EQ(mem.Info(h).locks, 0);
        EXPECT_FALSE(mem.Info(h).freed);
        return r;
    }

    kivtest::FakeTwainMemory mem;
    kivtest::CameraScript camera;
    kivtest::ScriptedCameraScope scope{camera};
    CKIVCapabilityMgr mgr;
    char sentinel = 0;
};

TEST_F(CapabilitySetTest, SupportedCapsIsAnArrayOfTheOtherSeventeenAndOnlyAnswersGet) {
    ASSERT_EQ(mgr.CreateCapabilities(false), 1);
    Reply r = Send(MSG_GET, CAP_SUPPORTEDCAPS);
    ASSERT_EQ(r.rc, TWRC_SUCCESS);
    EXPECT_EQ(r.cc, TWCC_SUCCESS);
    EXPECT_EQ(r.cap.ConType, TWON_ARRAY);
    EXPECT_EQ(r.d.itemType, TWTY_UINT16);
    EXPECT_EQ(r.d.items, std::vector<std::uint32_t>(std::begin(kSupportedCaps), std::end(kSupportedCaps)));
    for (TW_UINT16 id : kSupportedCaps) EXPECT_NE(mgr.FindCapability(id), nullptr) << id;

    for (TW_UINT16 msg : {MSG_GETCURRENT, MSG_GETDEFAULT, MSG_RESET}) {
        Reply bad = Send(msg, CAP_SUPPORTEDCAPS);
        EXPECT_EQ(bad.rc, TWRC_FAILURE) << msg;
        EXPECT_EQ(bad.cc, TWCC_BUMMER) << msg;
        if (msg != MSG_RESET) {
            const TW_HANDLE stored = bad.cap.hContainer;  // the packed member is not pointer-aligned
            EXPECT_EQ(stored, nullptr) << msg;
        }
    }
    EXPECT_EQ(SetOne(CAP_SUPPORTEDCAPS, TWTY_UINT16, ICAP_XFERMECH).cc, TWCC_CAPBADOPERATION);
}

TEST_F(CapabilitySetTest, InitialValuesAndMasks) {
    ASSERT_EQ(mgr.CreateCapabilities(false), 1);
    struct Expect {
        TW_UINT16 id;
        TW_UINT16 itemType;
        TW_UINT32 item;
        TW_UINT32 mask;
    };
    const Expect table[] = {
        {CAP_XFERCOUNT, TWTY_INT16, 0xFFFFFFFF, 0x1F},
        {ICAP_COMPRESSION, TWTY_UINT16, TWCP_NONE, 0x0D},
        {ICAP_PIXELTYPE, TWTY_UINT16, TWPT_RGB, 0x1F},
        {ICAP_UNITS, TWTY_UINT16, TWUN_PIXELS, 0x1F},
        {ICAP_XFERMECH, TWTY_UINT16, TWSX_NATIVE, 0x1F},
        {CAP_UICONTROLLABLE, TWTY_BOOL, 1, 0x0D},
        {CAP_DEVICEONLINE, TWTY_BOOL, 1, 0x0D},
        {ICAP_IMAGEFILEFORMAT, TWTY_UINT16, TWFF_BMP, 0x1F},
        {ICAP_PHYSICALWIDTH, TWTY_FIX32, 1920, 0x0D},
        {ICAP_PHYSICALHEIGHT, TWTY_FIX32, 1080, 0x0D},
        {ICAP_XRESOLUTION, TWTY_FIX32, 1, 0x1F},
        {ICAP_YRESOLUTION, TWTY_FIX32, 1, 0x1F},
        {ICAP_BITORDER, TWTY_UINT16, TWBO_MSBFIRST, 0x1F},
        {ICAP_PIXELFLAVOR, TWTY_UINT16, TWPF_CHOCOLATE, 0x1F},
        {ICAP_PLANARCHUNKY, TWTY_UINT16, TWPC_CHUNKY, 0x0D},
        {ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_NONE, 0x1F},
        {ICAP_BITDEPTH, TWTY_UINT16, 24, 0x1F},
    };
    for (const Expect& e : table) {
        Reply cur = Send(MSG_GETCURRENT, e.id);
        ASSERT_EQ(cur.rc, TWRC_SUCCESS) << std::hex << e.id;
        EXPECT_EQ(cur.cap.ConType, TWON_ONEVALUE) << std::hex << e.id;
        EXPECT_EQ(cur.d.itemType, e.itemType) << std::hex << e.id;
        EXPECT_EQ(cur.d.item, e.item) << std::hex << e.id;
        EXPECT_EQ(Send(MSG_GETDEFAULT, e.id).d.item, e.item) << std::hex << e.id;

        Reply q = Send(MSG_QUERYSUPPORT, e.id);
        ASSERT_EQ(q.rc, TWRC_SUCCESS);
        EXPECT_EQ(q.cap.ConType, TWON_ONEVALUE);
        EXPECT_EQ(q.d.itemType, TWTY_INT32);
        EXPECT_EQ(q.d.item, e.mask) << std::hex << e.id;
    }
    EXPECT_EQ(Send(MSG_QUERYSUPPORT, CAP_SUPPORTEDCAPS).d.item, 0x01u);
}

TEST_F(CapabilitySetTest, ReadOnlyCapabilitiesRefuseSetAndReset) {
    ASSERT_EQ(mgr.CreateCapabilities(false), 1);
    for (TW_UINT16 id : {ICAP_PHYSICALWIDTH, ICAP_COMPRESSION, ICAP_PLANARCHUNKY, CAP_UICONTROLLABLE}) {
        Reply set = SetOne(id, TWTY_UINT16, 0);
        EXPECT_EQ(set.rc, TWRC_FAILURE);
        EXPECT_EQ(set.cc, TWCC_CAPBADOPERATION) << std::hex << id;
        Reply reset = Send(MSG_RESET, id);
        EXPECT_EQ(reset.rc, TWRC_FAILURE);
        EXPECT_EQ(reset.cc, TWCC_BUMMER) << std::hex << id;
    }
}

TEST_F(CapabilitySetTest, TransferMechanismSetGetAndReset) {
    ASSERT_EQ(mgr.CreateCapabilities(false), 1);
    Reply set = SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY);
    EXPECT_EQ(set.rc, TWRC_SUCCESS);
    EXPECT_EQ(set.cc, TWCC_SUCCESS);

    Reply get = Send(MSG_GET, ICAP_XFERMECH);
    ASSERT_EQ(get.rc, TWRC_SUCCESS);
    EXPECT_EQ(get.cap.ConType, TWON_ENUMERATION);
    EXPECT_EQ(get.d.items, (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_EQ(get.d.currentIndex, 2u);
    EXPECT_EQ(get.d.defaultIndex, 0u);

    Reply reset = Send(MSG_RESET, ICAP_XFERMECH);
    ASSERT_EQ(reset.rc, TWRC_SUCCESS);
    EXPECT_EQ(reset.cap.ConType, TWON_ONEVALUE);
    EXPECT_EQ(reset.d.item, 0u);

    // An enumeration from the application selects its CurrentIndex element.
    TW_HANDLE e = mem.AppBlock(kivtest::EnumerationBytes(TWTY_UINT16, 2, {0, 1, 2}, 1));
    EXPECT_EQ(Send(MSG_SET, ICAP_XFERMECH, TWON_ENUMERATION, e).rc, TWRC_SUCCESS);
    EXPECT_EQ(Send(MSG_GETCURRENT, ICAP_XFERMECH).d.item, TWSX_FILE);
}

TEST_F(CapabilitySetTest, ValuesOutsideTheListAreRefused) {
    ASSERT_EQ(mgr.CreateCapabilities(false), 1);
    EXPECT_EQ(SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY).cc, TWCC_BADVALUE);
    EXPECT_EQ(SetOne(ICAP_BITDEPTH, TWTY_UINT16, 8).cc, TWCC_BADVALUE);
    EXPECT_EQ(SetOne(ICAP_XRESOLUTION, TWTY_FIX32, 2).cc, TWCC_BADVALUE);  // 2.0
    EXPECT_EQ(SetOne(ICAP_IMAGEFILEFORMAT, TWTY_UINT16, TWFF_JFIF).cc, TWCC_BADVALUE);
    EXPECT_EQ(SetOne(CAP_XFERCOUNT, TWTY_INT16, 5).cc, TWCC_BADVALUE);

    EXPECT_EQ(SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_RGB).rc, TWRC_SUCCESS);
    EXPECT_EQ(SetOne(ICAP_BITDEPTH, TWTY_UINT16, 24).rc, TWRC_SUCCESS);
    EXPECT_EQ(SetOne(ICAP_XRESOLUTION, TWTY_FIX32, 1).rc, TWRC_SUCCESS);
    EXPECT_EQ(SetOne(CAP_XFERCOUNT, TWTY_INT16, 1).rc, TWRC_SUCCESS);
    EXPECT_EQ(Send(MSG_GETCURRENT, CAP_XFERCOUNT).d.item, 1u);

    // The uses by the TWAIN manager: CAP_XFERCOUNT back to -1 at MSG_ENABLEDS.
    auto* count = dynamic_cast<kiv::CKIVContainerInt*>(mgr.FindCapability(CAP_XFERCOUNT));
    ASSERT_NE(count, nullptr);
    TW_UINT16 cc = 0xBEEF;
    EXPECT_EQ(count->SetCurrent(-1, &cc), TWRC_SUCCESS);
    EXPECT_EQ(Send(MSG_GETCURRENT, CAP_XFERCOUNT).d.item, 0xFFFFFFFFu);
    EXPECT_NE(dynamic_cast<kiv::CKIVContainerFix32*>(mgr.FindCapability(ICAP_YRESOLUTION)), nullptr);
    for (TW_UINT16 id : {ICAP_BITDEPTH, ICAP_PIXELTYPE, ICAP_COMPRESSION, ICAP_IMAGEFILEFORMAT})
        EXPECT_NE(dynamic_cast<kiv::CKIVContainerInt*>(mgr.FindCapability(id)), nullptr) << std::hex << id;
}

TEST_F(CapabilitySetTest, BoolCapabilitiesAnswerEnumerationsOnlyToTwain2Applications) {
    ASSERT_EQ(mgr.CreateCapabilities(false), 1);
    Reply one = Send(MSG_GET, CAP_UICONTROLLABLE);
    EXPECT_EQ(one.cap.ConType, TWON_ONEVALUE);
    EXPECT_EQ(one.d.item, 1u);

    ASSERT_EQ(mgr.CreateCapabilities(true), 1);
    Reply e = Send(MSG_GET, CAP_UICONTROLLABLE);
    ASSERT_EQ(e.rc, TWRC_SUCCESS);
    EXPECT_EQ(e.cap.ConType, TWON_ENUMERATION);
    EXPECT_EQ(e.d.itemType, TWTY_BOOL);
    EXPECT_EQ(e.d.items, (std::vector<std::uint32_t>{1, 0}));
    EXPECT_EQ(e.d.currentIndex, 0u);
    EXPECT_EQ(e.d.defaultIndex, 0u);
    Reply cur = Send(MSG_GETCURRENT, CAP_UICONTROLLABLE);
    EXPECT_EQ(cur.cap.ConType, TWON_ONEVALUE);
    EXPECT_EQ(cur.d.item, 1u);
}

TEST_F(CapabilitySetTest, DeviceOnlineProbesTheCameraOnEveryGetAndLeavesItStopped) {
    ASSERT_EQ(mgr.CreateCapabilities(true), 1);
    camera.calls.clear();
    for (TW_UINT16 msg : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT}) {
        camera.running = true;  // as if the dialog's preview were live
        Reply r = Send(msg, CAP_DEVICEONLINE);
        ASSERT_EQ(r.rc, TWRC_SUCCESS);
        EXPECT_FALSE(camera.running) << msg;
    }
    EXPECT_EQ(camera.calls.size(), 9u);
    EXPECT_EQ(camera.calls[0], "SetPreviewWindow(null)");
    EXPECT_EQ(camera.calls[1], "Run");
    EXPECT_EQ(camera.calls[2], "Stop");

    // A busy camera: FALSE, which is the answer rather than a failure; the
    // default stays TRUE; Stop is not reached.
    camera.failRun = true;
    camera.calls.clear();
    Reply busy = Send(MSG_GET, CAP_DEVICEONLINE);
    ASSERT_EQ(busy.rc, TWRC_SUCCESS);
    EXPECT_EQ(busy.cap.ConType, TWON_ENUMERATION);
    EXPECT_EQ(busy.d.currentIndex, 1u);
    EXPECT_EQ(busy.d.defaultIndex, 0u);
    EXPECT_EQ(camera.calls, (std::vector<std::string>{"SetPreviewWindow(null)", "Run"}));
    EXPECT_EQ(Send(MSG_GETCURRENT, CAP_DEVICEONLINE).d.item, 0u);
    EXPECT_EQ(Send(MSG_GETDEFAULT, CAP_DEVICEONLINE).d.item, 1u);

    // Comes back once the camera runs again.
    camera.failRun = false;
    EXPECT_EQ(Send(MSG_GETCURRENT, CAP_DEVICEONLINE).d.item, 1u);
    camera.failStop = true;
    EXPECT_EQ(Send(MSG_GETCURRENT, CAP_DEVICEONLINE).d.item, 0u);
}

TEST_F(CapabilitySetTest, DeviceOnlineIsFalseWithoutAnyCamera) {
    ASSERT_EQ(mgr.CreateCapabilities(false), 1);
    kiv::CKIVUVCControl::DestroyInstance();
    camera.available = false;  // unplugged: no camera object can be made
    Reply r = Send(MSG_GET, CAP_DEVICEONLINE);
    ASSERT_EQ(r.rc, TWRC_SUCCESS);
    EXPECT_EQ(r.cap.ConType, TWON_ONEVALUE);
    EXPECT_EQ(r.d.item, 0u);
    EXPECT_EQ(Send(MSG_GETDEFAULT, CAP_DEVICEONLINE).d.item, 1u);
}

TEST_F(CapabilitySetTest, PhysicalSizeIsTheWidestFrameOfTheCurrentFormatType) {
    // The YUY2 2592x1944 entry is of another type and does not count.
    ASSERT_EQ(mgr.CreateCapabilities(false), 1);
    EXPECT_EQ(Send(MSG_GET, ICAP_PHYSICALWIDTH, 0, nullptr, 4).d.item, 1920u);
    EXPECT_EQ(Send(MSG_GET, ICAP_PHYSICALHEIGHT, 0, nullptr, 4).d.item, 1080u);

    camera.currentType = kiv::UVCFMT_YUY2;
    ASSERT_EQ(mgr.CreateCapabilities(false), 1);
    EXPECT_EQ(Send(MSG_GET, ICAP_PHYSICALWIDTH).d.item, 2592u);
    EXPECT_EQ(Send(MSG_GET, ICAP_PHYSICALHEIGHT).d.item, 1944u);

    kiv::CUVCDeviceInfo info;
    info.AddFormat(kivtest::Mjpeg(1280, 720));
    info.AddFormat(kivtest::Mjpeg(1280, 960));
    info.AddFormat(kivtest::Mjpeg(1280, 800));
    kiv::CResolution widest;
    ASSERT_TRUE(kiv::WidestFrame(info, widest));
    EXPECT_EQ(widest.height, 960);
}

TEST_F(CapabilitySetTest, ASetThatCannotBeBuiltLeavesNoCapabilityAndCanBeBuiltLater) {
    camera.formats = {kivtest::Yuy2(640, 480)};  // nothing of the current (MJPEG) type
    EXPECT_EQ(mgr.CreateCapabilities(false), 0);
    for (TW_UINT16 id : kSupportedCaps) EXPECT_EQ(mgr.FindCapability(id), nullptr);
    Reply r = Send(MSG_GET, CAP_XFERCOUNT);
    EXPECT_EQ(r.rc, TWRC_FAILURE);
    EXPECT_EQ(r.cc, TWCC_CAPUNSUPPORTED);

    camera.failInfo = true;
    camera.formats = {kivtest::Mjpeg(640, 480)};
    EXPECT_EQ(mgr.CreateCapabilities(false), 0);
    camera.available = false;
    kiv::CKIVUVCControl::DestroyInstance();
    EXPECT_EQ(mgr.CreateCapabilities(false), 0);
    EXPECT_EQ(mgr.FindCapability(CAP_SUPPORTEDCAPS), nullptr);

    camera.available = true;
    camera.failInfo = false;
    ASSERT_EQ(mgr.CreateCapabilities(false), 1);
    EXPECT_EQ(Send(MSG_GET, ICAP_PHYSICALWIDTH).d.item, 640u);
}

TEST_F(CapabilitySetTest, ANewSetStartsFromTheInitialValues) {
    ASSERT_EQ(mgr.CreateCapabilities(false), 1);
    ASSERT_EQ(SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE).rc, TWRC_SUCCESS);
    ASSERT_EQ(SetOne(ICAP_IMAGEFILEFORMAT, TWTY_UINT16, TWFF_TIFF).rc, TWRC_SUCCESS);
    mgr.DestroyCapabilities();
    EXPECT_EQ(Send(MSG_GET, ICAP_XFERMECH).cc, TWCC_CAPUNSUPPORTED);
    ASSERT_EQ(mgr.CreateCapabilities(false), 1);
    EXPECT_EQ(Send(MSG_GETCURRENT, ICAP_XFERMECH).d.item, TWSX_NATIVE);
    EXPECT_EQ(Send(MSG_GETCURRENT, ICAP_IMAGEFILEFORMAT).d.item, TWFF_BMP);
}

TEST_F(CapabilitySetTest, ProtocolRefusals) {
    ASSERT_EQ(mgr.CreateCapabilities(false), 1);
    Reply unknown = Send(MSG_GET, 0x1101 /* ICAP_BRIGHTNESS */);
    EXPECT_EQ(unknown.rc, TWRC_FAILURE);
    EXPECT_EQ(unknown.cc, TWCC_CAPUNSUPPORTED);
    for (TW_UINT16 msg : {MSG_RESETALL, MSG_GETFIRST, MSG_GETNEXT, MSG_GETHELP, MSG_GETLABEL, MSG_GETLABELENUM}) {
        Reply r = Send(msg, ICAP_XFERMECH);
        EXPECT_EQ(r.rc, TWRC_FAILURE) << msg;
        EXPECT_EQ(r.cc, TWCC_BADPROTOCOL) << msg;
    }
    TW_UINT16 cc = 0;
    EXPECT_EQ(mgr.HandleCapability(MSG_GET, nullptr, cc), TWRC_FAILURE);
    EXPECT_EQ(cc, TWCC_BUMMER);

    // A record at an odd address is read and written like any other.
    alignas(8) unsigned char raw[sizeof(TW_CAPABILITY) + 1] = {};
    TW_CAPABILITY cap{ICAP_BITDEPTH, 0, nullptr};
    std::memcpy(raw + 1, &cap, sizeof cap);
    ASSERT_EQ(mgr.HandleCapability(MSG_GETCURRENT, raw + 1, cc), TWRC_SUCCESS);
    std::memcpy(&cap, raw + 1, sizeof cap);
    EXPECT_EQ(cap.ConType, TWON_ONEVALUE);
    EXPECT_EQ(kivtest::Decode(mem.Bytes(cap.hContainer), TWON_ONEVALUE, 2).item, 24u);
}

}  // namespace
