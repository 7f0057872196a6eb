// Test images and independent reference versions of the pixel operations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kivds/image/ImageReference.h"

namespace kivtest {

inline std::int32_t PaddedStride(std::int32_t width) { return (width * 3 + 3) / 4 * 4; }

// Bytes that differ from pixel to pixel and from padding, so that a byte in
// the wrong place shows.
inline std::vector<std::uint8_t> PatternBytes(std::size_t size, std::uint32_t seed = 1) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t v = seed * 2654435761u + 12345u;
    for (auto& b : bytes) {
        v = v * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(v >> 16);
    }
    return bytes;
}

// A still as the camera delivers it: bottom-up BGR rows of `stride` bytes.
inline kiv::CImageReference MakeImage(std::int32_t width, std::int32_t height, std::int32_t stride = 0,
                                      std::uint32_t seed = 1, std::size_t extraBytes = 0) {
    if (stride == 0) stride = PaddedStride(width);
    kiv::CImageReference image(width, height, stride);
    const auto bytes = PatternBytes(static_cast<std::size_t>(stride) * height + extraBytes, seed);
    image.SetData(static_cast<std::uint32_t>(bytes.size()), bytes.data());
    return image;
}

inline std::vector<std::uint8_t> Bytes(const kiv::CImageReference& image) {
    return std::vector<std::uint8_t>(image.Data(), image.Data() + image.Size());
}

// Offset of pixel (px, py) -- picture coordinates, origin top-left -- in a
// bottom-up buffer.
inline std::size_t BottomUpOffset(std::int32_t px, std::int32_t py, std::int32_t height, std::int32_t stride) {
    return static_cast<std::size_t>(height - 1 - py) * stride + static_cast<std::size_t>(px) * 3;
}

// Nearest-neighbour stretch written the obvious way, pixel by pixel.
inline std::vector<std::uint8_t> ReferenceStretch(const std::vector<std::uint8_t>& src, std::int32_t width,
                                                  std::int32_t height, std::int32_t stride, std::int32_t x,
                                                  std::int32_t y, std::int32_t w, std::int32_t h) {
    std::vector<std::uint8_t> out = src;
    for (std::int32_t dy = 0; dy < height; ++dy)
        for (std::int32_t dx = 0; dx < width; ++dx) {
            const std::int32_t sx = x + static_cast<std::int32_t>(std::int64_t{dx} * w / width);
            const std::int32_t sy = y + static_cast<std::int32_t>(std::int64_t{dy} * h / height);
            for (int c = 0; c < 3; ++c)
                out[BottomUpOffset(dx, dy, height, stride) + c] = src[BottomUpOffset(sx, sy, height, stride) + c];
        }
    return out;
}

// Vertical flip with BGR -> RGB, padding moved with its row, bytes after the
// last row left alone.
inline std::vector<std::uint8_t> ReferenceFlip(const std::vector<std::uint8_t>& src, std::int32_t width,
                                               std::int32_t height, std::int32_t stride) {
    std::vector<std::uint8_t> out = src;
    for (std::int32_t row = 0; row < height; ++row) {
        const std::size_t from = static_cast<std::size_t>(height - 1 - row) * stride;
        const std::size_t to = static_cast<std::size_t>(row) * stride;
        for (std::int32_t i = 0; i < stride; ++i) out[to + i] = src[from + i];
        for (std::int32_t px = 0; px < width; ++px) {
            out[to + px * 3] = src[from + px * 3 + 2];
            out[to + px * 3 + 2] = src[from + px * 3];
        }
    }
    return out;
}

}  // namespace kivtest
