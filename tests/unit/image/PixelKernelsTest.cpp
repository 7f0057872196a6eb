// Every vector variant the machine supports must give the portable bytes.
#include <gtest/gtest.h>

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
    struct Case { std::int32_t x, w, width; };
    const Case cases[] = {{0, 1, 6},    {0, 5, 6},     {1, 5, 6},     {0, 10, 11},  {3, 40, 50},
                          {0, 80, 100}, {10, 12, 96},  {0, 63, 64},   {5, 59, 64},  {100, 541, 641},
                          {0, 1, 641},  {600, 41, 641}};
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
