// A still that shares the camera's frame and keeps zoom, trim and frame cut
// as maps must deliver exactly the bytes of the straightforward path
// (ReferencePath.h): native DIB rows, memory strips, BMP and TIFF files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kivds/image/ImageReference.h"
#include "unit/image/ReferencePath.h"

using kiv::CImageReference;
using namespace kivtest;

namespace {

// A directory of this run's own under the system's temporary directory, so
// that trees testing side by side never share a file; removed at exit.
class TempDirectory {
public:
    TempDirectory() {
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        std::random_device random;
        for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
            const std::filesystem::path candidate = base / ("kivds_onepass_" + std::to_string(random()));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) m_path = candidate;
        }
    }
    ~TempDirectory() {
        std::error_code error;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, error);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

std::string TempPath(const std::string& name) {
    static TempDirectory directory;
    EXPECT_FALSE(directory.Path().empty()) << "no temporary directory";
    return (directory.Path() / name).string();
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct FileRemover {
    std::string path;
    ~FileRemover() { std::remove(path.c_str()); }
};

// The preview's source rectangle for a digital zoom: the centred 1/factor of
// the frame; at the top edge a trimmed stream loses its first and last line.
Rect ZoomRect(std::int32_t width, std::int32_t height, float factor, bool trim) {
    Rect r;
    r.w = static_cast<std::int32_t>(static_cast<float>(width) / factor);
    r.h = static_cast<std::int32_t>(static_cast<float>(height) / factor);
    r.x = (width - r.w) / 2;
    r.y = (height - r.h) / 2;
    if (r.y == 0 && trim) {
        r.y = 1;
        r.h -= 2;
    }
    return r;
}

enum class FrameKind { Whole, Inside, FullWidth };

Rect ImageFrame(std::int32_t width, std::int32_t height, FrameKind kind) {
    switch (kind) {
        case FrameKind::Whole: return Rect{0, 0, width, height};
        case FrameKind::Inside: return Rect{width / 5, height / 7, width / 2 + 1, height / 3};
        case FrameKind::FullWidth: return Rect{0, height / 9, width, height - height / 9 - 3};
    }
    return Rect{};
}

struct Case {
    std::int32_t width, height;
    bool trim;                     // MJPEG stream: the one-line trim
    float zoom;                    // digital zoom factor
    FrameKind frame;               // the application's image frame
    std::int32_t extraStride = 0;  // frame rows longer than needed (multiple of 4)
};

std::string Describe(const Case& c) {
    static const char* kinds[] = {"whole", "inside", "full-width"};
    return std::to_string(c.width) + "x" + std::to_string(c.height) + (c.trim ? " mjpeg" : " yuy2") + " zoom " +
           std::to_string(c.zoom) + " frame " + kinds[static_cast<int>(c.frame)] + " extra stride " +
           std::to_string(c.extraStride);
}

// The still as GrabStill and the transfer build it: the frame shared, the
// zoom applied when its rectangle leaves (0, 0), the image frame cut.
struct Built {
    std::shared_ptr<const std::vector<std::uint8_t>> frame;
    CImageReference image;
    RefImage expected;
};

void Build(const Case& c, Built& out) {
    const std::int32_t stride = PaddedStride(c.width) + c.extraStride;
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(
        PatternBytes(static_cast<std::size_t>(stride) * c.height, static_cast<std::uint32_t>(c.width + c.height)));
    out.frame = bytes;
    ASSERT_TRUE(out.image.SetFrame(out.frame, c.width, c.height, stride));
    const Rect zoom = ZoomRect(c.width, c.height, c.zoom, c.trim);
    if (zoom.x != 0 || zoom.y != 0) {
        ASSERT_TRUE(out.image.CropAndStretch(zoom.x, zoom.y, zoom.w, zoom.h));
    }
    const Rect frame = ImageFrame(c.width, c.height, c.frame);
    ASSERT_TRUE(out.image.Cut(frame.x, frame.y, frame.w, frame.h));
    out.expected = ReferenceCut(ReferenceStill(*bytes, c.width, c.height, stride, zoom), frame);
    ASSERT_EQ(out.image.Width(), out.expected.width);
    ASSERT_EQ(out.image.Height(), out.expected.height);
    ASSERT_EQ(out.image.BytesPerLine(), out.expected.stride);
    ASSERT_EQ(out.image.Size(), out.expected.bytes.size());
}

// Every mechanism on one built still, against the reference.
void CheckAllMechanisms(const Case& c, bool withFiles) {
    SCOPED_TRACE(Describe(c));
    Built b;
    Build(c, b);
    if (testing::Test::HasFatalFailure()) return;
    const std::vector<std::uint8_t> frameBefore = *b.frame;
    const RefImage& ref = b.expected;

    // Native: the DIB's rows, bottom-up BGR.
    std::vector<std::uint8_t> dib(ref.bytes.size(), 0xEE);
    ASSERT_TRUE(b.image.CopyAll(b.image.Size(), dib.data()));
    EXPECT_TRUE(dib == ref.bytes) << "native rows differ";

    // Memory: strips of whole rows of at most 64 KiB, top-down RGB.
    const auto flipped = ReferenceFlip(ref.bytes, ref.width, ref.height, ref.stride);
    const std::uint32_t perStrip = std::max<std::uint32_t>(1, 65536u / static_cast<std::uint32_t>(ref.stride));
    std::vector<std::uint8_t> strips;
    std::vector<std::uint8_t> strip(static_cast<std::size_t>(perStrip) * ref.stride);
    for (std::uint32_t row = 0; row < static_cast<std::uint32_t>(ref.height); row += perStrip) {
        const std::uint32_t rows = std::min(perStrip, static_cast<std::uint32_t>(ref.height) - row);
        ASSERT_TRUE(b.image.CopyRowsTopDownRgb(row, rows, strip.data()));
        strips.insert(strips.end(), strip.begin(), strip.begin() + static_cast<std::size_t>(rows) * ref.stride);
    }
    EXPECT_TRUE(strips == flipped) << "memory strips differ";

    if (withFiles) {
        FileRemover bmp{TempPath("still.bmp")}, tif{TempPath("still.tif")}, refTif{TempPath("ref.tif")};
        ASSERT_TRUE(b.image.WriteBmp(bmp.path));
        EXPECT_TRUE(ReadFile(bmp.path) == ReferenceBmp(ref)) << "BMP file differs";
        ASSERT_TRUE(b.image.WriteTiff(tif.path));
        ASSERT_TRUE(WriteReferenceTiff(ref, refTif.path));
        const auto tiff = ReadFile(tif.path);
        EXPECT_FALSE(tiff.empty());
        EXPECT_TRUE(tiff == ReadFile(refTif.path)) << "TIFF file differs";
    }

    // None of these copied or changed the camera's frame.
    EXPECT_TRUE(b.image.SharesFrame());
    EXPECT_TRUE(*b.frame == frameBefore) << "the shared frame was written";

    // The whole-image conversion (strips of another width) and Data() build
    // the same picture in a buffer of their own.
    CImageReference copy(b.image);
    EXPECT_TRUE(std::equal(ref.bytes.begin(), ref.bytes.end(), copy.Data())) << "built pixels differ";
    ASSERT_TRUE(b.image.FlipToTopDownRgb());
    EXPECT_FALSE(b.image.SharesFrame());
    std::vector<std::uint8_t> all(flipped.size());
    ASSERT_TRUE(b.image.CopyRange(0, static_cast<std::uint32_t>(all.size()), all.data()));
    EXPECT_TRUE(all == flipped) << "converted image differs";
    EXPECT_TRUE(*b.frame == frameBefore) << "the shared frame was written";
}

}  // namespace

