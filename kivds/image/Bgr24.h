// Row stride of a BGR24 picture: three bytes a pixel, each row padded to a
// multiple of four bytes (the DIB rule). Every frame, preview picture and
// still of the source uses it.
#pragma once

#include <cstdint>

namespace kiv {

constexpr std::int32_t Bgr24Stride(std::int32_t width) { return (width * 3 + 3) & ~3; }

// The source pixel a nearest-neighbour scaler takes for output pixel i of
// `out` pixels drawn from `span` pixels starting at `start`.
constexpr std::int32_t NearestSource(std::int32_t start, std::int32_t span, std::int32_t out, std::int32_t i) {
    return start + static_cast<std::int32_t>(static_cast<std::int64_t>(i) * span / out);
}

}  // namespace kiv
