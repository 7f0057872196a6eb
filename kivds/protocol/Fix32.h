// Conversions between whole camera pixels and TWAIN's TW_FIX32.
#pragma once

#include <cstdint>

#include "kivds/protocol/Twain.h"

namespace kiv {

// f = truncate(v * 65536.0 + 0.5), computed in double precision from v as a
// float; Whole = f >> 16 (arithmetic), Frac = the low 16 bits.
twain::TW_FIX32 PixelsToFix32(std::int32_t value);

// Whole + Frac / 65536 in single precision, truncated toward zero. Values
// outside the 32-bit range saturate instead of overflowing.
std::int32_t Fix32ToPixels(const twain::TW_FIX32& value);

}  // namespace kiv
