// kivscan's picture handling: DIBs of native transfers, strips of memory
// transfers, the BMP and TIFF it writes, and the capability containers it
// reads for --caps.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "kivscan/ReadBack.h"
#include "tools/kivscan/CapabilityTable.h"
#include "tools/kivscan/Picture.h"
#include "tools/kivscan/PictureFiles.h"

using namespace kiv::scan;
using namespace twain;
using kivscantest::Le32;

using kivscantest::TempPath;

namespace {

void Put32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A DIB with BITMAPINFOHEADER whose pixel (x, y), y = 0 the top row, is
// (x, y, x + y) in red, green, blue.
std::vector<std::uint8_t> MakeDib(std::int32_t width, std::int32_t height, int bits) {
    const std::int32_t rows = height < 0 ? -height : height;
    const std::size_t stride = (static_cast<std::size_t>(width) * bits / 8 + 3) / 4 * 4;
    std::vector<std::uint8_t> dib(40 + stride * rows, 0xEE);  // padding bytes are not zero
    Put32(dib, 0, 40);
    Put32(dib, 4, static_cast<std::uint32_t>(width));
    Put32(dib, 8, static_cast<std::uint32_t>(height));
    dib[12] = 1;
    dib[13] = 0;
    dib[14] = static_cast<std::uint8_t>(bits);
    dib[15] = 0;
    Put32(dib, 16, 0);
    for (int at = 20; at < 40; at += 4) Put32(dib, static_cast<std::size_t>(at), 0);
    for (std::int32_t y = 0; y < rows; ++y) {
        const std::int32_t stored = height > 0 ? rows - 1 - y : y;
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t* p = &dib[40 + stride * stored + static_cast<std::size_t>(x) * bits / 8];
            p[0] = static_cast<std::uint8_t>(x + y);  // blue first
            p[1] = static_cast<std::uint8_t>(y);
            p[2] = static_cast<std::uint8_t>(x);
        }
    }
    return dib;
}

void ExpectGradient(const RgbPicture& picture, std::int32_t width, std::int32_t height) {
    ASSERT_EQ(width, picture.width);
    ASSERT_EQ(height, picture.height);
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x) {
            const std::uint8_t* p = picture.Pixel(x, y);
            ASSERT_EQ(x, p[0]) << x << "," << y;
            ASSERT_EQ(y, p[1]) << x << "," << y;
            ASSERT_EQ(static_cast<std::uint8_t>(x + y), p[2]) << x << "," << y;
        }
}

RgbPicture Gradient(std::int32_t width, std::int32_t height) {
    RgbPicture picture;
    picture.width = width;
    picture.height = height;
    picture.pixels.resize(static_cast<std::size_t>(width) * height * 3);
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t* p = &picture.pixels[(static_cast<std::size_t>(y) * width + x) * 3];
            p[0] = static_cast<std::uint8_t>(x);
            p[1] = static_cast<std::uint8_t>(y);
            p[2] = static_cast<std::uint8_t>(x + y);
        }
    return picture;
}

TW_IMAGEINFO Info(std::int32_t width, std::int32_t height) {
    TW_IMAGEINFO info{};
    info.ImageWidth = width;
    info.ImageLength = height;
    info.SamplesPerPixel = 3;
    info.BitsPerPixel = 24;
    info.PixelType = TWPT_RGB;
    info.Compression = TWCP_NONE;
    return info;
}

// One strip of rows [first, first + rows) of Gradient(width, ...), laid out
// as the source does: rows padded to 4 bytes.
std::vector<std::uint8_t> Strip(std::int32_t width, unsigned first, unsigned rows, TW_IMAGEMEMXFER& xfer) {
    const std::uint32_t stride = (static_cast<std::uint32_t>(width) * 3 + 3) / 4 * 4;
    std::vector<std::uint8_t> buffer(stride * rows, 0xEE);
    for (unsigned r = 0; r < rows; ++r)
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t* p = &buffer[r * stride + static_cast<std::size_t>(x) * 3];
            p[0] = static_cast<std::uint8_t>(x);
            p[1] = static_cast<std::uint8_t>(first + r);
            p[2] = static_cast<std::uint8_t>(x + first + r);
        }
    xfer = TW_IMAGEMEMXFER{};
    xfer.Compression = TWCP_NONE;
    xfer.BytesPerRow = stride;
    xfer.Columns = static_cast<TW_UINT32>(width);
    xfer.Rows = rows;
    xfer.YOffset = first;
    xfer.BytesWritten = stride * rows;
    return buffer;
}

