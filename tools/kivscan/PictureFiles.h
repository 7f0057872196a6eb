// Writing a received picture: 24-bit bottom-up BMP, or uncompressed RGB TIFF.
#pragma once

#include <string>

#include "tools/kivscan/Picture.h"

namespace kiv {
namespace scan {

enum class FileFormat { Bmp, Tiff };

// Both replace an existing file; false with a reason in `error` on failure.
bool WriteBmpFile(const std::string& path, const RgbPicture& picture, std::string& error);
bool WriteTiffFile(const std::string& path, const RgbPicture& picture, std::string& error);
bool WritePictureFile(const std::string& path, FileFormat format, const RgbPicture& picture, std::string& error);

const char* FileFormatName(FileFormat format);  // "BMP" or "TIFF"

}  // namespace scan
}  // namespace kiv
