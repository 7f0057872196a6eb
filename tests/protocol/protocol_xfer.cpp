// The transfers through DS_Entry with the virtual camera: image information
// and layout, native DIBs, memory strips, BMP and TIFF files, pending
// transfers and the failures of each.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/DsHost.h"
#include "support/FileBytes.h"
#include "support/SimPattern.h"

using namespace twain;
using kivtest::DsHost;

namespace {

using kivtest::Le16;
using kivtest::Le32;

// Picture row y of a W x H still after the one-line trim of an MJPEG stream:
// lines 1 .. H-2 stretched over H rows.
int TrimmedSourceRow(int y, int height) { return 1 + y * (height - 2) / height; }

class Xfer : public ::testing::Test {
protected:
    void SetUp() override {
        kivtest::SetEnv("KIVDS_UI", "headless");
        kivtest::SetEnv("KIVDS_CAMERA", "sim");
        kivtest::SetEnv("KIVDS_SIM", "caps=mjpeg:640x480,yuy2:320x240");
    }

    // Opens the source, lets `negotiate` run in state 4, enables without UI.
    void Start(DsHost& host) {
        ASSERT_TRUE(host.Loaded());
        ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
        ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi());
    }

    TW_UINT16 SetCapOneValue(DsHost& host, TW_UINT16 cap, TW_UINT16 type, TW_UINT32 value) {
        TW_CAPABILITY capability{cap, TWON_ONEVALUE, DsHost::Allocate(sizeof(TW_ONEVALUE))};
        auto* one = static_cast<TW_ONEVALUE*>(capability.hContainer);
        one->ItemType = type;
        one->Item = value;
        TW_UINT16 rc = host.Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
        DsHost::Free(capability.hContainer);
        return rc;
    }
};

TEST_F(Xfer, ImageInfoAndLayoutDescribeTheFrame) {
    DsHost host;
    Start(host);
    TW_IMAGEINFO info;
    std::memset(&info, 0xFF, sizeof info);
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
    EXPECT_EQ(1, +info.XResolution.Whole);
    EXPECT_EQ(0, +info.XResolution.Frac);
    EXPECT_EQ(1, +info.YResolution.Whole);
    EXPECT_EQ(640, +info.ImageWidth);
    EXPECT_EQ(480, +info.ImageLength);
    EXPECT_EQ(3, +info.SamplesPerPixel);
    EXPECT_EQ(8, +info.BitsPerSample[0]);
    EXPECT_EQ(8, +info.BitsPerSample[1]);
    EXPECT_EQ(8, +info.BitsPerSample[2]);
    EXPECT_EQ(24, +info.BitsPerPixel);
    EXPECT_EQ(0, +info.Planar);
    EXPECT_EQ(TWPT_RGB, +info.PixelType);
    EXPECT_EQ(TWCP_NONE, +info.Compression);

    TW_IMAGELAYOUT layout{};
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout));
    EXPECT_EQ(640, +layout.Frame.Right.Whole);
    EXPECT_EQ(480, +layout.Frame.Bottom.Whole);
    EXPECT_EQ(1u, +layout.DocumentNumber);
    TW_UINT32 group = 0;
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_XFERGROUP, MSG_GET, &group));
    EXPECT_EQ(DG_IMAGE, group);
    TW_SETUPMEMXFER setup{};
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup));
    EXPECT_EQ(6144u, +setup.MinBufSize);
    EXPECT_EQ(65536u, +setup.MaxBufSize);
    EXPECT_EQ(65536u, +setup.Preferred);
}

