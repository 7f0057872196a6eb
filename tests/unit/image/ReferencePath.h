// The straightforward path from a camera frame to what the transfers deliver,
// one whole-image step at a time: copy the frame, stretch the zoom rectangle
// over it, cut the image frame out, flip for top-down consumers, write the
// files. Test-only: the image code must give the same bytes in one pass.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <tiffio.h>

#include "unit/image/ImageTestUtil.h"

namespace kivtest {

struct Rect {
    std::int32_t x = 0, y = 0, w = 0, h = 0;
};

struct RefImage {
    std::int32_t width = 0, height = 0, stride = 0;
    std::vector<std::uint8_t> bytes;  // bottom-up BGR
};

// The camera's still: the frame copied, then -- when the zoom rectangle does
// not start at (0, 0) -- that rectangle stretched over the whole frame
// (padding bytes stay those of the row at the same place).
inline RefImage ReferenceStill(const std::vector<std::uint8_t>& frame, std::int32_t width, std::int32_t height,
                               std::int32_t stride, const Rect& zoom) {
    RefImage still{width, height, stride, frame};
    if (zoom.x != 0 || zoom.y != 0)
        still.bytes = ReferenceStretch(frame, width, height, stride, zoom.x, zoom.y, zoom.w, zoom.h);
    return still;
}

// The image frame cut out of a still: rows padded to a multiple of 4 bytes
// with zeros. The whole still stays as it is.
inline RefImage ReferenceCut(const RefImage& still, const Rect& frame) {
    if (frame.x == 0 && frame.y == 0 && frame.w == still.width && frame.h == still.height) return still;
    RefImage cut{frame.w, frame.h, PaddedStride(frame.w), {}};
    cut.bytes.assign(static_cast<std::size_t>(cut.stride) * frame.h, 0);
    for (std::int32_t row = 0; row < frame.h; ++row) {
        const std::size_t from = BottomUpOffset(frame.x, frame.y + row, still.height, still.stride);
        const std::size_t to = static_cast<std::size_t>(frame.h - 1 - row) * cut.stride;
        for (std::int32_t i = 0; i < frame.w * 3; ++i) cut.bytes[to + i] = still.bytes[from + i];
    }
    return cut;
}

inline std::vector<std::uint8_t> ReferenceBmp(const RefImage& image) {
    std::vector<std::uint8_t> file;
    auto put = [&](std::uint32_t v, int size) {
        for (int i = 0; i < size; ++i) file.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    const std::uint32_t w = static_cast<std::uint32_t>(image.width), h = static_cast<std::uint32_t>(image.height);
    put(0x4D42, 2);
    put((w * 24 + 31) / 32 * 4 * h + 54, 4);
    put(0, 2);
    put(0, 2);
    put(54, 4);
    put(40, 4);
    put(w, 4);
    put(h, 4);
    put(1, 2);
    put(24, 2);
    put(0, 4);
    put(w * h * 3, 4);
    for (int i = 0; i < 4; ++i) put(0, 4);
    file.insert(file.end(), image.bytes.begin(), image.bytes.end());
    return file;
}

// The TIFF as written from a whole converted image in one
// TIFFWriteEncodedStrip (rows without their padding).
inline bool WriteReferenceTiff(const RefImage& image, const std::string& path) {
    const auto flipped = ReferenceFlip(image.bytes, image.width, image.height, image.stride);
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 3;
    std::vector<std::uint8_t> strip;
    for (std::int32_t row = 0; row < image.height; ++row)
        strip.insert(strip.end(), flipped.begin() + static_cast<std::size_t>(row) * image.stride,
                     flipped.begin() + static_cast<std::size_t>(row) * image.stride + rowBytes);
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return false;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(image.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(image.height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 72.0);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 72.0);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
    TIFFSetField(t, TIFFTAG_SOFTWARE, "TWAIN Driver for Orvan Document Camera");
    const auto size = static_cast<tmsize_t>(strip.size());
    const bool ok = TIFFWriteEncodedStrip(t, 0, strip.data(), size) == size;
    TIFFClose(t);
    return ok;
}

}  // namespace kivtest
