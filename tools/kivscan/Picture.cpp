#include "tools/kivscan/Picture.h"

#include <cstring>
#include <limits>

namespace kiv {
namespace scan {

using namespace twain;

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::int64_t kMaxSide = 1 << 16;  // far beyond any camera frame

std::uint32_t ReadU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t ReadU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

bool Allocate(RgbPicture& picture, std::int64_t width, std::int64_t height, std::string& error) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) {
        error = "unusable picture size " + std::to_string(width) + "x" + std::to_string(height);
        return false;
    }
    picture.width = static_cast<std::int32_t>(width);
    picture.height = static_cast<std::int32_t>(height);
    picture.pixels.assign(static_cast<std::size_t>(width * height * 3), 0);
    return true;
}

}  // namespace

std::uint64_t PaddedRowBytes(std::uint64_t width, std::uint64_t bitsPerPixel) {
    return (width * bitsPerPixel + 31) / 32 * 4;
}

std::size_t DibAnnouncedSize(const std::uint8_t* dib) {
    if (!dib) return 0;
    const std::uint32_t headerSize = ReadU32(dib);
    const auto width = static_cast<std::int32_t>(ReadU32(dib + 4));
    const auto height = static_cast<std::int32_t>(ReadU32(dib + 8));
    const std::uint16_t bitCount = ReadU16(dib + 14);
    const std::uint32_t colorsUsed = ReadU32(dib + 32);
    if (headerSize < 40 || headerSize > 1024 || width <= 0 || width > kMaxSide || height == 0 || height < -kMaxSide ||
        height > kMaxSide || (bitCount != 8 && bitCount != 24 && bitCount != 32))
        return 0;
    const std::uint64_t rows = height > 0 ? static_cast<std::uint64_t>(height)
                                          : static_cast<std::uint64_t>(-static_cast<std::int64_t>(height));
    const std::uint64_t palette = bitCount == 8 ? (colorsUsed == 0 || colorsUsed > 256 ? 256 : colorsUsed) * 4 : 0;
    return static_cast<std::size_t>(headerSize + palette +
                                    PaddedRowBytes(static_cast<std::uint64_t>(width), bitCount) * rows);
}

bool DecodeDib(const std::uint8_t* dib, std::size_t size, RgbPicture& picture, std::string& error) {
    if (!dib || size < 40) {
        error = "the DIB is shorter than its 40-byte header";
        return false;
    }
    const std::uint32_t headerSize = ReadU32(dib);
    const auto width = static_cast<std::int32_t>(ReadU32(dib + 4));
    const auto height = static_cast<std::int32_t>(ReadU32(dib + 8));
    const std::uint16_t bitCount = ReadU16(dib + 14);
    const std::uint32_t compression = ReadU32(dib + 16);
    const std::uint32_t colorsUsed = ReadU32(dib + 32);
    if (headerSize < 40 || headerSize > size) {
        error = "the DIB header size " + std::to_string(headerSize) + " is not usable";
        return false;
    }
    if (compression != kBiRgb || (bitCount != 24 && bitCount != 32 && bitCount != 8)) {
        error = "unsupported DIB: " + std::to_string(bitCount) + " bits per pixel, compression " +
                std::to_string(compression);
        return false;
    }
    const bool bottomUp = height > 0;
    const std::int64_t rows = bottomUp ? height : -static_cast<std::int64_t>(height);
    if (!Allocate(picture, width, rows, error)) return false;

    std::uint64_t paletteEntries = 0;
    if (bitCount == 8) paletteEntries = colorsUsed == 0 ? 256 : colorsUsed;
    if (paletteEntries > 256) {
        error = "the DIB's colour table has " + std::to_string(paletteEntries) + " entries";
        return false;
    }
    const std::uint64_t bitsOffset = headerSize + paletteEntries * 4;
    const std::uint64_t stride = PaddedRowBytes(static_cast<std::uint64_t>(width), bitCount);
    const std::uint64_t needed = bitsOffset + stride * static_cast<std::uint64_t>(rows);
    if (needed > size) {
        error = "the DIB announces " + std::to_string(needed) + " bytes but the block holds " + std::to_string(size);
        return false;
    }
    const std::uint8_t* palette = dib + headerSize;
    for (std::int64_t y = 0; y < rows; ++y) {
        const std::int64_t sourceRow = bottomUp ? rows - 1 - y : y;
        const std::uint8_t* in = dib + bitsOffset + static_cast<std::uint64_t>(sourceRow) * stride;
        std::uint8_t* out = picture.pixels.data() + static_cast<std::size_t>(y) * picture.width * 3;
        for (std::int32_t x = 0; x < picture.width; ++x, out += 3) {
            const std::uint8_t* bgr = nullptr;
            if (bitCount == 8) {
                const std::uint8_t index = in[x];
                if (index >= paletteEntries) {
                    error = "a DIB pixel refers past the colour table";
                    return false;
                }
                bgr = palette + index * 4;
            } else {
                bgr = in + static_cast<std::size_t>(x) * (bitCount / 8);
            }
            out[0] = bgr[2];
            out[1] = bgr[1];
            out[2] = bgr[0];
        }
    }
    return true;
}

