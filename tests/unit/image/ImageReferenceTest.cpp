#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "kivds/image/ImageReference.h"
#include "kivds/image/PixelBuffer.h"
#include "unit/image/ImageTestUtil.h"

using kiv::CImageReference;
using namespace kivtest;

TEST(ImageReferenceData, SetDataRejectsEmptyInputAndKeepsThePreviousBuffer) {
    CImageReference image = MakeImage(3, 2);
    const auto before = Bytes(image);
    const std::uint8_t one = 7;
    EXPECT_FALSE(image.SetData(0, &one));
    EXPECT_FALSE(image.SetData(1, nullptr));
    EXPECT_EQ(Bytes(image), before);

    const std::vector<std::uint8_t> shorter = {1, 2, 3};
    ASSERT_TRUE(image.SetData(3, shorter.data()));
    EXPECT_EQ(image.Size(), 3u);
    EXPECT_EQ(Bytes(image), shorter);
}

TEST(ImageReferenceData, CopyAllNeedsTheExactSize) {
    CImageReference image = MakeImage(5, 3);
    const auto bytes = Bytes(image);
    std::vector<std::uint8_t> out(bytes.size() + 1, 0xEE);

    EXPECT_FALSE(image.CopyAll(image.Size() - 1, out.data()));
    EXPECT_FALSE(image.CopyAll(image.Size() + 1, out.data()));
    EXPECT_FALSE(image.CopyAll(image.Size(), nullptr));
    EXPECT_EQ(out, std::vector<std::uint8_t>(bytes.size() + 1, 0xEE)) << "a refused copy wrote";

    ASSERT_TRUE(image.CopyAll(image.Size(), out.data()));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), out.begin()));
    EXPECT_EQ(out.back(), 0xEE) << "wrote past Size()";

    CImageReference empty;
    std::uint8_t dummy = 0;
    EXPECT_FALSE(empty.CopyAll(0, &dummy));
}

TEST(ImageReferenceData, CopyRangeBoundsWithoutWrapAround) {
    CImageReference image = MakeImage(4, 4);
    const auto bytes = Bytes(image);
    const std::uint32_t size = image.Size();
    std::vector<std::uint8_t> out(size, 0);

    ASSERT_TRUE(image.CopyRange(size - 10, 10, out.data()));
    EXPECT_TRUE(std::equal(bytes.end() - 10, bytes.end(), out.begin()));
    EXPECT_FALSE(image.CopyRange(size - 10, 11, out.data()));
    EXPECT_FALSE(image.CopyRange(0, size + 1, out.data()));
    // offset + length wraps to a small value in 32 bits.
    const std::uint32_t huge = std::numeric_limits<std::uint32_t>::max() - 3;
    EXPECT_FALSE(image.CopyRange(huge, 8, out.data()));
    EXPECT_FALSE(image.CopyRange(8, huge, out.data()));
    EXPECT_FALSE(image.CopyRange(0, 1, nullptr));

    // Whole image served in strips that do not divide it evenly.
    std::vector<std::uint8_t> strips(size, 0);
    for (std::uint32_t offset = 0; offset < size; offset += 7) {
        const std::uint32_t n = std::min<std::uint32_t>(7, size - offset);
        ASSERT_TRUE(image.CopyRange(offset, n, strips.data() + offset));
    }
    EXPECT_EQ(strips, bytes);
}

