// A captured still: a pixel buffer with its geometry, and the operations the
// transfers need (copies, top-down conversion, BMP/TIFF files, digital zoom).
//
// Buffer layout as the camera delivers it: 24-bit pixels in blue-green-red
// order, rows bottom-up (the first row in memory is the bottom of the
// picture), each row m_bytesPerLine bytes (normally width * 3 rounded up to a
// multiple of 4). After FlipToTopDownRgb the same rows are top-down and each
// pixel is red-green-blue.
//
// Every operation reports success as a bool, throws nothing and leaves the
// image unchanged when it fails (WriteTiff is the one exception: it converts
// the image to top-down RGB before writing, whatever the outcome of the write).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kivds/image/PixelBuffer.h"

namespace kiv {

// Geometry of an image.
class CImageInfo {
public:
    CImageInfo() = default;
    CImageInfo(std::int32_t width, std::int32_t height, std::int32_t bytesPerLine)
        : m_width(width), m_height(height), m_bytesPerLine(bytesPerLine) {}
    virtual ~CImageInfo() = default;

    std::int32_t m_width = 0;         // pixels
    std::int32_t m_height = 0;        // rows (positive)
    std::int32_t m_bytesPerLine = 0;  // bytes per row of the buffer
};

class CImageReference {
public:
    CImageReference() = default;
    // Convenience for builders: geometry only, no pixels yet (SetData next).
    CImageReference(std::int32_t width, std::int32_t height, std::int32_t bytesPerLine);
    virtual ~CImageReference() = default;

    // Deep copy: a new CImageInfo with the same fields and a new buffer with
    // the same bytes. If the copy cannot allocate, the target has no buffer.
    CImageReference(const CImageReference& other);
    CImageReference& operator=(const CImageReference& other);
    // Moving leaves the source empty (no buffer, Size() 0, no geometry).
    CImageReference(CImageReference&& other) noexcept;
    CImageReference& operator=(CImageReference&& other) noexcept;

    // Geometry. SetInfo replaces the owned CImageInfo with a copy of info.
    void SetInfo(const CImageInfo& info);
    void SetInfo(std::int32_t width, std::int32_t height, std::int32_t bytesPerLine);
    const CImageInfo* Info() const { return m_info.get(); }

    // 0 when there is no CImageInfo.
    std::int32_t Width() const { return m_info ? m_info->m_width : 0; }
    std::int32_t Height() const { return m_info ? m_info->m_height : 0; }
    std::int32_t BytesPerLine() const { return m_info ? m_info->m_bytesPerLine : 0; }

    // Byte size of the buffer as it was filled (0 without buffer).
    std::uint32_t Size() const { return m_size; }
    bool HasData() const { return static_cast<bool>(m_data); }
    const std::uint8_t* Data() const { return m_data.Data(); }

    // length = 0 or no source -> false. Otherwise replaces the buffer with a
    // copy of the length bytes at source; Size() becomes length.
    bool SetData(std::uint32_t length, const void* source);

    // destination is the first byte to write (e.g. what MemLock returned),
    // not the address of a pointer.
    // No buffer, length != Size(), or no destination -> false; else copies
    // Size() bytes to destination.
    bool CopyAll(std::uint32_t length, void* destination) const;

    // No buffer, offset + length > Size() (computed without wrap-around), or
    // no destination -> false; else copies length bytes from byte offset.
    bool CopyRange(std::uint32_t offset, std::uint32_t length, void* destination) const;

    // Writes rows first .. first + count - 1 of the picture (row 0 the top) to
    // destination as FlipToTopDownRgb followed by CopyRange of those rows
    // would, without converting the whole image first: each row top-down,
    // red-green-blue, padding bytes as they are. False without buffer or
    // destination, when the geometry does not fit the buffer, or when the
    // rows reach past the last one.
    bool CopyRowsTopDownRgb(std::uint32_t first, std::uint32_t count, void* destination) const;

    // Converts the buffer to top-down rows of red-green-blue pixels (padding
    // bytes move with their rows). The buffer becomes BytesPerLine() * Height()
    // bytes; Size() keeps its value. False (image unchanged) without buffer or
    // geometry, when the geometry does not fit the buffer, or when no memory.
    bool FlipToTopDownRgb();

    // 24-bit BMP: 54-byte header, then Size() bytes of the buffer as they are.
    // Replaces an existing file. False on an empty path, without buffer or
    // geometry, or when the file cannot be created, written or closed
    // (a partly written file may then remain).
    bool WriteBmp(const std::string& path) const;

    // Uncompressed RGB TIFF in one strip through libtiff. Converts this image
    // to top-down RGB first; rows are written without their padding bytes.
    // False on an empty path, without buffer or geometry that describes it,
    // or when the file cannot be opened or written completely (whatever was
    // written stays; the caller reports the failure).
    bool WriteTiff(const std::string& path);

    // Digital zoom: stretches the w x h rectangle at (x, y) -- picture
    // coordinates, origin at the top-left -- over the whole image, in place,
    // nearest neighbour: destination pixel (dx, dy) takes source pixel
    // (x + dx*w/W, y + dy*h/H). The rectangle must lie inside the image and
    // be non-empty, otherwise false and the image is unchanged.
    bool CropAndStretch(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);

private:
    std::uint32_t m_size = 0;            // byte size of m_data as it was filled
    PixelBuffer m_data;                  // the pixels (storage reused through the pool)
    std::unique_ptr<CImageInfo> m_info;  // geometry
};

}  // namespace kiv