TEST_F(Xfer, NativeDibCarriesTheTrimmedPatternBottomUp) {
    DsHost host;
    Start(host);
    TW_HANDLE dib = nullptr;
    ASSERT_EQ(TWRC_XFERDONE, host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
    ASSERT_NE(nullptr, dib);
    EXPECT_EQ(0, host.Memory().outstandingLocks());
    const auto* bytes = static_cast<const unsigned char*>(dib);
    EXPECT_EQ(40u, Le32(bytes));
    EXPECT_EQ(640u, Le32(bytes + 4));
    EXPECT_EQ(480u, Le32(bytes + 8));
    EXPECT_EQ(1, Le16(bytes + 12));
    EXPECT_EQ(24, Le16(bytes + 14));
    EXPECT_EQ(0u, Le32(bytes + 16));
    EXPECT_EQ(640u * 480u * 3u, Le32(bytes + 20));
    const unsigned char* bits = bytes + 40;
    const int stride = 640 * 3;
    for (int y : {0, 1, 2, 239, 240, 478, 479}) {
        for (int x : {0, 1, 255, 256, 639}) {
            const int row = 479 - y;  // bottom-up
            const kivtest::Rgb want = kivtest::SimPixel(x, TrimmedSourceRow(y, 480));
            const unsigned char* px = bits + row * stride + x * 3;
            EXPECT_EQ(+want.b, px[0]) << x << "," << y;
            EXPECT_EQ(+want.g, px[1]) << x << "," << y;
            EXPECT_EQ(+want.r, px[2]) << x << "," << y;
        }
    }
    DsHost::Free(dib);

    TW_UINT16 count = 0xAAAA;
    ASSERT_EQ(TWRC_SUCCESS, host.EndXfer(&count));
    EXPECT_EQ(0, count);
    // State 5: disabling is accepted now.
    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
}

TEST_F(Xfer, Yuy2StreamOfModelAIsNotTrimmed) {
    kivtest::SetEnv("KIVDS_SIM", "caps=yuy2:320x240");
    DsHost host;
    Start(host);
    TW_HANDLE dib = nullptr;
    ASSERT_EQ(TWRC_XFERDONE, host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
    const unsigned char* bits = static_cast<const unsigned char*>(dib) + 40;
    for (int y : {0, 1, 120, 239}) {
        const kivtest::Rgb want = kivtest::SimPixel(17, y);
        const unsigned char* px = bits + (239 - y) * 960 + 17 * 3;
        EXPECT_EQ(+want.g, px[1]) << y;
        EXPECT_EQ(+want.r, px[2]) << y;
    }
    DsHost::Free(dib);
}

TEST_F(Xfer, MemoryStripsAreWholeRowsTopDownRgb) {
    DsHost host;
    Start(host);
    TW_SETUPMEMXFER setup{};
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup));
    // A buffer shorter than one row is refused, and the transfer can go on.
    std::vector<unsigned char> small(1919);
    TW_IMAGEMEMXFER xfer{};
    xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    xfer.Memory.Length = static_cast<TW_UINT32>(small.size());
    xfer.Memory.TheMem = small.data();
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer));
    EXPECT_EQ(TWCC_BADVALUE, host.Status());

    // 7 rows per strip: 68 full strips and a last one of 4 rows.
    std::vector<unsigned char> picture;
    std::vector<unsigned char> buffer(1920 * 7 + 100);
    TW_UINT32 expectedOffset = 0;
    TW_UINT16 rc = TWRC_SUCCESS;
    int strips = 0;
    while (rc == TWRC_SUCCESS) {
        std::memset(&xfer, 0xFF, sizeof xfer);
        xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
        xfer.Memory.Length = static_cast<TW_UINT32>(buffer.size());
        xfer.Memory.TheMem = buffer.data();
        rc = host.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
        ASSERT_TRUE(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) << host.Status();
        ++strips;
        EXPECT_EQ(1920u, +xfer.BytesPerRow);
        EXPECT_EQ(640u, +xfer.Columns);
        EXPECT_EQ(expectedOffset, +xfer.YOffset);
        EXPECT_EQ(0u, +xfer.XOffset);
        EXPECT_EQ(TWCP_NONE, +xfer.Compression);
        EXPECT_EQ(+xfer.Rows * 1920u, +xfer.BytesWritten);
        EXPECT_EQ(rc == TWRC_XFERDONE ? 4u : 7u, +xfer.Rows);
        picture.insert(picture.end(), buffer.begin(), buffer.begin() + xfer.BytesWritten);
        expectedOffset += xfer.Rows;
    }
    EXPECT_EQ(69, strips);
    ASSERT_EQ(640u * 3 * 480, picture.size());
    for (int y : {0, 1, 100, 479}) {
        for (int x : {0, 300, 639}) {
            const kivtest::Rgb want = kivtest::SimPixel(x, TrimmedSourceRow(y, 480));
            const unsigned char* px = &picture[static_cast<std::size_t>(y) * 1920 + x * 3];
            EXPECT_EQ(+want.r, px[0]);
            EXPECT_EQ(+want.g, px[1]);
            EXPECT_EQ(+want.b, px[2]);
        }
    }
    TW_PENDINGXFERS pending{};
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending));
    EXPECT_EQ(0, +pending.Count);
    TW_UINT16 count = 0xAAAA;
    ASSERT_EQ(TWRC_SUCCESS, host.EndXfer(&count));
    EXPECT_EQ(0, count);
}

