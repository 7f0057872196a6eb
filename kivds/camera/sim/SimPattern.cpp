#include "kivds/camera/sim/SimPattern.h"

#include <algorithm>

namespace kiv {
namespace sim {

PatternPixel PatternAt(std::int32_t x, std::int32_t y) {
    return {static_cast<std::uint8_t>(x & 0xFF), static_cast<std::uint8_t>(y & 0xFF),
            static_cast<std::uint8_t>((16 * (x >> 8) + (y >> 8)) & 0xFF)};
}

std::shared_ptr<const std::vector<std::uint8_t>> MakePattern(std::int32_t width, std::int32_t height, int shift) {
    if (width <= 0 || height <= 0) return nullptr;
    const std::size_t stride = static_cast<std::size_t>(Bgr24Stride(width));
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(stride * static_cast<std::size_t>(height), 0);
    // Every row with the same y div 256 differs only in green, so build that
    // row once per band and copy it.
    std::vector<std::uint8_t> row(stride, 0);
    for (std::int32_t y = 0; y < height; ++y) {
        if (y % 256 == 0) {
            for (std::int32_t x = 0; x < width; ++x) {
                const PatternPixel p = PatternAt(x, y);
                std::uint8_t* px = &row[static_cast<std::size_t>(x) * 3];
                px[0] = p.b;
                px[2] = p.r;
            }
        }
        const std::uint8_t green = static_cast<std::uint8_t>(y & 0xFF);
        for (std::int32_t x = 0; x < width; ++x) row[static_cast<std::size_t>(x) * 3 + 1] = green;
        std::uint8_t* dest = bytes->data() + static_cast<std::size_t>(height - 1 - y) * stride;
        std::copy(row.begin(), row.end(), dest);
        if (shift == 0) continue;
        for (std::int32_t i = 0; i < width * 3; ++i)
            dest[i] = static_cast<std::uint8_t>(std::clamp(dest[i] + shift, 0, 255));
    }
    return bytes;
}

}  // namespace sim
}  // namespace kiv
