// The 40-byte BITMAPINFOHEADER, written field by field (little-endian). The
// BMP file and the native transfer's DIB both start their pixels behind it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv {

constexpr std::size_t kBitmapInfoHeaderSize = 40;

inline void PutLe16(std::uint8_t*& p, std::uint32_t v) {
    *p++ = static_cast<std::uint8_t>(v);
    *p++ = static_cast<std::uint8_t>(v >> 8);
}

inline void PutLe32(std::uint8_t*& p, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) *p++ = static_cast<std::uint8_t>(v >> shift);
}

// A positive height: bottom-up rows. BI_RGB, no resolution, no colour table.
inline void PutBitmapInfoHeader(std::uint8_t* at, std::uint32_t width, std::uint32_t height, std::uint16_t bitCount,
                                std::uint32_t sizeImage) {
    std::uint8_t* p = at;
    PutLe32(p, kBitmapInfoHeaderSize);  // biSize
    PutLe32(p, width);
    PutLe32(p, height);
    PutLe16(p, 1);  // biPlanes
    PutLe16(p, bitCount);
    PutLe32(p, 0);  // biCompression BI_RGB
    PutLe32(p, sizeImage);
    PutLe32(p, 0);  // biXPelsPerMeter
    PutLe32(p, 0);  // biYPelsPerMeter
    PutLe32(p, 0);  // biClrUsed
    PutLe32(p, 0);  // biClrImportant
}

}  // namespace kiv