bool StripAssembler::Begin(const TW_IMAGEINFO& info, std::string& error) {
    const bool rgb = info.BitsPerPixel == 24 && info.SamplesPerPixel == 3;
    const bool gray = info.BitsPerPixel == 8 && info.SamplesPerPixel == 1;
    if (!rgb && !gray) {
        error = "memory transfer of " + std::to_string(info.BitsPerPixel) + "-bit pictures with " +
                std::to_string(info.SamplesPerPixel) + " samples is not supported";
        return false;
    }
    if (info.Compression != TWCP_NONE || info.Planar) {
        error = "compressed or planar memory transfers are not supported";
        return false;
    }
    bitsPerPixel_ = info.BitsPerPixel;
    if (!Allocate(picture_, info.ImageWidth, info.ImageLength, error)) return false;
    rowSeen_.assign(static_cast<std::size_t>(picture_.height), false);
    rowsSeen_ = 0;
    return true;
}

bool StripAssembler::Add(const TW_IMAGEMEMXFER& strip, const std::uint8_t* buffer, std::size_t bufferSize,
                         std::string& error) {
    const std::uint64_t bytesPerPixel = static_cast<std::uint64_t>(bitsPerPixel_) / 8;
    if (strip.Compression != TWCP_NONE) {
        error = "the source sent a compressed strip";
        return false;
    }
    if (strip.Rows == 0) return true;
    const std::uint64_t right = static_cast<std::uint64_t>(strip.XOffset) + strip.Columns;
    const std::uint64_t bottom = static_cast<std::uint64_t>(strip.YOffset) + strip.Rows;
    const std::uint64_t lastRowEnd = static_cast<std::uint64_t>(strip.Rows - 1) * strip.BytesPerRow +
                                     static_cast<std::uint64_t>(strip.Columns) * bytesPerPixel;
    if (right > static_cast<std::uint64_t>(picture_.width) || bottom > static_cast<std::uint64_t>(picture_.height)) {
        error = "a strip (rows " + std::to_string(strip.YOffset) + "+" + std::to_string(strip.Rows) +
                ") lies outside the picture";
        return false;
    }
    if (strip.BytesPerRow < strip.Columns * bytesPerPixel || lastRowEnd > strip.BytesWritten ||
        lastRowEnd > bufferSize) {
        error = "a strip's sizes do not fit its buffer (" + std::to_string(strip.BytesWritten) + " bytes written)";
        return false;
    }
    for (std::uint32_t r = 0; r < strip.Rows; ++r) {
        const std::uint8_t* in = buffer + static_cast<std::uint64_t>(r) * strip.BytesPerRow;
        const std::size_t y = strip.YOffset + r;
        std::uint8_t* out = picture_.pixels.data() + (y * picture_.width + strip.XOffset) * 3;
        if (bitsPerPixel_ == 24) {
            std::memcpy(out, in, static_cast<std::size_t>(strip.Columns) * 3);
        } else {
            for (std::uint32_t x = 0; x < strip.Columns; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = in[x];
        }
        // A row counts once whole: strips narrower than the picture only
        // complete it together, which this tool does not track per column.
        if (!rowSeen_[y]) {
            rowSeen_[y] = true;
            ++rowsSeen_;
        }
    }
    return true;
}

}  // namespace scan
}  // namespace kiv
