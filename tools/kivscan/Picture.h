// The picture kivscan receives, and the ways it arrives: a packed DIB from a
// native transfer, or strips of rows from a memory transfer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kivds/protocol/Twain.h"

namespace kiv {
namespace scan {

// Top-down rows of red, green, blue bytes, 3 × width bytes per row, no padding.
struct RgbPicture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> pixels;

    const std::uint8_t* Pixel(std::int32_t x, std::int32_t y) const {
        return pixels.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + x) * 3;
    }
};

// Decodes a packed DIB (BITMAPINFOHEADER, optional colour table, bits) of
// `size` bytes: uncompressed 24 or 32 bits per pixel, or 8 bits with a
// colour table; bottom-up (positive height) or top-down rows. Returns false
// with a reason in `error` for anything else or for a block too short for
// what its header announces.
bool DecodeDib(const std::uint8_t* dib, std::size_t size, RgbPicture& picture, std::string& error);

// The size a packed DIB's 40-byte header announces (header, colour table
// and bits), for blocks whose real size cannot be asked; 0 when the header
// is not one DecodeDib accepts.
std::size_t DibAnnouncedSize(const std::uint8_t* dib);

// Puts the strips of a memory transfer together. The strips may come in any
// order; each must lie inside the picture, and the picture is complete when
// every row arrived.
class StripAssembler {
public:
    // `info` describes the picture (DAT_IMAGEINFO); 24-bit RGB and 8-bit gray
    // are accepted. False with a reason in `error` otherwise.
    bool Begin(const twain::TW_IMAGEINFO& info, std::string& error);

    // One strip: the record the source filled and the buffer it wrote into
    // (`bufferSize` bytes).
    bool Add(const twain::TW_IMAGEMEMXFER& strip, const std::uint8_t* buffer, std::size_t bufferSize,
             std::string& error);

    bool Complete() const { return rowsSeen_ == static_cast<std::size_t>(picture_.height); }
    const RgbPicture& Picture() const { return picture_; }
    RgbPicture TakePicture() { return std::move(picture_); }

private:
    RgbPicture picture_;
    int bitsPerPixel_ = 24;
    std::vector<bool> rowSeen_;
    std::size_t rowsSeen_ = 0;
};

// The bytes per row of a DIB or a memory strip: rows padded to 4 bytes.
std::uint64_t PaddedRowBytes(std::uint64_t width, std::uint64_t bitsPerPixel);

}  // namespace scan
}  // namespace kiv
