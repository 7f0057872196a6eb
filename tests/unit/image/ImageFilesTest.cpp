#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <tiffio.h>

#ifdef __linux__
#include <csignal>
#include <sys/resource.h>
#endif

#include "kivds/image/ImageReference.h"
#include "unit/image/ImageTestUtil.h"

using kiv::CImageReference;
using namespace kivtest;

namespace {

std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
#ifdef _WIN32
    if (!dir) dir = std::getenv("TEMP");
    std::string base = dir ? dir : ".";
    return base + "\\kivds_unit_image_" + name;
#else
    std::string base = dir ? dir : "/tmp";
    return base + "/kivds_unit_image_" + name;
#endif
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t Le(const std::vector<std::uint8_t>& f, std::size_t offset, int size) {
    std::uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | f.at(offset + i);
    return v;
}

struct FileRemover {
    std::string path;
    ~FileRemover() { std::remove(path.c_str()); }
};

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

#ifdef __linux__
// Files of this process cannot grow beyond `bytes` while it lives: writes
// past it fail with EFBIG (SIGXFSZ ignored), like a full disk after the start.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    bool Active() const { return m_active; }

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
    bool m_active = false;
};
#endif

}  // namespace

TEST(WriteBmp, HeaderFieldsAndPixelsForAPaddedWidth) {
    const std::int32_t w = 641, h = 3;
    CImageReference image = MakeImage(w, h);  // rows of 1924 bytes
    const auto bytes = Bytes(image);
    FileRemover file{TempPath("padded.bmp")};
    ASSERT_TRUE(image.WriteBmp(file.path));

    const auto f = ReadFile(file.path);
    ASSERT_EQ(f.size(), 54 + bytes.size());
    EXPECT_EQ(Le(f, 0, 2), 0x4D42u);
    EXPECT_EQ(Le(f, 2, 4), 1924u * h + 54);  // bfSize: padded rows
    EXPECT_EQ(Le(f, 6, 2), 0u);
    EXPECT_EQ(Le(f, 8, 2), 0u);
    EXPECT_EQ(Le(f, 10, 4), 54u);
    EXPECT_EQ(Le(f, 14, 4), 40u);
    EXPECT_EQ(Le(f, 18, 4), 641u);
    EXPECT_EQ(Le(f, 22, 4), 3u);
    EXPECT_EQ(Le(f, 26, 2), 1u);
    EXPECT_EQ(Le(f, 28, 2), 24u);
    EXPECT_EQ(Le(f, 30, 4), 0u);
    EXPECT_EQ(Le(f, 34, 4), 1923u * h);  // biSizeImage: unpadded
    for (std::size_t offset = 38; offset < 54; offset += 4) EXPECT_EQ(Le(f, offset, 4), 0u) << offset;
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), f.begin() + 54));
    EXPECT_EQ(Bytes(image), bytes) << "writing a BMP changed the image";
}

TEST(WriteBmp, ReplacesALongerFile) {
    FileRemover file{TempPath("replace.bmp")};
    {
        std::ofstream out(file.path, std::ios::binary);
        out << std::string(10000, 'x');
    }
    CImageReference image = MakeImage(4, 2);
    ASSERT_TRUE(image.WriteBmp(file.path));
    EXPECT_EQ(ReadFile(file.path).size(), 54u + image.Size());
}

TEST(WriteBmp, Failures) {
    CImageReference image = MakeImage(4, 2);
    EXPECT_FALSE(image.WriteBmp(""));
    EXPECT_FALSE(image.WriteBmp(TempPath("no_such_dir/x/y.bmp")));
    CImageReference empty(4, 2, 12);
    EXPECT_FALSE(empty.WriteBmp(TempPath("empty.bmp")));
#ifdef __linux__
    // Pixel data that does not get to the file is reported.
    FileRemover cut{TempPath("cut.bmp")};
    CImageReference big = MakeImage(256, 256);
    FileSizeLimit limit(4096);
    ASSERT_TRUE(limit.Active());
    EXPECT_FALSE(big.WriteBmp(cut.path));
#endif
}

