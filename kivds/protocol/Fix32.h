// Conversions between whole camera pixels and TWAIN's TW_FIX32.
#pragma once

#include <cstdint>

#include "kivds/protocol/Twain.h"

namespace kiv {

// The pixel value as a TW_FIX32: v * 65536 rounded half away from zero (so a
// negative whole number keeps Frac 0: -1 is Whole -1, Frac 0, not -0.99998),
// Whole = the high 16 bits (arithmetic), Frac = the low 16 bits. Values
// outside the 16-bit whole range are clamped to -32768 and 32767, never
// wrapped.
twain::TW_FIX32 PixelsToFix32(std::int32_t value);

// Whole + Frac / 65536 truncated toward zero, computed exactly in integers:
// every value an application can send converts back to the pixel it names,
// and a value made by PixelsToFix32 round-trips unchanged.
std::int32_t Fix32ToPixels(const twain::TW_FIX32& value);

}  // namespace kiv