TEST(Dib, BottomUpAndTopDownRowsOfEveryDepthComeOutTopDownRgb) {
    // Width 5: 15 bytes of pixels and a padded row of 16 at 24 bits.
    std::string error;
    for (int bits : {24, 32}) {
        for (std::int32_t height : {7, -7}) {
            const std::vector<std::uint8_t> dib = MakeDib(5, height, bits);
            RgbPicture picture;
            ASSERT_TRUE(DecodeDib(dib.data(), dib.size(), picture, error)) << error;
            ExpectGradient(picture, 5, 7);
            EXPECT_EQ(dib.size(), DibAnnouncedSize(dib.data()));
        }
    }
}

TEST(Dib, EightBitPixelsGoThroughTheColourTable) {
    std::vector<std::uint8_t> dib(40 + 2 * 4 + 4, 0);
    Put32(dib, 0, 40);
    Put32(dib, 4, 2);
    Put32(dib, 8, 1);
    dib[12] = 1;
    dib[14] = 8;
    Put32(dib, 32, 2);  // two colours
    const std::uint8_t table[] = {30, 20, 10, 0, 3, 2, 1, 0};
    std::memcpy(&dib[40], table, sizeof table);
    dib[48] = 1;
    dib[49] = 0;
    RgbPicture picture;
    std::string error;
    ASSERT_TRUE(DecodeDib(dib.data(), dib.size(), picture, error)) << error;
    EXPECT_EQ((std::vector<std::uint8_t>{1, 2, 3, 10, 20, 30}), picture.pixels);
    dib[49] = 2;  // past the two-colour table
    EXPECT_FALSE(DecodeDib(dib.data(), dib.size(), picture, error));
}

TEST(Dib, RefusesBlocksShorterThanTheHeaderAnnouncesAndUnknownFormats) {
    std::string error;
    RgbPicture picture;
    std::vector<std::uint8_t> dib = MakeDib(5, 7, 24);
    EXPECT_FALSE(DecodeDib(dib.data(), dib.size() - 1, picture, error));
    EXPECT_NE(std::string::npos, error.find("block holds")) << error;
    EXPECT_FALSE(DecodeDib(dib.data(), 39, picture, error));
    Put32(dib, 16, 1);  // BI_RLE8
    EXPECT_FALSE(DecodeDib(dib.data(), dib.size(), picture, error));
    EXPECT_EQ(0u, DibAnnouncedSize(MakeDib(5, 7, 16).data()));
    // A width that would overflow the row arithmetic.
    dib = MakeDib(5, 7, 24);
    Put32(dib, 4, 0x7FFFFFFF);
    EXPECT_FALSE(DecodeDib(dib.data(), dib.size(), picture, error));
    EXPECT_EQ(0u, DibAnnouncedSize(dib.data()));
}

TEST(Strips, AssembleInAnyOrderAndKnowWhenComplete) {
    StripAssembler assembler;
    std::string error;
    ASSERT_TRUE(assembler.Begin(Info(5, 7), error)) << error;
    TW_IMAGEMEMXFER xfer{};
    std::vector<std::uint8_t> last = Strip(5, 4, 3, xfer);
    ASSERT_TRUE(assembler.Add(xfer, last.data(), last.size(), error)) << error;
    EXPECT_FALSE(assembler.Complete());
    std::vector<std::uint8_t> first = Strip(5, 0, 4, xfer);
    // The same rows twice do not count twice.
    ASSERT_TRUE(assembler.Add(xfer, first.data(), first.size(), error)) << error;
    ASSERT_TRUE(assembler.Add(xfer, first.data(), first.size(), error)) << error;
    ASSERT_TRUE(assembler.Complete());
    ExpectGradient(assembler.Picture(), 5, 7);
}

TEST(Strips, RefuseStripsOutsideThePictureOrLongerThanTheirBuffer) {
    StripAssembler assembler;
    std::string error;
    ASSERT_TRUE(assembler.Begin(Info(5, 7), error));
    TW_IMAGEMEMXFER xfer{};
    std::vector<std::uint8_t> buffer = Strip(5, 5, 3, xfer);  // rows 5..7 of 7
    EXPECT_FALSE(assembler.Add(xfer, buffer.data(), buffer.size(), error));
    // Three rows of 16 bytes, the last one's padding byte not needed: 47
    // bytes must have been written and must fit the buffer.
    buffer = Strip(5, 0, 3, xfer);
    xfer.BytesWritten = 46;
    EXPECT_FALSE(assembler.Add(xfer, buffer.data(), buffer.size(), error));
    xfer.BytesWritten = 47;
    EXPECT_FALSE(assembler.Add(xfer, buffer.data(), 46, error));
    EXPECT_TRUE(assembler.Add(xfer, buffer.data(), 47, error)) << error;
    xfer.BytesPerRow = 14;  // shorter than five pixels
    EXPECT_FALSE(assembler.Add(xfer, buffer.data(), buffer.size(), error));
    // Compressed or planar pictures are refused up front.
    TW_IMAGEINFO planar = Info(5, 7);
    planar.Planar = 1;
    EXPECT_FALSE(assembler.Begin(planar, error));
    EXPECT_FALSE(assembler.Begin(Info(0, 7), error));
}

