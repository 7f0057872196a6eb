// The two file formats of a file transfer: 24-bit BMP and uncompressed RGB
// TIFF. Paths are narrow strings handed to the C runtime / libtiff as they
// are (UTF-8 on Linux, the ANSI code page on Windows).
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include <tiffio.h>

#include "kivds/image/BitmapHeader.h"
#include "kivds/image/ImageReference.h"

namespace kiv {
namespace {

constexpr std::size_t kBmpHeaderSize = 54;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// BITMAPFILEHEADER + BITMAPINFOHEADER. bfSize counts rows padded to 4 bytes,
// biSizeImage counts them unpadded, as the files of this data source always
// had. False when a value does not fit its field.
bool BuildBmpHeader(const CImageInfo& info, std::uint8_t (&header)[kBmpHeaderSize]) {
    const std::int64_t width = info.m_width;
    const std::int64_t height = info.m_height;
    if (width <= 0 || height <= 0) return false;
    const std::int64_t fileSize = (width * 24 + 31) / 32 * 4 * height + 54;
    const std::int64_t imageSize = width * height * 3;
    if (fileSize > 0xFFFFFFFFll || imageSize > 0xFFFFFFFFll) return false;

    std::uint8_t* p = header;
    PutLe16(p, 0x4D42);  // bfType "BM"
    PutLe32(p, static_cast<std::uint32_t>(fileSize));
    PutLe16(p, 0);   // bfReserved1
    PutLe16(p, 0);   // bfReserved2
    PutLe32(p, 54);  // bfOffBits
    PutBitmapInfoHeader(p, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), 24,
                        static_cast<std::uint32_t>(imageSize));
    return true;
}

// libtiff reports through handlers; by default they print to stderr, which in
// an application's process is nobody's business. Messages of our handles are
// dropped here; failures are seen through the return values.
int QuietTiffHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffOptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};
struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

TIFF* OpenTiffForWriting(const std::string& path) {
    std::unique_ptr<TIFFOpenOptions, TiffOptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), QuietTiffHandler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), QuietTiffHandler, nullptr);
    return TIFFOpenExt(path.c_str(), "w", options.get());
}

}  // namespace

bool CImageReference::WriteBmp(const std::string& path) const {
    if (path.empty() || m_size == 0 || !m_data || !m_info) return false;
    std::uint8_t header[kBmpHeaderSize];
    if (!BuildBmpHeader(*m_info, header)) return false;

    FilePtr file(std::fopen(path.c_str(), "wb"));  // replaces an existing file
    if (!file) return false;
    // Two writes straight to the file, no copy through a stdio buffer.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    if (std::fwrite(header, 1, 14, file.get()) != 14) return false;
    if (std::fwrite(header + 14, 1, 40, file.get()) != 40) return false;
    if (std::fwrite(m_data.Data(), 1, m_size, file.get()) != m_size) return false;
    // A failed close can lose data just as a failed write.
    return std::fclose(file.release()) == 0;
}

bool CImageReference::WriteTiff(const std::string& path) {
    if (path.empty() || m_size == 0 || !m_data || !m_info) return false;
    const std::int32_t width = m_info->m_width;
    const std::int32_t height = m_info->m_height;
    const std::int32_t stride = m_info->m_bytesPerLine;
    // Geometry that does not describe the buffer cannot become a picture
    // (and the conversion below would refuse it).
    if (width <= 0 || height <= 0 || stride < 0 || static_cast<std::int64_t>(stride) < std::int64_t{width} * 3 ||
        static_cast<std::int64_t>(stride) * height > m_size)
        return false;

    std::unique_ptr<TIFF, TiffCloser> tif(OpenTiffForWriting(path));
    if (!tif) return false;

    bool ok = true;
    TIFF* t = tif.get();
    ok &= TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width)) == 1;
    ok &= TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height)) == 1;
    ok &= TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8) == 1;
    ok &= TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3) == 1;
    ok &= TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE) == 1;
    ok &= TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) == 1;
    ok &= TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) == 1;
    ok &= TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1;
    ok &= TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1;
    ok &= TIFFSetField(t, TIFFTAG_XRESOLUTION, 72.0) == 1;
    ok &= TIFFSetField(t, TIFFTAG_YRESOLUTION, 72.0) == 1;
    ok &= TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER) == 1;
    ok &= TIFFSetField(t, TIFFTAG_SOFTWARE, "TWAIN Driver for Orvan Document Camera") == 1;
    // No RowsPerStrip: the whole image is one strip.

    // The image object itself becomes top-down RGB.
    ok = ok && FlipToTopDownRgb();

    if (ok) {
        // The strip holds width * 3 bytes per row: padding bytes at the end of
        // the buffer's rows are not part of the picture.
        const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
        const std::size_t stripBytes = rowBytes * static_cast<std::size_t>(height);
        const std::uint8_t* strip = m_data.Data();
        PixelBuffer packed;
        if (static_cast<std::size_t>(stride) != rowBytes) {
            packed = PixelBuffer::Acquire(stripBytes);
            if (packed) {
                for (std::size_t row = 0; row < static_cast<std::size_t>(height); ++row)
                    std::memcpy(packed.Data() + row * rowBytes, m_data.Data() + row * static_cast<std::size_t>(stride),
                                rowBytes);
            }
            strip = packed.Data();
        }
        // Uncompressed strips are written from this buffer as they are;
        // libtiff does not modify 8-bit samples in fill order 1.
        ok = strip && TIFFWriteEncodedStrip(t, 0, const_cast<std::uint8_t*>(strip),
                                            static_cast<tmsize_t>(stripBytes)) == static_cast<tmsize_t>(stripBytes);
    }
    // TIFFClose reports nothing: TIFFFlush writes the directory and says
    // whether it got to the file.
    ok = ok && TIFFFlush(t) == 1;
    return ok;
}

}  // namespace kiv
