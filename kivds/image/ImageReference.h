// A captured still: a pixel buffer with its geometry, and the operations the
// transfers need (copies, top-down conversion, BMP/TIFF files, digital zoom).
//
// Buffer layout as the camera delivers it: 24-bit pixels in blue-green-red
// order, rows bottom-up (the first row in memory is the bottom of the
// picture), each row m_bytesPerLine bytes (normally width * 3 rounded up to a
// multiple of 4). After FlipToTopDownRgb the same rows are top-down and each
// pixel is red-green-blue.
//
// The pixels are either the image's own buffer or a camera frame shared with
// the camera (SetFrame: immutable, reference-counted, never copied). A digital
// zoom (CropAndStretch) or a cut (Cut) is kept as a map from the image's
// pixels to the buffer's and applied by the operation that reads the pixels,
// in the same pass as its copy, conversion or file write; only Data(),
// CopyRange and SetInfo build the mapped pixels in a buffer of their own.
//
// Every operation reports success as a bool, throws nothing and leaves the
// image unchanged when it fails. An image has one owner and is not shared
// between threads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "kivds/image/PixelBuffer.h"
#include "kivds/image/PixelMap.h"

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
    virtual ~CImageReference();

    // Deep copy: a new CImageInfo with the same fields and a new buffer with
    // the same bytes (a shared frame is shared, a pending map is copied). If
    // the copy cannot allocate, the target has no buffer.
    CImageReference(const CImageReference& other);
    CImageReference& operator=(const CImageReference& other);
    // Moving leaves the source empty (no buffer, Size() 0, no geometry).
    CImageReference(CImageReference&& other) noexcept;
    CImageReference& operator=(CImageReference&& other) noexcept;

    // Geometry. SetInfo replaces the owned CImageInfo with a copy of info
    // (a pending map is applied first: the new geometry describes a buffer).
    void SetInfo(const CImageInfo& info);
    void SetInfo(std::int32_t width, std::int32_t height, std::int32_t bytesPerLine);
    const CImageInfo* Info() const { return m_info.get(); }

    // 0 when there is no CImageInfo.
    std::int32_t Width() const { return m_info ? m_info->m_width : 0; }
    std::int32_t Height() const { return m_info ? m_info->m_height : 0; }
    std::int32_t BytesPerLine() const { return m_info ? m_info->m_bytesPerLine : 0; }

    // Byte size of the buffer as it was filled (0 without buffer).
    std::uint32_t Size() const { return m_size; }
    bool HasData() const { return static_cast<bool>(m_data) || static_cast<bool>(m_frame); }
    // The image's bytes. With a pending map this builds them first (null when
    // there is no memory for that); prefer the operations below, which do not.
    const std::uint8_t* Data() const;

    // length = 0 or no source -> false. Otherwise replaces the buffer with a
    // copy of the length bytes at source; Size() becomes length.
    bool SetData(std::uint32_t length, const void* source);

    // Takes a camera frame without copying it: bottom-up BGR rows of stride
    // bytes. The bytes must not change while any image holds them (the
    // camera writes its next frame into another buffer). False (image
    // unchanged) without bytes or when they exceed 4 GiB.
    bool SetFrame(std::shared_ptr<const std::vector<std::uint8_t>> bytes, std::int32_t width, std::int32_t height,
                  std::int32_t stride);
    // The pixels are the buffer given to SetFrame, not a copy.
    bool SharesFrame() const { return static_cast<bool>(m_frame); }

    // destination is the first byte to write (e.g. what MemLock returned),
    // not the address of a pointer.
    // No buffer, length != Size(), or no destination -> false; else copies
    // Size() bytes to destination (a pending map is applied on the way: this
    // is the native transfer's single pass from the frame to the DIB).
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

    // Writes rows first .. first + count - 1 of the picture (row 0 the top)
    // to destination, top-down and packed (no padding): Width() * 3 bytes of
    // red-green-blue a row, or with gray Width() bytes of luma, BT.601
    // (77 R + 150 G + 29 B + 128) / 256, made from each row as it is copied.
    // Same failures as CopyRowsTopDownRgb; false also when no memory.
    bool CopyRowsTopDownPacked(std::uint32_t first, std::uint32_t count, bool gray, void* destination) const;

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

    // Uncompressed RGB TIFF in one strip through libtiff: the rows top-down,
    // red-green-blue, without their padding bytes, converted a few at a time
    // into a small buffer and appended to the strip. The image itself is
    // left as it is (a BMP written afterwards is still right).
    // False on an empty path, without buffer or geometry that describes it,
    // or when the file cannot be opened or written completely (whatever was
    // written stays; the caller reports the failure).
    bool WriteTiff(const std::string& path) const;

    // Digital zoom: stretches the w x h rectangle at (x, y) -- picture
    // coordinates, origin at the top-left -- over the whole image, in place,
    // nearest neighbour: destination pixel (dx, dy) takes source pixel
    // (x + dx*w/W, y + dy*h/H). The rectangle must lie inside the image and
    // be non-empty, otherwise false and the image is unchanged.
    bool CropAndStretch(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);

    // Keeps only the w x h rectangle at (x, y) (picture coordinates): the
    // image becomes w x h with rows of w * 3 bytes rounded up to a multiple
    // of 4, padding bytes zero. The whole picture leaves the image as it is.
    // False (unchanged) when the rectangle is empty or reaches outside the
    // picture, or the geometry does not describe the buffer.
    bool Cut(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);

private:
    const std::uint8_t* Source() const { return m_frame ? m_frame->data() : m_data.Data(); }
    // The buffer's rows as the map reads them.
    RowSource Rows() const;
    // Builds the mapped pixels in an own buffer and drops the map; false
    // (nothing changed) when there is no memory.
    bool ApplyMap() const;
    bool EnsureMap();
    // Bytes after the last row (a buffer larger than its rows) go unchanged
    // to the same place.
    void CopyTail(std::uint8_t* destination) const;
    // The pixel rows of a mapped image into an open BMP file.
    bool WriteMappedBmpRows(std::FILE* file) const;

    std::uint32_t m_size = 0;  // byte size of the image as it was filled
    // The pixels: the image's own buffer (storage reused through the pool) or
    // a frame shared with the camera. Mutable: applying a map on a const
    // access replaces them by the same picture.
    mutable PixelBuffer m_data;
    mutable std::shared_ptr<const std::vector<std::uint8_t>> m_frame;
    // Pending zoom or cut: the image's pixels are m_map applied to the
    // buffer, whose own geometry is m_sourceInfo.
    mutable std::unique_ptr<PixelMap> m_map;
    CImageInfo m_sourceInfo;
    std::unique_ptr<CImageInfo> m_info;  // geometry of the image
};

}  // namespace kiv
