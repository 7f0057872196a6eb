// The two file formats of a file transfer: 24-bit BMP and uncompressed RGB
// TIFF. Paths are narrow strings handed to the C runtime / libtiff as they
// are (UTF-8 on Linux, the ANSI code page on Windows).
#include <algorithm>
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

// Rows converted at a time for a file: about 1 MiB, small enough to stay in
// the caches between the conversion and the write, large enough that the
// writes cost little more than one write of the whole image (256 KiB and
// 4 MiB measured no better).
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

std::int32_t RowsPerChunk(std::size_t rowBytes, std::int32_t height) {
    const std::size_t rows = rowBytes ? kChunkBytes / rowBytes : 1;
    return static_cast<std::int32_t>(
        std::max<std::size_t>(1, std::min<std::size_t>(rows, static_cast<std::size_t>(height))));
}

// The rows the geometry describes lie inside the buffer and hold their pixels.
bool RowsFit(const CImageInfo& info, std::uint32_t size) {
    if (info.m_width <= 0 || info.m_height <= 0 || info.m_bytesPerLine < 0) return false;
    if (static_cast<std::int64_t>(info.m_bytesPerLine) < std::int64_t{info.m_width} * 3) return false;
    return static_cast<std::uint64_t>(info.m_bytesPerLine) * static_cast<std::uint64_t>(info.m_height) <= size;
}

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
    if (path.empty() || m_size == 0 || !HasData() || !m_info) return false;
    std::uint8_t header[kBmpHeaderSize];
    if (!BuildBmpHeader(*m_info, header)) return false;
    // Rows are taken through the map, which needs geometry that describes
    // the buffer (a map is only ever set on such an image).
    if (m_map && !RowsFit(*m_info, m_size)) return false;

    FilePtr file(std::fopen(path.c_str(), "wb"));  // replaces an existing file
    if (!file) return false;
    // Straight to the file, no copy through a stdio buffer.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    std::FILE* f = file.get();
    if (std::fwrite(header, 1, 14, f) != 14) return false;
    if (std::fwrite(header + 14, 1, 40, f) != 40) return false;
    if (!m_map) {
        if (std::fwrite(Source(), 1, m_size, f) != m_size) return false;
    } else if (!WriteMappedBmpRows(f)) {
        return false;
    }
    // A failed close can lose data just as a failed write.
    return std::fclose(file.release()) == 0;
}

bool CImageReference::WriteMappedBmpRows(std::FILE* file) const {
    const std::int32_t height = m_info->m_height;
    const std::size_t stride = static_cast<std::size_t>(m_info->m_bytesPerLine);
    const RowSource source = Rows();
    // Rows that are whole source rows (same stride, no padding, first column
    // 0) go from the frame to the file as they are, in runs of consecutive
    // source rows: the one-line trim writes three runs.
    const bool wholeRows = m_map->ContiguousColumns() && m_map->FirstColumnOffset() == 0 &&
                           stride == static_cast<std::size_t>(source.stride) &&
                           stride == static_cast<std::size_t>(m_info->m_width) * 3;
    if (wholeRows) {
        // Buffer row i (bottom-up) is picture row height - 1 - i.
        std::int32_t i = 0;
        while (i < height) {
            const std::int32_t firstSource = m_map->SourceRow(height - 1 - i);
            std::int32_t run = 1;
            while (i + run < height && m_map->SourceRow(height - 1 - (i + run)) == firstSource - run) ++run;
            const std::size_t from = static_cast<std::size_t>(source.height - 1 - firstSource) * stride;
            const std::size_t bytes = static_cast<std::size_t>(run) * stride;
            if (std::fwrite(source.bytes + from, 1, bytes, file) != bytes) return false;
            i += run;
        }
    } else {
        // Other maps: a few rows at a time through a small reused buffer.
        const std::int32_t chunkRows = RowsPerChunk(stride, height);
        PixelBuffer chunk = PixelBuffer::Acquire(stride * static_cast<std::size_t>(chunkRows));
        if (!chunk) return false;
        const RowPass pass(source, m_map.get(), m_info->m_width, m_info->m_bytesPerLine);
        for (std::int32_t i = 0; i < height; i += chunkRows) {
            const std::int32_t rows = std::min(chunkRows, height - i);
            // Buffer rows i .. i + rows - 1 are picture rows height - i - rows .. height - 1 - i.
            pass.Write(height - i - rows, rows, false, false, chunk.Data(), stride, true);
            const std::size_t bytes = static_cast<std::size_t>(rows) * stride;
            if (std::fwrite(chunk.Data(), 1, bytes, file) != bytes) return false;
        }
    }
    const std::size_t rows = stride * static_cast<std::size_t>(height);
    if (rows < m_size) {
        // Bytes after the rows: those of the buffer (a cut makes the image
        // exactly its rows, so this is a stretched image of the buffer's size).
        if (std::fwrite(Source() + rows, 1, m_size - rows, file) != m_size - rows) return false;
    }
    return true;
}

bool CImageReference::WriteTiff(const std::string& path) const {
    if (path.empty() || m_size == 0 || !HasData() || !m_info) return false;
    const std::int32_t width = m_info->m_width;
    const std::int32_t height = m_info->m_height;
    // Geometry that does not describe the buffer cannot become a picture.
    if (!RowsFit(*m_info, m_size)) return false;

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

    if (ok) {
        // The strip holds width * 3 bytes per row, top-down, red-green-blue:
        // padding bytes at the end of the buffer's rows are not part of the
        // picture. Uncompressed, so the converted rows are the strip's bytes
        // as they are; each chunk is appended to strip 0.
        const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
        const std::int32_t chunkRows = RowsPerChunk(rowBytes, height);
        PixelBuffer chunk = PixelBuffer::Acquire(rowBytes * static_cast<std::size_t>(chunkRows));
        ok = static_cast<bool>(chunk);
        const RowPass pass(Rows(), m_map.get(), width, m_info->m_bytesPerLine);
        for (std::int32_t row = 0; ok && row < height; row += chunkRows) {
            const std::int32_t rows = std::min(chunkRows, height - row);
            pass.Write(row, rows, true, true, chunk.Data(), rowBytes, false);
            const auto bytes = static_cast<tmsize_t>(rowBytes * static_cast<std::size_t>(rows));
            ok = TIFFWriteRawStrip(t, 0, chunk.Data(), bytes) == bytes;
        }
    }
    // TIFFClose reports nothing: TIFFFlush writes the directory and says
    // whether it got to the file.
    ok = ok && TIFFFlush(t) == 1;
    return ok;
}

}  // namespace kiv