TEST_F(Xfer, MemoryTransferIntoAHandleUnlocksItAgain) {
    DsHost host;
    Start(host);
    TW_HANDLE handle = DsHost::Allocate(65536);
    TW_IMAGEMEMXFER xfer{};
    xfer.Memory.Flags = TWMF_APPOWNS | TWMF_HANDLE;
    xfer.Memory.Length = 65536;
    xfer.Memory.TheMem = handle;
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer));
    EXPECT_EQ(34u, +xfer.Rows);  // 65536 / 1920
    EXPECT_GT(host.Memory().locks, 0);
    EXPECT_EQ(0, host.Memory().outstandingLocks());
    // Neither pointer nor handle: refused, nothing locked.
    xfer.Memory.Flags = TWMF_APPOWNS;
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer));
    EXPECT_EQ(TWCC_BADVALUE, host.Status());
    EXPECT_EQ(0, host.Memory().outstandingLocks());
    DsHost::Free(handle);
}

TEST_F(Xfer, ResetInStateSixReturnsToFiveAndEndCountsDown) {
    DsHost host;
    Start(host);
    TW_PENDINGXFERS pending{};
    pending.Count = 99;
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending));
    EXPECT_EQ(0xFFFF, +pending.Count);
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending));
    EXPECT_EQ(0, +pending.Count);
    // State 5: no transfer is possible any more.
    TW_HANDLE dib = nullptr;
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
    EXPECT_EQ(TWCC_SEQERROR, host.Status());
    EXPECT_EQ(TWRC_SUCCESS, host.DisableDS());
}

TEST_F(Xfer, BmpFileOfAnOddWidthHasPaddedRows) {
    kivtest::SetEnv("KIVDS_SIM", "caps=yuy2:641x100");
    const std::string path = kivtest::TempPath("kivds-protocol-641.bmp");
    std::remove(path.c_str());
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    TW_SETUPFILEXFER setup{};
    std::strcpy(setup.FileName, path.c_str());
    setup.Format = TWFF_BMP;
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi());
    ASSERT_EQ(TWRC_XFERDONE, host.Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr)) << host.Status();
    const std::vector<unsigned char> file = kivtest::ReadBytes(path);
    ASSERT_EQ(54u + 1924u * 100u, file.size());
    EXPECT_EQ('B', file[0]);
    EXPECT_EQ('M', file[1]);
    EXPECT_EQ(1924u * 100u + 54u, Le32(&file[2]));
    EXPECT_EQ(54u, Le32(&file[10]));
    EXPECT_EQ(641u, Le32(&file[18]));
    EXPECT_EQ(1923u * 100u, Le32(&file[34]));
    const kivtest::Rgb want = kivtest::SimPixel(640, 0);
    const unsigned char* topRight = &file[54 + 99 * 1924 + 640 * 3];
    EXPECT_EQ(+want.b, topRight[0]);
    EXPECT_EQ(+want.r, topRight[2]);
    std::remove(path.c_str());
}

TEST_F(Xfer, TiffFormatWritesATiffEvenAtABmpName) {
    const std::string path = kivtest::TempPath("kivds-protocol-tiff.bmp");
    std::remove(path.c_str());
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    TW_SETUPFILEXFER setup{};
    std::strcpy(setup.FileName, path.c_str());
    setup.Format = TWFF_TIFF;
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    // The default never depends on the chosen format.
    TW_SETUPFILEXFER defaults{};
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GETDEFAULT, &defaults));
    EXPECT_EQ(TWFF_BMP, +defaults.Format);
    const std::string defaultName = defaults.FileName;
    EXPECT_EQ("sample.bmp", defaultName.substr(defaultName.size() - 10));
    // JFIF is not offered.
    setup.Format = TWFF_JFIF;
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    EXPECT_EQ(TWCC_BADVALUE, host.Status());

    ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi());
    ASSERT_EQ(TWRC_XFERDONE, host.Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr)) << host.Status();
    const std::vector<unsigned char> file = kivtest::ReadBytes(path);
    ASSERT_GT(file.size(), 640u * 480u * 3u);
    EXPECT_TRUE((file[0] == 'I' && file[1] == 'I') || (file[0] == 'M' && file[1] == 'M'));
    std::remove(path.c_str());
}

TEST_F(Xfer, UnwritablePathIsAFileWriteError) {
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    TW_SETUPFILEXFER setup{};
    std::strcpy(setup.FileName, kivtest::TempPath("no-such-dir-kivds/x/page.bmp").c_str());
    setup.Format = TWFF_BMP;
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi());
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr));
    EXPECT_EQ(TWCC_FILEWRITEERROR, host.Status());
}

