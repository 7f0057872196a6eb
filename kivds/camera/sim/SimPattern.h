// The virtual camera's picture: pixel (x, y), y = 0 the top row, has
// R = x mod 256, G = y mod 256, B = (16 * (x div 256) + (y div 256)) mod 256,
// laid out as an RGB24 sample: bottom-up rows of blue, green, red, each row
// padded with zeros to a multiple of 4 bytes. The camera's brightness moves
// every value by `shift`, clamped to 0 ... 255.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "kivds/image/Bgr24.h"

namespace kiv {
namespace sim {

std::shared_ptr<const std::vector<std::uint8_t>> MakePattern(std::int32_t width, std::int32_t height, int shift = 0);

struct PatternPixel {
    std::uint8_t r, g, b;
};
// The colour of picture pixel (x, y).
PatternPixel PatternAt(std::int32_t x, std::int32_t y);

}  // namespace sim
}  // namespace kiv
