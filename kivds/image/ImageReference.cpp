#include "kivds/image/ImageReference.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace kiv {

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

CImageReference::CImageReference(std::int32_t width, std::int32_t height, std::int32_t bytesPerLine) {
    SetInfo(width, height, bytesPerLine);
}

CImageReference::~CImageReference() = default;

CImageReference::CImageReference(const CImageReference& other) {
    if (other.m_info) m_info.reset(new (std::nothrow) CImageInfo(*other.m_info));
    if (other.m_frame) {
        m_frame = other.m_frame;
        m_size = other.m_size;
    } else if (other.m_data) {
        SetData(other.m_size, other.m_data.Data());
    }
    if (other.m_map && HasData()) {
        try {
            m_map = std::make_unique<PixelMap>(*other.m_map);
        } catch (...) {
            m_map.reset();
        }
        m_sourceInfo = other.m_sourceInfo;
        if (!m_map) {  // the picture cannot be described: no buffer
            m_data.Reset();
            m_frame.reset();
            m_size = 0;
        }
    }
}

CImageReference& CImageReference::operator=(const CImageReference& other) {
    if (this == &other) return *this;
    CImageReference copy(other);
    *this = std::move(copy);
    return *this;
}

CImageReference::CImageReference(CImageReference&& other) noexcept
    : m_size(other.m_size),
      m_data(std::move(other.m_data)),
      m_frame(std::move(other.m_frame)),
      m_map(std::move(other.m_map)),
      m_sourceInfo(other.m_sourceInfo),
      m_info(std::move(other.m_info)) {
    other.m_size = 0;
}

CImageReference& CImageReference::operator=(CImageReference&& other) noexcept {
    if (this != &other) {
        m_size = other.m_size;
        m_data = std::move(other.m_data);
        m_frame = std::move(other.m_frame);
        m_map = std::move(other.m_map);
        m_sourceInfo = other.m_sourceInfo;
        m_info = std::move(other.m_info);
        other.m_size = 0;
    }
    return *this;
}

void CImageReference::SetInfo(const CImageInfo& info) { SetInfo(info.m_width, info.m_height, info.m_bytesPerLine); }

void CImageReference::SetInfo(std::int32_t width, std::int32_t height, std::int32_t bytesPerLine) {
    // The new geometry describes bytes: those of the picture as it is now.
    if (m_map && !ApplyMap()) return;
    std::unique_ptr<CImageInfo> info(new (std::nothrow) CImageInfo(width, height, bytesPerLine));
    if (info) m_info = std::move(info);
}

const std::uint8_t* CImageReference::Data() const {
    if (m_map && !ApplyMap()) return nullptr;
    return Source();
}

bool CImageReference::SetData(std::uint32_t length, const void* source) {
    if (length == 0 || !source) return false;
    PixelBuffer buffer = PixelBuffer::Acquire(length);
    if (!buffer) return false;
    std::memcpy(buffer.Data(), source, length);
    m_data.Swap(buffer);  // the old block goes back to the pool with `buffer`
    m_frame.reset();
    m_map.reset();
    m_size = length;
    return true;
}

bool CImageReference::SetFrame(std::shared_ptr<const std::vector<std::uint8_t>> bytes, std::int32_t width,
                               std::int32_t height, std::int32_t stride) {
    if (!bytes || bytes->empty() || bytes->size() > 0xFFFFFFFFu) return false;
    std::unique_ptr<CImageInfo> info(new (std::nothrow) CImageInfo(width, height, stride));
    if (!info) return false;
    m_size = static_cast<std::uint32_t>(bytes->size());
    m_frame = std::move(bytes);
    m_data.Reset();
    m_map.reset();
    m_info = std::move(info);
    return true;
}

RowSource CImageReference::Rows() const {
    const CImageInfo& geometry = m_map ? m_sourceInfo : *m_info;
    RowSource rows;
    rows.bytes = Source();
    rows.size = m_frame ? m_frame->size() : m_data.Size();
    rows.width = geometry.m_width;
    rows.height = geometry.m_height;
    rows.stride = geometry.m_bytesPerLine;
    return rows;
}

void CImageReference::CopyTail(std::uint8_t* destination) const {
    const std::size_t rows = static_cast<std::size_t>(m_info->m_bytesPerLine) *
                             static_cast<std::size_t>(m_info->m_height);
    // After a cut the image is exactly its rows; otherwise the geometry is
    // the buffer's and its tail stays in place.
    if (rows < m_size && !(m_map && m_map->ZeroPadding()))
        std::memcpy(destination + rows, Source() + rows, m_size - rows);
}

bool CImageReference::ApplyMap() const {
    if (!m_map) return true;
    PixelBuffer out = PixelBuffer::Acquire(m_size);
    if (!out) return false;
    RowPass(Rows(), m_map.get(), m_info->m_width, m_info->m_bytesPerLine)
        .Write(0, m_info->m_height, false, false, out.Data(), static_cast<std::size_t>(m_info->m_bytesPerLine), true);
    CopyTail(out.Data());
    m_data.Swap(out);
    m_frame.reset();
    m_map.reset();
    return true;
}

bool CImageReference::EnsureMap() {
    if (m_map) return true;
    std::unique_ptr<PixelMap> map(new (std::nothrow) PixelMap());
    if (!map || !map->InitIdentity(m_info->m_width, m_info->m_height)) return false;
    m_map = std::move(map);
    m_sourceInfo = *m_info;
    return true;
}

bool CImageReference::CopyAll(std::uint32_t length, void* destination) const {
    if (!HasData() || length != m_size || !destination) return false;
    if (!m_map) {
        std::memcpy(destination, Source(), m_size);
        return true;
    }
    auto* to = static_cast<std::uint8_t*>(destination);
    RowPass(Rows(), m_map.get(), m_info->m_width, m_info->m_bytesPerLine)
        .Write(0, m_info->m_height, false, false, to, static_cast<std::size_t>(m_info->m_bytesPerLine), true);
    CopyTail(to);
    return true;
}