TEST(ImageReferenceData, CopiesAreDeepAndIndependent) {
    CImageReference original = MakeImage(6, 5, 0, 3);
    const auto bytes = Bytes(original);

    CImageReference copy(original);
    ASSERT_NE(copy.Info(), original.Info());
    ASSERT_NE(copy.Data(), original.Data());
    EXPECT_EQ(copy.Width(), 6);
    EXPECT_EQ(copy.Height(), 5);
    EXPECT_EQ(copy.BytesPerLine(), PaddedStride(6));
    EXPECT_EQ(Bytes(copy), bytes);

    ASSERT_TRUE(copy.FlipToTopDownRgb());
    copy.SetInfo(1, 1, 4);
    EXPECT_EQ(Bytes(original), bytes);
    EXPECT_EQ(original.Width(), 6);

    CImageReference assigned = MakeImage(2, 2);
    assigned = original;
    EXPECT_EQ(Bytes(assigned), bytes);
    EXPECT_EQ(assigned.Height(), 5);
    const CImageReference& alias = assigned;
    assigned = alias;
    EXPECT_EQ(Bytes(assigned), bytes);

    CImageReference moved(std::move(assigned));
    EXPECT_EQ(Bytes(moved), bytes);
    EXPECT_EQ(assigned.Size(), 0u) << "a moved-from image still claims bytes";
    std::vector<std::uint8_t> out(bytes.size());
    EXPECT_FALSE(assigned.CopyAll(0, out.data()));

    CImageReference empty;
    moved = empty;
    EXPECT_FALSE(moved.HasData());
    EXPECT_EQ(moved.Info(), nullptr);
    EXPECT_EQ(moved.Size(), 0u);
}

TEST(ImageReferenceFlip, TwoByTwoWithPaddedRows) {
    // Bottom row first: B G R per pixel, then two padding bytes.
    const std::vector<std::uint8_t> bottomUp = {
        1, 2, 3, 4,  5,  6,  0xA1, 0xA2,  // bottom row
        7, 8, 9, 10, 11, 12, 0xB1, 0xB2,  // top row
    };
    CImageReference image(2, 2, 8);
    ASSERT_TRUE(image.SetData(16, bottomUp.data()));
    ASSERT_TRUE(image.FlipToTopDownRgb());
    const std::vector<std::uint8_t> expected = {
        9, 8, 7, 12, 11, 10, 0xB1, 0xB2,  // top row first, R G B
        3, 2, 1, 6,  5,  4,  0xA1, 0xA2,
    };
    EXPECT_EQ(Bytes(image), expected);
    EXPECT_EQ(image.Size(), 16u);
}

TEST(ImageReferenceFlip, MatchesReferenceForManyShapes) {
    struct Shape {
        std::int32_t w, h, stride;
        std::size_t extra;
    };
    const Shape shapes[] = {{1, 1, 4, 0},    {5, 3, 16, 0},     {7, 9, 21, 0},  {33, 4, 100, 0},
                            {64, 2, 192, 0}, {641, 3, 1924, 0}, {17, 5, 52, 3}, {100, 7, 300, 6}};
    for (const Shape& s : shapes) {
        SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " stride " << s.stride << " extra " << s.extra);
        CImageReference image = MakeImage(s.w, s.h, s.stride, s.w, s.extra);
        const auto before = Bytes(image);
        ASSERT_TRUE(image.FlipToTopDownRgb());
        EXPECT_EQ(image.Size(), before.size());
        EXPECT_EQ(Bytes(image), ReferenceFlip(before, s.w, s.h, s.stride));
        // Every byte stays readable through CopyAll, including those after the last row.
        std::vector<std::uint8_t> out(image.Size());
        EXPECT_TRUE(image.CopyAll(image.Size(), out.data()));
    }
}

TEST(ImageReferenceFlip, RowsServedTopDownEqualFlipThenCopyRange) {
    struct Shape {
        std::int32_t w, h, stride;
    };
    const Shape shapes[] = {{1, 1, 4}, {5, 3, 16}, {7, 9, 21}, {641, 3, 1924}, {100, 7, 300}};
    for (const Shape& s : shapes) {
        SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " stride " << s.stride);
        const CImageReference image = MakeImage(s.w, s.h, s.stride, 3u * s.w);
        CImageReference flipped = image;
        ASSERT_TRUE(flipped.FlipToTopDownRgb());
        // Every split of the rows into two strips gives the flipped bytes.
        for (std::int32_t first = 0; first <= s.h; ++first) {
            const auto stride = static_cast<std::size_t>(s.stride);
            std::vector<std::uint8_t> strips(stride * s.h, 0xAB), want(stride * s.h, 0xCD);
            ASSERT_TRUE(image.CopyRowsTopDownRgb(0, first, strips.data()));
            ASSERT_TRUE(image.CopyRowsTopDownRgb(first, s.h - first, strips.data() + first * stride));
            ASSERT_TRUE(flipped.CopyRange(0, static_cast<std::uint32_t>(want.size()), want.data()));
            EXPECT_EQ(want, strips);
        }
        std::vector<std::uint8_t> sink(static_cast<std::size_t>(s.stride) * (s.h + 1));
        EXPECT_FALSE(image.CopyRowsTopDownRgb(1, s.h, sink.data()));
        EXPECT_FALSE(image.CopyRowsTopDownRgb(0xFFFFFFFFu, 2, sink.data()));
        EXPECT_FALSE(image.CopyRowsTopDownRgb(0, 1, nullptr));
    }
}

