#include "kivds/protocol/Fix32.h"

#include <cmath>

namespace kiv {

twain::TW_FIX32 PixelsToFix32(std::int32_t value) {
    const double scaled = static_cast<double>(static_cast<float>(value)) * 65536.0 + 0.5;
    const std::int64_t f = static_cast<std::int64_t>(std::trunc(scaled));
    twain::TW_FIX32 out;
    out.Whole = static_cast<twain::TW_INT16>(static_cast<std::uint16_t>((f >> 16) & 0xFFFF));
    out.Frac = static_cast<twain::TW_UINT16>(f & 0xFFFF);
    return out;
}

std::int32_t Fix32ToPixels(const twain::TW_FIX32& value) {
    const float real = static_cast<float>(value.Whole) + static_cast<float>(value.Frac) / 65536.0f;
    // |Whole| < 32768, so the float always fits a 32-bit integer.
    return static_cast<std::int32_t>(real);
}

}  // namespace kiv