TEST_F(Xfer, UnterminatedFileNameIsCutTo255Characters) {
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    TW_SETUPFILEXFER setup;
    std::memset(setup.FileName, 'a', sizeof setup.FileName);
    setup.Format = TWFF_BMP;
    setup.VRefNum = 0;
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    TW_SETUPFILEXFER back;
    std::memset(&back, 0x55, sizeof back);
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &back));
    EXPECT_EQ(255u, std::strlen(+back.FileName));
    EXPECT_EQ(0, +back.VRefNum);
}

TEST_F(Xfer, LayoutInsideTheStillDeliversThatRegion) {
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    TW_IMAGELAYOUT layout{};
    layout.Frame.Left.Whole = 100;
    layout.Frame.Top.Whole = 50;
    layout.Frame.Right.Whole = 301;  // 201 wide: rows padded to 604 bytes
    layout.Frame.Bottom.Whole = 150;
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout));
    ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi());
    TW_IMAGEINFO info{};
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
    EXPECT_EQ(201, +info.ImageWidth);
    EXPECT_EQ(100, +info.ImageLength);
    TW_HANDLE dib = nullptr;
    ASSERT_EQ(TWRC_XFERDONE, host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib)) << host.Status();
    const auto* bytes = static_cast<const unsigned char*>(dib);
    EXPECT_EQ(201u, Le32(bytes + 4));
    EXPECT_EQ(100u, Le32(bytes + 8));
    // Top-left pixel of the region is the last row of the bottom-up DIB.
    const unsigned char* px = bytes + 40 + 99 * 604;
    const kivtest::Rgb want = kivtest::SimPixel(100, TrimmedSourceRow(50, 480));
    EXPECT_EQ(+want.r, px[2]);
    EXPECT_EQ(+want.g, px[1]);
    DsHost::Free(dib);
}

TEST_F(Xfer, LayoutOutsideTheStillIsRefusedAtTransfer) {
    DsHost host;
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    TW_IMAGELAYOUT layout{};
    layout.Frame.Left.Whole = 10;
    layout.Frame.Right.Whole = 5;  // right < left is accepted here
    layout.Frame.Bottom.Whole = 480;
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout));
    ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi());
    TW_IMAGEINFO info{};
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
    EXPECT_EQ(-5, +info.ImageWidth);
    const int allocationsBefore = host.Memory().allocations;
    TW_HANDLE dib = nullptr;
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
    EXPECT_EQ(TWCC_BADVALUE, host.Status());
    EXPECT_EQ(nullptr, dib);
    // The memory transfer refuses the same frame, into the application's own
    // buffer, and the source stays ready to transfer (state 6).
    std::vector<unsigned char> strip(65536, 0xFF);
    TW_IMAGEMEMXFER xfer{};
    xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    xfer.Memory.Length = static_cast<TW_UINT32>(strip.size());
    xfer.Memory.TheMem = strip.data();
    EXPECT_EQ(TWRC_FAILURE, host.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer));
    EXPECT_EQ(TWCC_BADVALUE, host.Status());
    EXPECT_EQ(0u, +xfer.BytesWritten);
    // No block was handed out or left behind by the refused transfers.
    EXPECT_EQ(allocationsBefore, host.Memory().allocations);
    EXPECT_EQ(host.Memory().allocations, host.Memory().frees);
    TW_PENDINGXFERS pending{};
    EXPECT_EQ(TWRC_SUCCESS, host.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending));
}

// One strip of `rows` rows of the memory transfer into buffer (pointer).
TW_UINT16 MemStrip(DsHost& host, std::vector<unsigned char>& buffer, TW_IMAGEMEMXFER& xfer) {
    std::memset(&xfer, 0xFF, sizeof xfer);
    xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    xfer.Memory.Length = static_cast<TW_UINT32>(buffer.size());
    xfer.Memory.TheMem = buffer.data();
    return host.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
}

// Within one open session and an unchanged frame, a memory transfer broken
// off goes on with the same image after a new MSG_XFERREADY.
TEST_F(Xfer, MemoryTransferBrokenOffContinuesInTheSameSession) {
    DsHost host;
    Start(host);
    std::vector<unsigned char> buffer(1920 * 10);
    TW_IMAGEMEMXFER xfer{};
    ASSERT_EQ(TWRC_SUCCESS, MemStrip(host, buffer, xfer));
    ASSERT_EQ(TWRC_SUCCESS, host.EndXfer());
    ASSERT_EQ(TWRC_SUCCESS, host.DisableDS());
    ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi());
    ASSERT_EQ(TWRC_SUCCESS, MemStrip(host, buffer, xfer)) << host.Status();
    EXPECT_EQ(10u, +xfer.YOffset);
    EXPECT_EQ(10u, +xfer.Rows);
}