TEST(ImageReferenceFlip, PackedRowsDropThePaddingAndGrayIsEachPixelsLuma) {
    // A zoomed and cut still, as a scan reads it: rows in any split.
    CImageReference image = MakeImage(13, 9, 40, 7);
    ASSERT_TRUE(image.CropAndStretch(2, 1, 8, 6));
    ASSERT_TRUE(image.Cut(1, 2, 11, 5));
    const std::size_t stride = static_cast<std::size_t>(image.BytesPerLine()), row = 11 * 3;
    std::vector<std::uint8_t> padded(stride * 5);
    ASSERT_TRUE(image.CopyRowsTopDownRgb(0, 5, padded.data()));
    std::vector<std::uint8_t> wantRgb, wantGray;
    for (std::size_t y = 0; y < 5; ++y)
        for (std::size_t x = 0; x < row; x += 3) {
            const std::uint8_t* p = &padded[y * stride + x];
            wantRgb.insert(wantRgb.end(), p, p + 3);
            wantGray.push_back(static_cast<std::uint8_t>((77 * p[0] + 150 * p[1] + 29 * p[2] + 128) >> 8));
        }
    for (std::uint32_t first = 0; first <= 5; ++first) {
        std::vector<std::uint8_t> rgb(row * 5, 0xAB), gray(11 * 5, 0xAB);
        ASSERT_TRUE(image.CopyRowsTopDownPacked(0, first, false, rgb.data()));
        ASSERT_TRUE(image.CopyRowsTopDownPacked(first, 5 - first, false, rgb.data() + first * row));
        ASSERT_TRUE(image.CopyRowsTopDownPacked(0, first, true, gray.data()));
        ASSERT_TRUE(image.CopyRowsTopDownPacked(first, 5 - first, true, gray.data() + first * 11));
        EXPECT_EQ(rgb, wantRgb) << first;
        EXPECT_EQ(gray, wantGray) << first;
    }
    std::vector<std::uint8_t> sink(row * 6);
    EXPECT_FALSE(image.CopyRowsTopDownPacked(1, 5, false, sink.data()));
    EXPECT_FALSE(image.CopyRowsTopDownPacked(0xFFFFFFFFu, 2, true, sink.data()));
    EXPECT_FALSE(image.CopyRowsTopDownPacked(0, 1, true, nullptr));
}

TEST(ImageReferenceFlip, RefusesGeometryThatDoesNotDescribeTheBuffer) {
    struct Bad {
        std::int32_t w, h, stride;
    };
    // Buffer of 4 rows of 16 bytes (5 pixels wide, padded).
    const Bad bad[] = {{5, 5, 16}, {6, 4, 16}, {5, 4, -16}, {0, 4, 16}, {5, 0, 16}, {5, -4, 16}};
    for (const Bad& b : bad) {
        SCOPED_TRACE(testing::Message() << b.w << "x" << b.h << " stride " << b.stride);
        CImageReference image = MakeImage(5, 4, 16);
        const auto before = Bytes(image);
        image.SetInfo(b.w, b.h, b.stride);
        EXPECT_FALSE(image.FlipToTopDownRgb());
        EXPECT_EQ(Bytes(image), before);
    }
    CImageReference noInfo;
    const std::uint8_t px[3] = {1, 2, 3};
    noInfo.SetData(3, px);
    EXPECT_FALSE(noInfo.FlipToTopDownRgb());
    CImageReference noData(1, 1, 4);
    EXPECT_FALSE(noData.FlipToTopDownRgb());
}

