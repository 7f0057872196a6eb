// Every vector variant the machine supports must give the portable bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "kivds/image/PixelKernels.h"
#include "unit/image/ImageTestUtil.h"

using namespace kiv::pixel;

namespace {

std::vector<const Kernels*> SupportedVectorKernels() {
    std::vector<const Kernels*> out;
    const auto& all = AllKernels();
    for (std::size_t i = 0; i + 1 < all.size(); ++i)
        if (all[i].supported()) out.push_back(&all[i]);
    return out;
}

const Kernels& Portable() { return AllKernels().back(); }

}  // namespace

TEST(PixelKernels, PortableIsLastAndBestIsSupported) {
    ASSERT_FALSE(AllKernels().empty());
    EXPECT_STREQ(Portable().name, "portable");
    EXPECT_TRUE(BestKernels().supported());
    std::printf("pixel kernels in use: %s\n", BestKernels().name);
}

TEST(PixelKernels, SwapRowVariantsMatchPortable) {
    const auto variants = SupportedVectorKernels();
    if (variants.empty()) GTEST_SKIP() << "no vector variant on this machine";
    for (std::size_t pixels = 0; pixels <= 80; ++pixels) {
        // Guard bytes after the row must survive.
        const auto src = kivtest::PatternBytes(pixels * 3 + 40, static_cast<std::uint32_t>(pixels));
        std::vector<std::uint8_t> expected(pixels * 3 + 40, 0x5A);
        Portable().swapRow(src.data(), expected.data(), pixels);
        for (const Kernels* k : variants) {
            SCOPED_TRACE(testing::Message() << k->name << " pixels " << pixels);
            std::vector<std::uint8_t> out(pixels * 3 + 40, 0x5A);
            k->swapRow(src.data(), out.data(), pixels);
            EXPECT_EQ(out, expected);
        }
    }
}

TEST(PixelKernels, StretchRowVariantsMatchPortable) {
    const auto variants = SupportedVectorKernels();
    if (variants.empty()) GTEST_SKIP() << "no vector variant on this machine";
    struct Case {
        std::int32_t x, w, width;
    };
    const Case cases[] = {{0, 1, 6},    {0, 5, 6},   {1, 5, 6},   {0, 10, 11},     {3, 40, 50}, {0, 80, 100},
                          {10, 12, 96}, {0, 63, 64}, {5, 59, 64}, {100, 541, 641}, {0, 1, 641}, {600, 41, 641}};
    for (const Case& c : cases) {
        const std::size_t width = static_cast<std::size_t>(c.width);
        const auto src = kivtest::PatternBytes(width * 3 + 16, static_cast<std::uint32_t>(c.x + c.w));
        StretchColumns portablePlan, vectorPlan;
        ASSERT_TRUE(BuildStretchColumns(c.x, c.w, c.width, false, portablePlan));
        ASSERT_TRUE(BuildStretchColumns(c.x, c.w, c.width, true, vectorPlan));
        std::vector<std::uint8_t> expected(width * 3 + 8, 0x5A);
        Portable().stretchRow(src.data(), src.size(), portablePlan, expected.data());
        // Source rows that end right after their pixels: the vector path must
        // not read past them (and gives the same bytes with less to read).
        const std::size_t tight = static_cast<std::size_t>(c.x + c.w) * 3;
        for (const Kernels* k : variants)
            for (std::size_t available : {src.size(), tight}) {
                SCOPED_TRACE(testing::Message() << k->name << " x " << c.x << " w " << c.w << " width " << c.width
                                                << " available " << available);
                std::vector<std::uint8_t> copy(src.begin(), src.begin() + available);
                std::vector<std::uint8_t> out(width * 3 + 8, 0x5A);
                k->stretchRow(copy.data(), copy.size(), vectorPlan, out.data());
                EXPECT_EQ(out, expected);
            }
    }
}

TEST(PixelKernels, StretchPlanRejectsBadColumns) {
    StretchColumns plan;
    EXPECT_FALSE(BuildStretchColumns(0, 0, 10, true, plan));
    EXPECT_FALSE(BuildStretchColumns(0, 11, 10, true, plan));
    EXPECT_FALSE(BuildStretchColumns(-1, 5, 10, true, plan));
    EXPECT_FALSE(BuildStretchColumns(0, 5, 0, true, plan));
}

// Column maps given as offsets (a zoom composed with a cut): the vector
// variants give the portable bytes, also with red and blue exchanged.
TEST(PixelKernels, OffsetPlansWithAndWithoutSwapMatchPortable) {
    const auto variants = SupportedVectorKernels();
    const auto src = kivtest::PatternBytes(641 * 3 + 16, 77);
    // Columns 100 .. 400 of a 641-wide zoom 1.25 from x = 64, and an odd run.
    std::vector<std::uint32_t> zoomCut;
    for (std::int64_t dx = 100; dx < 400; ++dx)
        zoomCut.push_back(static_cast<std::uint32_t>((64 + dx * 512 / 641) * 3));
    std::vector<std::uint32_t> run;
    for (std::uint32_t x = 7; x < 47; ++x) run.push_back(x * 3);
    for (bool swap : {false, true})
        for (const auto* offsets : {&zoomCut, &run}) {
            const std::size_t width = offsets->size();
            std::vector<std::uint8_t> expected(width * 3);
            for (std::size_t dx = 0; dx < width; ++dx)
                for (int c = 0; c < 3; ++c) expected[dx * 3 + c] = src[(*offsets)[dx] + (swap ? 2 - c : c)];
            StretchColumns portablePlan, vectorPlan;
            ASSERT_TRUE(BuildStretchColumns(*offsets, false, swap, portablePlan));
            ASSERT_TRUE(BuildStretchColumns(*offsets, true, swap, vectorPlan));
            EXPECT_GT(vectorPlan.groups, 0u);
            std::vector<std::uint8_t> out(width * 3);
            Portable().stretchRow(src.data(), src.size(), portablePlan, out.data());
            EXPECT_EQ(out, expected) << "portable, swap " << swap;
            for (const Kernels* k : variants) {
                std::fill(out.begin(), out.end(), 0);
                k->stretchRow(src.data(), src.size(), vectorPlan, out.data());
                EXPECT_EQ(out, expected) << k->name << ", swap " << swap;
            }
        }
}

// Offsets the 16-byte groups cannot serve (falling, or spread wider than a
// vector) leave every pixel to the portable path, with the right bytes.
TEST(PixelKernels, OffsetPlansOutsideTheVectorRulesFallBack) {
    const auto src = kivtest::PatternBytes(300, 5);
    const std::vector<std::vector<std::uint32_t>> cases = {{30, 27, 24, 21, 18, 15, 12, 9, 6, 3, 0},  // falling
                                                           {0, 9, 18, 27, 36, 45, 54, 63, 72, 81, 90,
                                                            99}};  // every third pixel
    for (const auto& offsets : cases) {
        StretchColumns plan;
        ASSERT_TRUE(BuildStretchColumns(offsets, true, false, plan));
        EXPECT_EQ(plan.groups, 0u);
        std::vector<std::uint8_t> out(offsets.size() * 3);
        BestKernels().stretchRow(src.data(), src.size(), plan, out.data());
        for (std::size_t dx = 0; dx < offsets.size(); ++dx)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(out[dx * 3 + c], src[offsets[dx] + c]) << dx;
    }
    StretchColumns empty;
    EXPECT_FALSE(BuildStretchColumns(std::vector<std::uint32_t>{}, true, false, empty));
}
