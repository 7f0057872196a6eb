#include "kivds/image/ImageReference.h"

#include <cstring>
#include <new>

#include "kivds/image/PixelKernels.h"

namespace kiv {

CImageReference::CImageReference(std::int32_t width, std::int32_t height, std::int32_t bytesPerLine) {
    SetInfo(width, height, bytesPerLine);
}

CImageReference::CImageReference(const CImageReference& other) {
    if (other.m_info) SetInfo(*other.m_info);
    if (other.m_data) SetData(other.m_size, other.m_data.Data());
}

CImageReference& CImageReference::operator=(const CImageReference& other) {
    if (this == &other) return *this;
    CImageReference copy(other);
    std::swap(m_size, copy.m_size);
    m_data.Swap(copy.m_data);
    std::swap(m_info, copy.m_info);
    return *this;
}

CImageReference::CImageReference(CImageReference&& other) noexcept
    : m_size(other.m_size), m_data(std::move(other.m_data)), m_info(std::move(other.m_info)) {
    other.m_size = 0;
}

CImageReference& CImageReference::operator=(CImageReference&& other) noexcept {
    if (this != &other) {
        m_size = other.m_size;
        m_data = std::move(other.m_data);
        m_info = std::move(other.m_info);
        other.m_size = 0;
    }
    return *this;
}

void CImageReference::SetInfo(const CImageInfo& info) {
    SetInfo(info.m_width, info.m_height, info.m_bytesPerLine);
}

void CImageReference::SetInfo(std::int32_t width, std::int32_t height, std::int32_t bytesPerLine) {
    std::unique_ptr<CImageInfo> info(new (std::nothrow) CImageInfo(width, height, bytesPerLine));
    if (info) m_info = std::move(info);
}

bool CImageReference::SetData(std::uint32_t length, const void* source) {
    if (length == 0 || !source) return false;
    PixelBuffer buffer = PixelBuffer::Acquire(length);
    if (!buffer) return false;
    std::memcpy(buffer.Data(), source, length);
    m_data.Swap(buffer);  // the old block goes back to the pool with `buffer`
    m_size = length;
    return true;
}

bool CImageReference::CopyAll(std::uint32_t length, void* destination) const {
    if (!m_data || length != m_size || !destination) return false;
    std::memcpy(destination, m_data.Data(), m_size);
    return true;
}

bool CImageReference::CopyRange(std::uint32_t offset, std::uint32_t length, void* destination) const {
    if (!m_data || !destination) return false;
    if (static_cast<std::uint64_t>(offset) + length > m_size) return false;
    std::memcpy(destination, m_data.Data() + offset, length);
    return true;
}

namespace {

// The rows the geometry describes lie inside the buffer, and each row holds
// its pixels. Operations that walk rows refuse anything else rather than read
// or write outside the buffer.
bool RowsFit(const CImageInfo* info, std::uint32_t size) {
    if (!info || info->m_width <= 0 || info->m_height <= 0) return false;
    const auto width = static_cast<std::uint64_t>(info->m_width);
    if (info->m_bytesPerLine < 0 || static_cast<std::uint64_t>(info->m_bytesPerLine) < width * 3) return false;
    return static_cast<std::uint64_t>(info->m_bytesPerLine) * static_cast<std::uint64_t>(info->m_height) <= size;
}

}  // namespace

bool CImageReference::FlipToTopDownRgb() {
    if (!m_data || !RowsFit(m_info.get(), m_size)) return false;
    // Same size as the buffer: bytes past the last row (when the buffer is
    // not a whole number of rows) stay where they are, so Size() stays true.
    PixelBuffer out = PixelBuffer::Acquire(m_size);
    if (!out) return false;

    const std::size_t height = static_cast<std::size_t>(m_info->m_height);
    const std::size_t stride = static_cast<std::size_t>(m_info->m_bytesPerLine);
    const std::size_t pixels = static_cast<std::size_t>(m_info->m_width);
    const std::size_t padding = stride - pixels * 3;
    const pixel::SwapRowFn swapRow = pixel::BestKernels().swapRow;
    const std::uint8_t* src = m_data.Data();
    std::uint8_t* dst = out.Data();
    // Source rows in memory order (measured faster than destination order).
    for (std::size_t i = height; i-- > 0;) {
        const std::uint8_t* from = src + (height - 1 - i) * stride;
        std::uint8_t* to = dst + i * stride;
        swapRow(from, to, pixels);
        if (padding) std::memcpy(to + pixels * 3, from + pixels * 3, padding);
    }
    if (const std::size_t rows = height * stride; rows < m_size) std::memcpy(dst + rows, src + rows, m_size - rows);
    m_data.Swap(out);
    return true;
}

bool CImageReference::CopyRowsTopDownRgb(std::uint32_t first, std::uint32_t count, void* destination) const {
    if (!m_data || !destination || !RowsFit(m_info.get(), m_size)) return false;
    const std::uint64_t height = static_cast<std::uint64_t>(m_info->m_height);
    if (static_cast<std::uint64_t>(first) + count > height) return false;
    const std::size_t stride = static_cast<std::size_t>(m_info->m_bytesPerLine);
    const std::size_t pixels = static_cast<std::size_t>(m_info->m_width);
    const std::size_t padding = stride - pixels * 3;
    const pixel::SwapRowFn swapRow = pixel::BestKernels().swapRow;
    const std::uint8_t* src = m_data.Data();
    auto* dst = static_cast<std::uint8_t*>(destination);
    for (std::uint32_t i = 0; i < count; ++i) {
        // Picture row r is buffer row height - 1 - r (bottom-up).
        const std::uint8_t* from = src + (height - 1 - (first + i)) * stride;
        std::uint8_t* to = dst + static_cast<std::size_t>(i) * stride;
        swapRow(from, to, pixels);
        if (padding) std::memcpy(to + pixels * 3, from + pixels * 3, padding);
    }
    return true;
}

bool CImageReference::CropAndStretch(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
    if (!m_info || !m_data) return false;
    const std::int32_t width = m_info->m_width;
    const std::int32_t height = m_info->m_height;
    if (w <= 0 || w > width || h <= 0 || h > height) return false;
    // The rectangle must lie inside the picture.
    if (x < 0 || y < 0 || static_cast<std::int64_t>(x) + w > width || static_cast<std::int64_t>(y) + h > height)
        return false;
    if (!RowsFit(m_info.get(), m_size)) return false;
    if (w == width && h == height) return true;  // the whole picture: nothing moves

    const pixel::Kernels& kernels = pixel::BestKernels();
    const bool wholeRows = (w == width);  // x is 0: rows are copied as they are
    pixel::StretchColumns plan;
    if (!wholeRows && !pixel::BuildStretchColumns(x, w, width, kernels.stretchNeedsShuffle, plan)) return false;
    PixelBuffer out = PixelBuffer::Acquire(m_size);
    if (!out) return false;

    const std::size_t rows = static_cast<std::size_t>(height);
    const std::size_t stride = static_cast<std::size_t>(m_info->m_bytesPerLine);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    const std::uint8_t* src = m_data.Data();
    std::uint8_t* dst = out.Data();
    // Picture row p (from the top) is buffer row rows - 1 - p. Rows are
    // filled in memory order (bottom of the picture first), which keeps both
    // buffers streaming forwards.
    std::int64_t previousSource = -1;
    const std::uint8_t* previousRow = nullptr;
    for (std::size_t dy = rows; dy-- > 0;) {
        const std::int64_t sy = y + static_cast<std::int64_t>(dy) * h / height;
        std::uint8_t* to = dst + (rows - 1 - dy) * stride;
        if (sy == previousSource) {
            std::memcpy(to, previousRow, rowBytes);
        } else {
            const std::size_t sourceRow = rows - 1 - static_cast<std::size_t>(sy);
            const std::uint8_t* from = src + sourceRow * stride;
            if (wholeRows)
                std::memcpy(to, from, rowBytes);
            else
                kernels.stretchRow(from, m_size - sourceRow * stride, plan, to);
        }
        // Padding bytes stay those of the row at this place.
        const std::size_t here = (rows - 1 - dy) * stride;
        if (stride > rowBytes) std::memcpy(to + rowBytes, src + here + rowBytes, stride - rowBytes);
        previousSource = sy;
        previousRow = to;
    }
    if (const std::size_t used = rows * stride; used < m_size) std::memcpy(dst + used, src + used, m_size - used);
    m_data.Swap(out);
    return true;
}

}  // namespace kiv
