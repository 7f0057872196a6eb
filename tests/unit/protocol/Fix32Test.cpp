// Pixels to TW_FIX32 and back: whole numbers of either sign round-trip,
// fractions from an application truncate toward zero, and nothing wraps.
#include <gtest/gtest.h>

#include "kivds/protocol/Fix32.h"

using kiv::Fix32ToPixels;
using kiv::PixelsToFix32;

namespace {

twain::TW_FIX32 Fix(int whole, unsigned frac) {
    twain::TW_FIX32 f;
    f.Whole = static_cast<twain::TW_INT16>(whole);
    f.Frac = static_cast<twain::TW_UINT16>(frac);
    return f;
}

TEST(Fix32, WholeNumbersOfEitherSignHaveNoFraction) {
    const struct {
        int pixels;
        int whole;
    } cases[] = {{0, 0}, {1, 1}, {640, 640}, {-1, -1}, {-2, -2}, {-640, -640}, {32767, 32767}, {-32768, -32768}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pixels);
        const twain::TW_FIX32 f = PixelsToFix32(c.pixels);
        EXPECT_EQ(c.whole, +f.Whole);
        EXPECT_EQ(0u, +f.Frac);
    }
}

TEST(Fix32, EveryRepresentablePixelRoundTrips) {
    // A negative frame used to drift by one toward zero on every GET/SET.
    for (int v = -32768; v <= 32767; ++v) {
        ASSERT_EQ(v, Fix32ToPixels(PixelsToFix32(v))) << v;
        ASSERT_EQ(v, Fix32ToPixels(PixelsToFix32(Fix32ToPixels(PixelsToFix32(v))))) << v;
    }
}

TEST(Fix32, OutOfRangePixelsClampInsteadOfWrapping) {
    EXPECT_EQ(32767, +PixelsToFix32(40000).Whole);  // wrapped to -25536 before
    EXPECT_EQ(0u, +PixelsToFix32(40000).Frac);
    EXPECT_EQ(32767, +PixelsToFix32(INT32_MAX).Whole);
    EXPECT_EQ(-32768, +PixelsToFix32(-40000).Whole);
    EXPECT_EQ(-32768, +PixelsToFix32(INT32_MIN).Whole);
    EXPECT_EQ(0u, +PixelsToFix32(INT32_MIN).Frac);
}

TEST(Fix32, FractionsFromTheApplicationTruncateTowardZero) {
    EXPECT_EQ(10, Fix32ToPixels(Fix(10, 0x8000)));  // 10.5
    EXPECT_EQ(10, Fix32ToPixels(Fix(10, 0xFFFF)));  // 10.99998
    EXPECT_EQ(-1, Fix32ToPixels(Fix(-2, 0x8000)));  // -1.5
    EXPECT_EQ(0, Fix32ToPixels(Fix(-1, 0x0001)));   // -0.99998
    EXPECT_EQ(-1, Fix32ToPixels(Fix(-1, 0)));
    // Exact also where single precision is not: 30000.99998 is not 30001.
    EXPECT_EQ(30000, Fix32ToPixels(Fix(30000, 0xFFFF)));
    EXPECT_EQ(-30000, Fix32ToPixels(Fix(-30001, 0x0001)));
    EXPECT_EQ(32767, Fix32ToPixels(Fix(32767, 0xFFFF)));
    EXPECT_EQ(-32768, Fix32ToPixels(Fix(-32768, 0)));
}

}  // namespace
