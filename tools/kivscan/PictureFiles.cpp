#include "tools/kivscan/PictureFiles.h"

#include <tiffio.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace kiv {
namespace scan {

namespace {

void PutU16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    PutU16(out, v & 0xFFFF);
    PutU16(out, v >> 16);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

// libtiff reports through handlers; kivscan collects the last message.
thread_local std::string t_tiffError;

void TiffErrorHandler(const char* module, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    t_tiffError = module ? std::string(module) + ": " + text : std::string(text);
}

}  // namespace

const char* FileFormatName(FileFormat format) { return format == FileFormat::Bmp ? "BMP" : "TIFF"; }

bool WriteBmpFile(const std::string& path, const RgbPicture& picture, std::string& error) {
    const std::uint64_t stride = PaddedRowBytes(static_cast<std::uint64_t>(picture.width), 24);
    const std::uint64_t imageBytes = stride * static_cast<std::uint64_t>(picture.height);
    const std::uint64_t fileBytes = 14 + 40 + imageBytes;
    if (picture.width <= 0 || picture.height <= 0 || fileBytes > 0xFFFFFFFFu) {
        error = "a BMP file cannot hold this picture";
        return false;
    }
    std::vector<std::uint8_t> header;
    header.reserve(54);
    header.push_back('B');
    header.push_back('M');
    PutU32(header, static_cast<std::uint32_t>(fileBytes));
    PutU32(header, 0);   // reserved
    PutU32(header, 54);  // offset of the bits
    PutU32(header, 40);  // BITMAPINFOHEADER
    PutU32(header, static_cast<std::uint32_t>(picture.width));
    PutU32(header, static_cast<std::uint32_t>(picture.height));  // positive: bottom-up
    PutU16(header, 1);
    PutU16(header, 24);
    PutU32(header, 0);  // BI_RGB
    PutU32(header, static_cast<std::uint32_t>(imageBytes));
    PutU32(header, 2835);  // 72 dpi
    PutU32(header, 2835);
    PutU32(header, 0);
    PutU32(header, 0);

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(header.data(), 1, header.size(), file.get()) == header.size();
    std::vector<std::uint8_t> row(static_cast<std::size_t>(stride), 0);
    for (std::int32_t y = picture.height - 1; ok && y >= 0; --y) {
        const std::uint8_t* in = picture.Pixel(0, y);
        for (std::int32_t x = 0; x < picture.width; ++x) {
            row[3 * x] = in[3 * x + 2];
            row[3 * x + 1] = in[3 * x + 1];
            row[3 * x + 2] = in[3 * x];
        }
        ok = std::fwrite(row.data(), 1, row.size(), file.get()) == row.size();
    }
    ok = ok && std::fflush(file.get()) == 0;
    if (!ok) error = "cannot write " + path + ": " + std::strerror(errno);
    return ok;
}

bool WriteTiffFile(const std::string& path, const RgbPicture& picture, std::string& error) {
    if (picture.width <= 0 || picture.height <= 0) {
        error = "a TIFF file cannot hold an empty picture";
        return false;
    }
    t_tiffError.clear();
    TIFFErrorHandler previous = TIFFSetErrorHandler(TiffErrorHandler);
    bool ok = false;
    {
        std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(path.c_str(), "w"));
        if (tiff) {
            TIFF* t = tiff.get();
            ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(picture.width)) &&
                 TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(picture.height)) &&
                 TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8) && TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3) &&
                 TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
                 TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
                 TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
                 TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
                 TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(picture.height));
            const auto bytes = static_cast<tmsize_t>(picture.pixels.size());
            ok = ok && TIFFWriteEncodedStrip(t, 0, const_cast<std::uint8_t*>(picture.pixels.data()), bytes) == bytes;
            ok = ok && TIFFFlush(t) == 1;
        }
    }
    TIFFSetErrorHandler(previous);
    if (!ok) error = "cannot write " + path + (t_tiffError.empty() ? std::string() : ": " + t_tiffError);
    return ok;
}

bool WritePictureFile(const std::string& path, FileFormat format, const RgbPicture& picture, std::string& error) {
    return format == FileFormat::Bmp ? WriteBmpFile(path, picture, error) : WriteTiffFile(path, picture, error);
}

}  // namespace scan
}  // namespace kiv