TEST(Files, BmpIsBottomUpBgrWithPaddedRows) {
    const std::string path = TempPath("kivscan_test.bmp");
    std::string error;
    ASSERT_TRUE(WriteBmpFile(path, Gradient(5, 3), error)) << error;
    const std::vector<std::uint8_t> file = kivscantest::ReadBytes(path);
    ASSERT_EQ(54u + 16 * 3, file.size());
    EXPECT_EQ(file.size(), Le32(&file[2]));
    EXPECT_EQ(54u, Le32(&file[10]));
    EXPECT_EQ(3u, Le32(&file[22]));  // positive height: bottom-up
    // The first stored row is the bottom one (y = 2), blue first.
    EXPECT_EQ(2, file[54 + 0]);
    EXPECT_EQ(2, file[54 + 1]);
    EXPECT_EQ(0, file[54 + 2]);
    RgbPicture back;
    ASSERT_TRUE(kivscantest::ReadBmp(path, back));
    ExpectGradient(back, 5, 3);
    std::remove(path.c_str());
}

TEST(Files, TiffHoldsTheSameRgbPixels) {
    const std::string path = TempPath("kivscan_test.tif");
    std::string error;
    ASSERT_TRUE(WriteTiffFile(path, Gradient(300, 260), error)) << error;
    RgbPicture back;
    ASSERT_TRUE(kivscantest::ReadTiff(path, back));
    ASSERT_EQ(300, back.width);
    ASSERT_EQ(260, back.height);
    EXPECT_EQ(Gradient(300, 260).pixels, back.pixels);
    std::remove(path.c_str());
}

TEST(Files, AnUnwritablePathIsAnErrorNotAnEmptySuccess) {
    std::string error;
    const std::string path = TempPath("kivscan-no-such-dir/x/page");
    EXPECT_FALSE(WriteBmpFile(path + ".bmp", Gradient(2, 2), error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(WriteTiffFile(path + ".tif", Gradient(2, 2), error));
    EXPECT_FALSE(error.empty());
}

TEST(Containers, ReadsEachKindWithNamesAndChecksTheBlockSize) {
    std::string error;
    ContainerValues values;
    // TW_ENUMERATION of ICAP_XFERMECH {0, 1, 2}, current 2, default 0.
    const std::uint8_t enumeration[] = {4, 0, 3, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 2, 0};
    ASSERT_TRUE(ReadContainer(enumeration, sizeof enumeration, TWON_ENUMERATION, ICAP_XFERMECH, values, error));
    EXPECT_EQ((std::vector<std::string>{"TWSX_NATIVE", "TWSX_FILE", "TWSX_MEMORY"}), values.items);
    EXPECT_EQ(2u, values.currentIndex.value());
    EXPECT_EQ(0u, values.defaultIndex.value());
    EXPECT_FALSE(ReadContainer(enumeration, sizeof enumeration - 1, TWON_ENUMERATION, ICAP_XFERMECH, values, error));

    // An array that claims more items than its block holds.
    const std::uint8_t array[] = {4, 0, 200, 0, 0, 0, 0x03, 0x01};
    EXPECT_FALSE(ReadContainer(array, sizeof array, TWON_ARRAY, CAP_SUPPORTEDCAPS, values, error));
    const std::uint8_t oneCap[] = {4, 0, 1, 0, 0, 0, 0x03, 0x01};
    ASSERT_TRUE(ReadContainer(oneCap, sizeof oneCap, TWON_ARRAY, CAP_SUPPORTEDCAPS, values, error));
    EXPECT_EQ((std::vector<std::string>{"ICAP_XFERMECH"}), values.items);

    // TW_ONEVALUE of a TW_FIX32 -1.5 (Whole -2, Frac 0x8000) and of a BOOL.
    const std::uint8_t fix[] = {7, 0, 0xFE, 0xFF, 0x00, 0x80};
    ASSERT_TRUE(ReadContainer(fix, sizeof fix, TWON_ONEVALUE, ICAP_XRESOLUTION, values, error));
    EXPECT_EQ("-1.5", values.items.at(0));
    const std::uint8_t boolean[] = {6, 0, 1, 0, 0, 0};
    ASSERT_TRUE(ReadContainer(boolean, sizeof boolean, TWON_ONEVALUE, CAP_DEVICEONLINE, values, error));
    EXPECT_EQ("TRUE", values.items.at(0));
    const std::uint8_t unknownType[] = {0x77, 0, 1, 0, 0, 0};
    EXPECT_FALSE(ReadContainer(unknownType, sizeof unknownType, TWON_ONEVALUE, ICAP_UNITS, values, error));
}

}  // namespace