// A broken-off transfer must not outlive a change of the frame: the next
// memory transfer grabs afresh at the new size instead of failing for good.
TEST_F(Xfer, MemoryTransferBrokenOffIsDroppedWhenTheFrameChanges) {
    DsHost host;
    Start(host);
    std::vector<unsigned char> buffer(1920 * 10);
    TW_IMAGEMEMXFER xfer{};
    ASSERT_EQ(TWRC_SUCCESS, MemStrip(host, buffer, xfer));
    ASSERT_EQ(TWRC_SUCCESS, host.EndXfer());
    ASSERT_EQ(TWRC_SUCCESS, host.DisableDS());
    TW_IMAGELAYOUT layout{};
    layout.Frame.Right.Whole = 320;
    layout.Frame.Bottom.Whole = 240;
    ASSERT_EQ(TWRC_SUCCESS, host.Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout));
    ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi());

    std::vector<unsigned char> picture;
    TW_UINT16 rc = TWRC_SUCCESS;
    TW_UINT32 expectedOffset = 0;
    while (rc == TWRC_SUCCESS) {
        rc = MemStrip(host, buffer, xfer);
        ASSERT_TRUE(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) << host.Status();
        EXPECT_EQ(960u, +xfer.BytesPerRow);
        EXPECT_EQ(expectedOffset, +xfer.YOffset);
        expectedOffset += xfer.Rows;
        picture.insert(picture.end(), buffer.begin(), buffer.begin() + xfer.BytesWritten);
    }
    ASSERT_EQ(960u * 240, picture.size());
    for (int y : {0, 9, 10, 239})
        for (int x : {0, 319}) {
            const kivtest::Rgb want = kivtest::SimPixel(x, TrimmedSourceRow(y, 480));
            const unsigned char* px = &picture[static_cast<std::size_t>(y) * 960 + x * 3];
            EXPECT_EQ(+want.r, px[0]) << x << "," << y;
            EXPECT_EQ(+want.g, px[1]) << x << "," << y;
        }
    // Later memory transfers work as well, also after close and reopen.
    ASSERT_EQ(TWRC_SUCCESS, host.EndXfer());
    ASSERT_EQ(TWRC_SUCCESS, host.DisableDS());
    ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi());
    EXPECT_EQ(TWRC_SUCCESS, MemStrip(host, buffer, xfer)) << host.Status();
    ASSERT_EQ(TWRC_SUCCESS, host.EndXfer());
    ASSERT_EQ(TWRC_SUCCESS, host.DisableDS());
    ASSERT_EQ(TWRC_SUCCESS, host.CloseDS());
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi());
    EXPECT_EQ(TWRC_SUCCESS, MemStrip(host, buffer, xfer)) << host.Status();
    EXPECT_EQ(0u, +xfer.YOffset);
}

// A broken-off transfer ends with its session: the next session's first
// strip is the top of its own picture.
TEST_F(Xfer, MemoryTransferBrokenOffEndsAtCloseDs) {
    DsHost host;
    Start(host);
    std::vector<unsigned char> buffer(1920 * 10);
    TW_IMAGEMEMXFER xfer{};
    ASSERT_EQ(TWRC_SUCCESS, MemStrip(host, buffer, xfer));
    ASSERT_EQ(TWRC_SUCCESS, host.EndXfer());
    ASSERT_EQ(TWRC_SUCCESS, host.DisableDS());
    ASSERT_EQ(TWRC_SUCCESS, host.CloseDS());

    // The same frame size from a stream without the one-line trim.
    kivtest::SetEnv("KIVDS_SIM", "caps=yuy2:640x480");
    ASSERT_EQ(TWRC_SUCCESS, host.OpenDS());
    ASSERT_EQ(TWRC_SUCCESS, host.EnableNoUi());
    ASSERT_EQ(TWRC_SUCCESS, MemStrip(host, buffer, xfer)) << host.Status();
    EXPECT_EQ(0u, +xfer.YOffset);
    EXPECT_EQ(10u, +xfer.Rows);
    for (int y : {0, 5, 9}) {
        const kivtest::Rgb want = kivtest::SimPixel(7, y);
        const unsigned char* px = &buffer[static_cast<std::size_t>(y) * 1920 + 7 * 3];
        EXPECT_EQ(+want.r, px[0]) << y;
        EXPECT_EQ(+want.g, px[1]) << y;
    }
}

}  // namespace