bool CImageReference::CopyRange(std::uint32_t offset, std::uint32_t length, void* destination) const {
    if (!HasData() || !destination) return false;
    if (static_cast<std::uint64_t>(offset) + length > m_size) return false;
    const std::uint8_t* bytes = Data();
    if (!bytes) return false;
    std::memcpy(destination, bytes + offset, length);
    return true;
}

bool CImageReference::FlipToTopDownRgb() {
    if (!HasData() || !RowsFit(m_info.get(), m_size)) return false;
    // Same size as the buffer: bytes past the last row (when the buffer is
    // not a whole number of rows) stay where they are, so Size() stays true.
    PixelBuffer out = PixelBuffer::Acquire(m_size);
    if (!out) return false;
    RowPass(Rows(), m_map.get(), m_info->m_width, m_info->m_bytesPerLine)
        .Write(0, m_info->m_height, true, true, out.Data(), static_cast<std::size_t>(m_info->m_bytesPerLine), true);
    CopyTail(out.Data());
    m_data.Swap(out);
    m_frame.reset();
    m_map.reset();
    return true;
}

bool CImageReference::CopyRowsTopDownRgb(std::uint32_t first, std::uint32_t count, void* destination) const {
    if (!HasData() || !destination || !RowsFit(m_info.get(), m_size)) return false;
    if (static_cast<std::uint64_t>(first) + count > static_cast<std::uint64_t>(m_info->m_height)) return false;
    if (count == 0) return true;
    RowPass(Rows(), m_map.get(), m_info->m_width, m_info->m_bytesPerLine)
        .Write(static_cast<std::int32_t>(first), static_cast<std::int32_t>(count), true, true,
               static_cast<std::uint8_t*>(destination), static_cast<std::size_t>(m_info->m_bytesPerLine), true);
    return true;
}

bool CImageReference::CopyRowsTopDownPacked(std::uint32_t first, std::uint32_t count, bool gray,
                                            void* destination) const {
    if (!HasData() || !destination || !RowsFit(m_info.get(), m_size)) return false;
    if (static_cast<std::uint64_t>(first) + count > static_cast<std::uint64_t>(m_info->m_height)) return false;
    if (count == 0) return true;
    const std::size_t width = static_cast<std::size_t>(m_info->m_width);
    const RowPass pass(Rows(), m_map.get(), m_info->m_width, m_info->m_bytesPerLine);
    auto* out = static_cast<std::uint8_t*>(destination);
    if (!gray) {
        pass.Write(static_cast<std::int32_t>(first), static_cast<std::int32_t>(count), true, true, out, width * 3,
                   false);
        return true;
    }
    // A few rows at a time through a small buffer that stays in the cache.
    constexpr std::uint32_t kRowsAtOnce = 8;
    std::vector<std::uint8_t> rgb;
    try {
        rgb.resize(width * 3 * std::min(count, kRowsAtOnce));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (std::uint32_t done = 0; done < count;) {
        const std::uint32_t rows = std::min(count - done, kRowsAtOnce);
        pass.Write(static_cast<std::int32_t>(first + done), static_cast<std::int32_t>(rows), true, true, rgb.data(),
                   width * 3, false);
        const std::uint8_t* p = rgb.data();
        for (std::size_t i = 0, n = width * rows; i < n; ++i, p += 3)
            *out++ = static_cast<std::uint8_t>((77u * p[0] + 150u * p[1] + 29u * p[2] + 128u) >> 8);
        done += rows;
    }
    return true;
}

bool CImageReference::CropAndStretch(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
    if (!m_info || !HasData()) return false;
    const std::int32_t width = m_info->m_width;
    const std::int32_t height = m_info->m_height;
    if (w <= 0 || w > width || h <= 0 || h > height) return false;
    // The rectangle must lie inside the picture.
    if (x < 0 || y < 0 || static_cast<std::int64_t>(x) + w > width || static_cast<std::int64_t>(y) + h > height)
        return false;
    if (!RowsFit(m_info.get(), m_size)) return false;
    if (w == width && h == height) return true;  // the whole picture: nothing moves
    const bool hadMap = static_cast<bool>(m_map);
    if (!EnsureMap()) return false;
    if (!m_map->Stretch(x, y, w, h)) {  // leaves the map as it was
        if (!hadMap) m_map.reset();
        return false;
    }
    return true;
}

bool CImageReference::Cut(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
    if (!m_info || !HasData()) return false;
    const std::int64_t width = m_info->m_width;
    const std::int64_t height = m_info->m_height;
    if (w <= 0 || h <= 0 || x < 0 || y < 0 || x + std::int64_t{w} > width || y + std::int64_t{h} > height) return false;
    if (!RowsFit(m_info.get(), m_size)) return false;
    if (x == 0 && y == 0 && w == width && h == height) return true;
    const std::int64_t stride = (std::int64_t{w} * 3 + 3) / 4 * 4;
    if (stride * h > 0xFFFFFFFFll) return false;
    std::unique_ptr<CImageInfo> info(new (std::nothrow) CImageInfo(w, h, static_cast<std::int32_t>(stride)));
    if (!info) return false;
    const bool hadMap = static_cast<bool>(m_map);
    if (!EnsureMap()) return false;
    if (!m_map->Cut(x, y, w, h)) {  // leaves the map as it was
        if (!hadMap) m_map.reset();
        return false;
    }
    m_info = std::move(info);
    m_size = static_cast<std::uint32_t>(stride * h);
    return true;
}

}  // namespace kiv
