// The virtual camera's test pattern: picture pixel (x, y), y = 0 the top row.
#pragma once

#include <cstdint>

namespace kivtest {

struct Rgb {
    std::uint8_t r, g, b;
};

inline Rgb SimPixel(int x, int y) {
    return Rgb{static_cast<std::uint8_t>(x % 256), static_cast<std::uint8_t>(y % 256),
               static_cast<std::uint8_t>((16 * (x / 256) + (y / 256)) % 256)};
}

}  // namespace kivtest