TEST(OnePass, EveryMechanismMatchesTheStepByStepPath) {
    for (auto [w, h] : {std::pair{33, 17}, std::pair{640, 480}, std::pair{641, 479}})
        for (bool trim : {false, true})
            for (float zoom : {1.0f, 2.0f})
                for (FrameKind frame : {FrameKind::Whole, FrameKind::Inside, FrameKind::FullWidth})
                    for (std::int32_t extra : {0, 8}) CheckAllMechanisms(Case{w, h, trim, zoom, frame, extra}, true);
}

TEST(OnePass, OddZoomsAndNarrowImagesMatch) {
    // Zooms whose rectangles have odd sizes, up to the largest factor; images
    // narrower than a vector group.
    for (float zoom : {1.25f, 3.0f, 8.0f})
        for (bool trim : {false, true}) CheckAllMechanisms(Case{641, 479, trim, zoom, FrameKind::Inside}, true);
    CheckAllMechanisms(Case{1, 9, true, 1.0f, FrameKind::Whole}, true);
    for (std::int32_t w : {2, 5, 6, 7})
        for (float zoom : {1.0f, 2.0f}) CheckAllMechanisms(Case{w, 9, true, zoom, FrameKind::Whole}, true);
}

TEST(OnePass, FullHdAndUhdFramesMatch) {
    for (bool trim : {false, true})
        for (float zoom : {1.0f, 2.0f}) CheckAllMechanisms(Case{1920, 1080, trim, zoom, FrameKind::Whole}, true);
    CheckAllMechanisms(Case{3840, 2160, true, 1.0f, FrameKind::Whole}, false);
    CheckAllMechanisms(Case{3840, 2160, false, 2.0f, FrameKind::Whole}, false);
}