TEST(WriteTiff, TagsAndRowsOfAnOddWidthReadBackWithLibtiff) {
    const std::int32_t w = 5, h = 4, stride = 16;  // one padding byte per row
    CImageReference image = MakeImage(w, h, stride, 11);
    const auto bottomUp = Bytes(image);
    FileRemover file{TempPath("odd.tif")};
    ASSERT_TRUE(image.WriteTiff(file.path));

    // The object itself stays as the camera delivered it.
    const auto flipped = ReferenceFlip(bottomUp, w, h, stride);
    EXPECT_EQ(Bytes(image), bottomUp);

    // "c": no strip chopping, the stored strip is read as it is.
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(file.path.c_str(), "rc"));
    ASSERT_TRUE(tif);
    TIFF* t = tif.get();
    std::uint32_t u32 = 0;
    std::uint16_t u16 = 0;
    float f = 0;
    char* text = nullptr;
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &u32));
    EXPECT_EQ(u32, 5u);
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_IMAGELENGTH, &u32));
    EXPECT_EQ(u32, 4u);
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &u16));
    EXPECT_EQ(u16, 8);
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &u16));
    EXPECT_EQ(u16, 3);
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_COMPRESSION, &u16));
    EXPECT_EQ(u16, COMPRESSION_NONE);
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &u16));
    EXPECT_EQ(u16, PHOTOMETRIC_RGB);
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_FILLORDER, &u16));
    EXPECT_EQ(u16, FILLORDER_MSB2LSB);
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_PLANARCONFIG, &u16));
    EXPECT_EQ(u16, PLANARCONFIG_CONTIG);
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_ORIENTATION, &u16));
    EXPECT_EQ(u16, ORIENTATION_TOPLEFT);
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_XRESOLUTION, &f));
    EXPECT_FLOAT_EQ(f, 72.0f);
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_YRESOLUTION, &f));
    EXPECT_FLOAT_EQ(f, 72.0f);
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &u16));
    EXPECT_EQ(u16, RESUNIT_CENTIMETER);
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_SOFTWARE, &text));
    EXPECT_STREQ(text, "TWAIN Driver for Orvan Document Camera");
    EXPECT_EQ(TIFFNumberOfStrips(t), 1u);
    std::uint64_t* counts = nullptr;
    ASSERT_TRUE(TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts));
    EXPECT_EQ(counts[0], 5u * 3 * 4);

    // Each scanline is the top-down RGB row without its padding byte.
    ASSERT_EQ(TIFFScanlineSize(t), 15);
    std::vector<std::uint8_t> line(15);
    for (std::uint32_t row = 0; row < 4; ++row) {
        ASSERT_EQ(TIFFReadScanline(t, line.data(), row), 1);
        EXPECT_TRUE(std::equal(line.begin(), line.end(), flipped.begin() + row * stride)) << "row " << row;
        // Top row of the picture is the last row of the camera's buffer.
        EXPECT_EQ(line[0], bottomUp[(3 - row) * stride + 2]);
    }
}

TEST(WriteTiff, UnpaddedRowsAndLargerImage) {
    const std::int32_t w = 64, h = 48;  // 192-byte rows, no padding
    CImageReference image = MakeImage(w, h, 0, 5);
    const auto flipped = ReferenceFlip(Bytes(image), w, h, w * 3);
    FileRemover file{TempPath("plain.tif")};
    ASSERT_TRUE(image.WriteTiff(file.path));
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(file.path.c_str(), "rc"));
    ASSERT_TRUE(tif);
    std::vector<std::uint8_t> strip(static_cast<std::size_t>(TIFFStripSize(tif.get())));
    ASSERT_EQ(strip.size(), flipped.size());
    ASSERT_EQ(TIFFReadEncodedStrip(tif.get(), 0, strip.data(), static_cast<tmsize_t>(strip.size())),
              static_cast<tmsize_t>(strip.size()));
    EXPECT_EQ(strip, flipped);
}

TEST(WriteTiff, Failures) {
    CImageReference image = MakeImage(8, 4);
    const auto before = Bytes(image);
    EXPECT_FALSE(image.WriteTiff(""));
    EXPECT_FALSE(image.WriteTiff(TempPath("no_such_dir/x/y.tif")));
    EXPECT_EQ(Bytes(image), before) << "a TIFF that was never opened converted the image";

    // Geometry that does not describe the buffer: no file, image unchanged.
    FileRemover bad{TempPath("bad.tif")};
    std::remove(bad.path.c_str());
    image.SetInfo(8, 5, 24);
    EXPECT_FALSE(image.WriteTiff(bad.path));
    EXPECT_TRUE(ReadFile(bad.path).empty());
    EXPECT_EQ(Bytes(image), before);

    CImageReference empty(8, 4, 24);
    EXPECT_FALSE(empty.WriteTiff(TempPath("empty.tif")));
#ifdef __linux__
    // The file opens and gets its header, but the strip does not fit: the
    // write fails instead of leaving a truncated picture reported as written.
    FileRemover cut{TempPath("cut.tif")};
    CImageReference big = MakeImage(256, 256);
    {
        FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.Active());
        EXPECT_FALSE(big.WriteTiff(cut.path));
    }
    const auto written = ReadFile(cut.path);
    EXPECT_FALSE(written.empty()) << "the failure was not in the strip";
    EXPECT_LE(written.size(), 4096u);
#endif
}

TEST(WriteTiff, BmpWrittenAfterwardsStillHoldsBottomUpBgrRows) {
    CImageReference image = MakeImage(3, 2, 12, 4);
    const auto camera = Bytes(image);
    FileRemover tiff{TempPath("then.tif")};
    FileRemover bmp{TempPath("then.bmp")};
    ASSERT_TRUE(image.WriteTiff(tiff.path));
    ASSERT_TRUE(image.WriteBmp(bmp.path));
    const auto f = ReadFile(bmp.path);
    ASSERT_EQ(f.size(), 54 + camera.size());
    EXPECT_TRUE(std::equal(camera.begin(), camera.end(), f.begin() + 54))
        << "the TIFF left converted rows behind for the bottom-up BMP header";
}
