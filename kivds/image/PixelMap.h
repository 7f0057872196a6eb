// Where each pixel of a still comes from in the camera's frame, and the one
// pass that writes the still's rows from the frame.
//
// A still is the frame, possibly stretched (digital zoom, the one-line trim)
// and cut to the application's image frame. Instead of building each of these
// in its own buffer, the still keeps the frame and a PixelMap: for every row
// of the still the frame row it shows, for every column the frame pixel. A
// stretch that keeps the full width (the trim) is a row map only and costs
// nothing beyond the copy; other stretches use a column plan (PixelKernels),
// built once per geometry and shared by the maps that have it.
//
// Images are bottom-up BGR buffers of rows of `stride` bytes; "picture row"
// counts from the top of the picture. Not thread-safe: one owner at a time,
// like the image that holds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "kivds/image/PixelKernels.h"

namespace kiv {

// A buffer of bottom-up BGR rows.
struct RowSource {
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 0;
};

class PixelMap {
public:
    // The identity over a source of width x height pixels. False when either
    // is not positive or there is no memory.
    bool InitIdentity(std::int32_t width, std::int32_t height);

    // The w x h rectangle at (x, y) of this map's picture stretched over the
    // whole picture (nearest neighbour: pixel (dx, dy) shows (x + dx*w/W,
    // y + dy*h/H)). The caller checks the rectangle. False when no memory
    // (the map is then unchanged).
    bool Stretch(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);

    // Only the w x h rectangle at (x, y) remains; its rows get zero padding.
    // The caller checks the rectangle. False when no memory (unchanged).
    bool Cut(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);

    std::int32_t Width() const { return static_cast<std::int32_t>(m_columns.size()); }
    std::int32_t Height() const { return static_cast<std::int32_t>(m_rows.size()); }
    // Source picture row shown by picture row y.
    std::int32_t SourceRow(std::int32_t y) const { return m_rows[static_cast<std::size_t>(y)]; }
    // The columns are one run of source pixels: row bytes are a plain copy
    // from byte FirstColumnOffset() of the source row.
    bool ContiguousColumns() const { return m_contiguous; }
    std::uint32_t FirstColumnOffset() const { return m_columns.empty() ? 0 : m_columns.front(); }
    // Padding bytes of the rows are zero (after a cut); otherwise they are
    // those of the source row at the same place in the buffer.
    bool ZeroPadding() const { return m_zeroPadding; }
    // The column plan; only when the columns are not contiguous.
    const pixel::StretchColumns& Plan(bool rgb) const { return rgb ? *m_rgb : *m_bgr; }

private:
    bool Rebuild(std::vector<std::int32_t> rows, std::vector<std::uint32_t> columns, bool zeroPadding);

    std::vector<std::int32_t> m_rows;      // source picture row per picture row
    std::vector<std::uint32_t> m_columns;  // source byte offset per column
    bool m_contiguous = true;
    bool m_zeroPadding = false;
    // Only when the columns are not contiguous; shared with every map of the
    // same columns (SharedPlan in PixelMap.cpp), so a camera's stills of one
    // geometry build them once.
    std::shared_ptr<const pixel::StretchColumns> m_bgr, m_rgb;
};

// The one pass: writes picture rows of an image `width` pixels wide, `stride`
// bytes a row, from `source` through `map` (null: the
// image is the source itself). Rows are read in source memory order (bottom
// of the picture first), and a row shown twice is copied from its first copy.
class RowPass {
public:
    RowPass(const RowSource& source, const PixelMap* map, std::int32_t width, std::int32_t stride);

    // Writes picture rows first .. first + count - 1 into dst, dstStride bytes
    // apart: topDown puts picture row first at dst, otherwise picture row
    // first + count - 1 (a bottom-up buffer). rgb: pixels red-green-blue.
    // withPadding: each row also gets its padding bytes (stride - width*3).
    // The caller checks the range.
    void Write(std::int32_t first, std::int32_t count, bool topDown, bool rgb, std::uint8_t* dst, std::size_t dstStride,
               bool withPadding) const;

private:
    const std::uint8_t* SourceRowBytes(std::int32_t pictureRow) const;

    RowSource m_source;
    const PixelMap* m_map;
    std::int32_t m_width, m_stride;
    const pixel::Kernels& m_kernels;
};

}  // namespace kiv
