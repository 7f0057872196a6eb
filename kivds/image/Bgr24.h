// Row stride of a BGR24 picture: three bytes a pixel, each row padded to a
// multiple of four bytes (the DIB rule). Every frame, preview picture and
// still of the source uses it.
#pragma once

#include <cstdint>

namespace kiv {

constexpr std::int32_t Bgr24Stride(std::int32_t width) { return (width * 3 + 3) & ~3; }

}  // namespace kiv