TEST(ImageReferenceStretch, InvalidRectanglesChangeNothing) {
    struct Rect {
        std::int32_t x, y, w, h;
    };
    const Rect bad[] = {{0, 0, 0, 4},
                        {0, 0, 4, 0},
                        {0, 0, 11, 4},
                        {0, 0, 4, 9},
                        {-1, 0, 4, 4},
                        {0, -1, 4, 4},
                        {7, 0, 4, 4},
                        {0, 5, 4, 4},
                        {0, 0, -4, 4},
                        {0, 0, 4, -4},
                        {std::numeric_limits<std::int32_t>::max(), 0, 4, 4}};
    for (const Rect& r : bad) {
        SCOPED_TRACE(testing::Message() << r.x << "," << r.y << " " << r.w << "x" << r.h);
        CImageReference image = MakeImage(10, 8);
        const auto before = Bytes(image);
        EXPECT_FALSE(image.CropAndStretch(r.x, r.y, r.w, r.h));
        EXPECT_EQ(Bytes(image), before);
    }
    CImageReference noData(10, 8, 32);
    EXPECT_FALSE(noData.CropAndStretch(0, 0, 5, 4));
}

TEST(ImageReferenceStretch, WholeRectangleKeepsThePicture) {
    CImageReference image = MakeImage(13, 7, 0, 9, 2);
    const auto before = Bytes(image);
    ASSERT_TRUE(image.CropAndStretch(0, 0, 13, 7));
    EXPECT_EQ(Bytes(image), before);
}

TEST(ImageReferenceStretch, UsesPictureCoordinatesOfABottomUpBuffer) {
    // 4 x 2 picture; crop its top-left 2 x 1 pixels and enlarge them.
    const std::int32_t stride = 12;
    std::vector<std::uint8_t> bytes(stride * 2);
    for (std::int32_t py = 0; py < 2; ++py)
        for (std::int32_t px = 0; px < 4; ++px)
            for (int c = 0; c < 3; ++c)
                bytes[BottomUpOffset(px, py, 2, stride) + c] = static_cast<std::uint8_t>(py * 100 + px * 10 + c);
    CImageReference image(4, 2, stride);
    ASSERT_TRUE(image.SetData(static_cast<std::uint32_t>(bytes.size()), bytes.data()));
    ASSERT_TRUE(image.CropAndStretch(0, 0, 2, 1));
    const auto after = Bytes(image);
    // Every picture row now shows top row pixels 0,0,1,1.
    for (std::int32_t py = 0; py < 2; ++py)
        for (std::int32_t px = 0; px < 4; ++px)
            EXPECT_EQ(after[BottomUpOffset(px, py, 2, stride)], (px / 2) * 10) << px << "," << py;

    // And the bottom-right pixel stretched over everything.
    CImageReference again(4, 2, stride);
    ASSERT_TRUE(again.SetData(static_cast<std::uint32_t>(bytes.size()), bytes.data()));
    ASSERT_TRUE(again.CropAndStretch(3, 1, 1, 1));
    const auto single = Bytes(again);
    for (std::size_t i = 0; i < single.size(); i += 3) {
        EXPECT_EQ(single[i], 130);
        EXPECT_EQ(single[i + 2], 132);
    }
}