TEST(OnePass, ZoomAfterAZoomComposes) {
    // Stretching a stretched image is the stretch of the stretched pixels.
    const std::int32_t w = 64, h = 40, stride = PaddedStride(w);
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(PatternBytes(static_cast<std::size_t>(stride) * h, 9));
    CImageReference image;
    ASSERT_TRUE(image.SetFrame(bytes, w, h, stride));
    ASSERT_TRUE(image.CropAndStretch(0, 1, w, h - 2));
    ASSERT_TRUE(image.CropAndStretch(10, 5, 30, 20));
    const auto once = ReferenceStretch(*bytes, w, h, stride, 0, 1, w, h - 2);
    const auto twice = ReferenceStretch(once, w, h, stride, 10, 5, 30, 20);
    std::vector<std::uint8_t> out(twice.size());
    ASSERT_TRUE(image.CopyAll(image.Size(), out.data()));
    EXPECT_TRUE(out == twice);
}

TEST(OnePass, CutRefusesRectanglesOutsideThePicture) {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(PatternBytes(24 * 5, 3));
    CImageReference image;
    ASSERT_TRUE(image.SetFrame(bytes, 8, 5, 24));
    for (Rect r : {Rect{0, 0, 0, 5}, Rect{0, 0, 8, 0}, Rect{-1, 0, 4, 4}, Rect{0, -1, 4, 4}, Rect{5, 0, 4, 5},
                   Rect{0, 2, 8, 4}}) {
        EXPECT_FALSE(image.Cut(r.x, r.y, r.w, r.h)) << r.x << "," << r.y << " " << r.w << "x" << r.h;
        EXPECT_EQ(image.Width(), 8);
        EXPECT_EQ(image.Height(), 5);
    }
    // A frame that is too short for its geometry is refused as well.
    CImageReference shortFrame;
    ASSERT_TRUE(shortFrame.SetFrame(bytes, 8, 6, 24));
    EXPECT_FALSE(shortFrame.Cut(0, 0, 4, 4));
    EXPECT_FALSE(shortFrame.CropAndStretch(0, 1, 8, 4));
    std::vector<std::uint8_t> rows(24 * 6);
    EXPECT_FALSE(shortFrame.CopyRowsTopDownRgb(0, 6, rows.data()));
    EXPECT_FALSE(image.SetFrame(nullptr, 8, 5, 24));
    EXPECT_FALSE(image.SetFrame(std::make_shared<std::vector<std::uint8_t>>(), 8, 5, 24));
}
