// Reading picture files back for the kivscan tests: BMP by its fields, TIFF
// through libtiff. Both give top-down RGB.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/FileBytes.h"
#include "tools/kivscan/Picture.h"

namespace kivscantest {

using kivtest::Le16;
using kivtest::Le32;
using kivtest::ReadBytes;
using kivtest::TempPath;

// A 24-bit uncompressed BMP; false when the file is anything else.
inline bool ReadBmp(const std::string& path, kiv::scan::RgbPicture& picture) {
    const std::vector<std::uint8_t> file = ReadBytes(path);
    if (file.size() < 54 || file[0] != 'B' || file[1] != 'M') return false;
    if (Le32(&file[2]) != file.size()) return false;
    const std::uint32_t offset = Le32(&file[10]);
    const auto width = static_cast<std::int32_t>(Le32(&file[18]));
    const auto height = static_cast<std::int32_t>(Le32(&file[22]));
    if (Le16(&file[28]) != 24 || Le32(&file[30]) != 0 || width <= 0 || height == 0) return false;
    const std::int32_t rows = height > 0 ? height : -height;
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    if (offset + stride * rows > file.size()) return false;
    picture.width = width;
    picture.height = rows;
    picture.pixels.assign(static_cast<std::size_t>(width) * rows * 3, 0);
    for (std::int32_t y = 0; y < rows; ++y) {
        const std::uint8_t* in = &file[offset + stride * static_cast<std::size_t>(height > 0 ? rows - 1 - y : y)];
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t* out = &picture.pixels[(static_cast<std::size_t>(y) * width + x) * 3];
            out[0] = in[3 * x + 2];
            out[1] = in[3 * x + 1];
            out[2] = in[3 * x];
        }
    }
    return true;
}

// An 8-bit RGB contiguous TIFF; false for anything else.
inline bool ReadTiff(const std::string& path, kiv::scan::RgbPicture& picture) {
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) return false;
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 0, samples = 0, photometric = 0, planar = 0;
    bool ok = TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) && TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) &&
              TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits) &&
              TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples) &&
              TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) &&
              TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    ok = ok && bits == 8 && samples == 3 && photometric == PHOTOMETRIC_RGB && planar == PLANARCONFIG_CONTIG;
    if (ok) {
        picture.width = static_cast<std::int32_t>(width);
        picture.height = static_cast<std::int32_t>(height);
        picture.pixels.assign(static_cast<std::size_t>(width) * height * 3, 0);
        for (std::uint32_t y = 0; ok && y < height; ++y)
            ok = TIFFReadScanline(tiff, &picture.pixels[static_cast<std::size_t>(y) * width * 3], y) == 1;
    }
    TIFFClose(tiff);
    return ok;
}

}  // namespace kivscantest