TEST(ImageReferenceStretch, MatchesReferenceAtManyZoomsAndKeepsPadding) {
    struct Case {
        std::int32_t width, height;
        std::int32_t x, y, w, h;
        std::size_t extra;
    };
    const Case cases[] = {
        {40, 30, 4, 3, 32, 24, 0},                             // 1.25
        {40, 30, 35, 26, 5, 4, 0},                             // 8, bottom-right corner
        {41, 17, 0, 0, 40, 17, 0},                             // one column short, odd width, padded rows
        {41, 17, 1, 2, 41 - 1, 10, 0}, {7, 5, 2, 1, 3, 2, 0},  // narrower than a vector group
        {6, 3, 0, 0, 5, 3, 0},                                 // exactly one group
        {97, 13, 11, 5, 77, 8, 5},                             // bytes after the last row
        {640, 4, 64, 0, 512, 4, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " rect " << c.x << "," << c.y << " " << c.w
                                        << "x" << c.h);
        const std::int32_t stride = PaddedStride(c.width);
        CImageReference image = MakeImage(c.width, c.height, stride, c.width * 7 + c.x, c.extra);
        const auto before = Bytes(image);
        ASSERT_TRUE(image.CropAndStretch(c.x, c.y, c.w, c.h));
        EXPECT_EQ(Bytes(image), ReferenceStretch(before, c.width, c.height, stride, c.x, c.y, c.w, c.h));
    }
}

TEST(PixelPool, StillsReuseTheirBuffersInSteadyState) {
    kiv::TrimPixelPool();
    const std::int32_t w = 320, h = 240;
    const auto frame = PatternBytes(static_cast<std::size_t>(PaddedStride(w)) * h);
    auto capture = [&] {
        CImageReference image(w, h, PaddedStride(w));
        ASSERT_TRUE(image.SetData(static_cast<std::uint32_t>(frame.size()), frame.data()));
        ASSERT_TRUE(image.CropAndStretch(10, 10, 200, 150));
        ASSERT_TRUE(image.FlipToTopDownRgb());
    };
    capture();  // warm-up fills the pool
    const auto warm = kiv::GetPixelPoolStats();
    for (int i = 0; i < 5; ++i) capture();
    const auto steady = kiv::GetPixelPoolStats();
    EXPECT_EQ(steady.allocations, warm.allocations) << "a still in steady state allocated new pixel memory";
    // Two blocks per still: the copy and the conversion (the crop is a map
    // applied by the conversion and takes no buffer of its own).
    EXPECT_GE(steady.reuses - warm.reuses, 10u);

    kiv::TrimPixelPool();
    EXPECT_EQ(kiv::GetPixelPoolStats().freeBlocks, 0u);
    EXPECT_EQ(kiv::GetPixelPoolStats().freeBytes, 0u);
}

// Buffers go back to the pool from destructors, which must not throw: the
// free list keeps room for every block it may take, also after a trim (the
// data source trims at MSG_CLOSEDS and keeps working afterwards).
TEST(PixelPool, ReturningBlocksNeverNeedsMemoryAfterATrim) {
    for (int round = 0; round < 2; ++round) {
        kiv::TrimPixelPool();
        EXPECT_GE(kiv::GetPixelPoolStats().reservedSlots, 5u) << "round " << round;
        {
            std::vector<kiv::PixelBuffer> held;
            for (int i = 0; i < 5; ++i) held.push_back(kiv::PixelBuffer::Acquire(std::size_t{1} << 20));
        }
        EXPECT_GE(kiv::GetPixelPoolStats().reservedSlots, 5u) << "round " << round;
    }
    kiv::TrimPixelPool();
}

TEST(PixelPool, KeepsOnlyBoundedMemory) {
    kiv::TrimPixelPool();
    {
        std::vector<kiv::PixelBuffer> many;
        for (int i = 0; i < 10; ++i) many.push_back(kiv::PixelBuffer::Acquire(std::size_t{8} << 20));
    }
    const auto stats = kiv::GetPixelPoolStats();
    EXPECT_LE(stats.freeBlocks, 4u);
    EXPECT_LE(stats.freeBytes, std::size_t{64} << 20);
    EXPECT_GT(stats.freeBlocks, 0u);
    // A small request does not take a large block.
    kiv::PixelBuffer small = kiv::PixelBuffer::Acquire(1000);
    ASSERT_TRUE(small);
    EXPECT_EQ(kiv::GetPixelPoolStats().freeBlocks, stats.freeBlocks);
    kiv::TrimPixelPool();
}
