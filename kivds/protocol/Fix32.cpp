#include "kivds/protocol/Fix32.h"

#include <algorithm>
#include <cmath>

namespace kiv {

namespace {
constexpr double kOne = 65536.0;
constexpr std::int64_t kMinFixed = std::int64_t{-32768} * 65536;
constexpr std::int64_t kMaxFixed = std::int64_t{32767} * 65536;
}  // namespace

twain::TW_FIX32 PixelsToFix32(std::int32_t value) {
    const double scaled = static_cast<double>(static_cast<float>(value)) * kOne;
    const double rounded = scaled < 0 ? scaled - 0.5 : scaled + 0.5;
    const std::int64_t f = std::clamp(static_cast<std::int64_t>(std::trunc(rounded)), kMinFixed, kMaxFixed);
    twain::TW_FIX32 out;
    // Whole is the arithmetic high half: floor(f / 65536), which for the
    // clamped range is exactly what the shift of a two's complement value gives.
    const std::int64_t whole = (f - (f & 0xFFFF)) / 65536;
    out.Whole = static_cast<twain::TW_INT16>(whole);
    out.Frac = static_cast<twain::TW_UINT16>(f & 0xFFFF);
    return out;
}

std::int32_t Fix32ToPixels(const twain::TW_FIX32& value) {
    const std::int32_t fixed = static_cast<std::int32_t>(value.Whole) * 65536 + static_cast<std::int32_t>(value.Frac);
    return fixed / 65536;  // integer division truncates toward zero
}

}  // namespace kiv
