#include "kivds/image/PixelMap.h"

#include <cstring>
#include <deque>
#include <mutex>
#include <utility>

namespace kiv {
namespace {

// The column plans of the geometries used last. Stills of one camera repeat
// their zoom and image frame from one transfer to the next: each plan is
// built once and looked up (a comparison of the columns) afterwards.
std::shared_ptr<const pixel::StretchColumns> SharedPlan(const std::vector<std::uint32_t>& columns, bool shuffle,
                                                        bool rgb) {
    struct Entry {
        std::vector<std::uint32_t> columns;
        bool shuffle, rgb;
        std::shared_ptr<const pixel::StretchColumns> plan;
    };
    constexpr std::size_t kEntries = 8;
    static std::mutex mutex;
    static std::deque<Entry> entries;  // the newest first
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Entry& e : entries)
            if (e.shuffle == shuffle && e.rgb == rgb && e.columns == columns) return e.plan;
    }
    auto plan = std::make_shared<pixel::StretchColumns>();
    if (!pixel::BuildStretchColumns(columns, shuffle, rgb, *plan)) return nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    entries.push_front(Entry{columns, shuffle, rgb, plan});
    if (entries.size() > kEntries) entries.pop_back();
    return plan;
}

}  // namespace

bool PixelMap::InitIdentity(std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) return false;
    try {
        std::vector<std::int32_t> rows(static_cast<std::size_t>(height));
        for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = static_cast<std::int32_t>(y);
        std::vector<std::uint32_t> columns(static_cast<std::size_t>(width));
        for (std::size_t x = 0; x < columns.size(); ++x) columns[x] = static_cast<std::uint32_t>(x * 3);
        return Rebuild(std::move(rows), std::move(columns), false);
    } catch (...) {
        return false;
    }
}

bool PixelMap::Stretch(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
    const std::int64_t width = Width(), height = Height();
    try {
        std::vector<std::int32_t> rows(m_rows.size());
        for (std::size_t dy = 0; dy < rows.size(); ++dy)
            rows[dy] = m_rows[static_cast<std::size_t>(y + static_cast<std::int64_t>(dy) * h / height)];
        std::vector<std::uint32_t> columns(m_columns.size());
        for (std::size_t dx = 0; dx < columns.size(); ++dx)
            columns[dx] = m_columns[static_cast<std::size_t>(x + static_cast<std::int64_t>(dx) * w / width)];
        return Rebuild(std::move(rows), std::move(columns), m_zeroPadding);
    } catch (...) {
        return false;
    }
}

bool PixelMap::Cut(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
    try {
        std::vector<std::int32_t> rows(m_rows.begin() + y, m_rows.begin() + y + h);
        std::vector<std::uint32_t> columns(m_columns.begin() + x, m_columns.begin() + x + w);
        return Rebuild(std::move(rows), std::move(columns), true);
    } catch (...) {
        return false;
    }
}

bool PixelMap::Rebuild(std::vector<std::int32_t> rows, std::vector<std::uint32_t> columns, bool zeroPadding) {
    bool contiguous = true;
    for (std::size_t i = 1; i < columns.size() && contiguous; ++i) contiguous = columns[i] == columns[0] + i * 3;
    std::shared_ptr<const pixel::StretchColumns> bgr, rgb;
    if (!contiguous) {
        const bool shuffle = pixel::BestKernels().stretchNeedsShuffle;
        bgr = SharedPlan(columns, shuffle, false);
        rgb = SharedPlan(columns, shuffle, true);
        if (!bgr || !rgb) return false;
    }
    m_rows = std::move(rows);
    m_columns = std::move(columns);
    m_contiguous = contiguous;
    m_zeroPadding = zeroPadding;
    m_bgr = std::move(bgr);
    m_rgb = std::move(rgb);
    return true;
}

RowPass::RowPass(const RowSource& source, const PixelMap* map, std::int32_t width, std::int32_t stride)
    : m_source(source), m_map(map), m_width(width), m_stride(stride), m_kernels(pixel::BestKernels()) {}

const std::uint8_t* RowPass::SourceRowBytes(std::int32_t pictureRow) const {
    return m_source.bytes +
           static_cast<std::size_t>(m_source.height - 1 - pictureRow) * static_cast<std::size_t>(m_source.stride);
}

void RowPass::Write(std::int32_t first, std::int32_t count, bool topDown, bool rgb, std::uint8_t* dst,
                    std::size_t dstStride, bool withPadding) const {
    const std::size_t rowBytes = static_cast<std::size_t>(m_width) * 3;
    const std::size_t padding = withPadding ? static_cast<std::size_t>(m_stride) - rowBytes : 0;
    const bool contiguous = !m_map || m_map->ContiguousColumns();
    const std::size_t firstColumn = m_map ? m_map->FirstColumnOffset() : 0;
    const bool zeroPadding = m_map && m_map->ZeroPadding();
    std::int32_t previousSource = -1;
    const std::uint8_t* previousRow = nullptr;
    // Bottom of the picture first: the source buffer is bottom-up, so its
    // rows are read forwards, which the hardware prefetcher follows.
    for (std::int32_t i = count; i-- > 0;) {
        const std::int32_t y = first + i;
        const std::size_t slot = topDown ? static_cast<std::size_t>(i) : static_cast<std::size_t>(count - 1 - i);
        std::uint8_t* to = dst + slot * dstStride;
        const std::int32_t sy = m_map ? m_map->SourceRow(y) : y;
        if (sy == previousSource) {
            std::memcpy(to, previousRow, rowBytes);
        } else {
            const std::uint8_t* from = SourceRowBytes(sy);
            if (contiguous) {
                if (rgb) m_kernels.swapRow(from + firstColumn, to, static_cast<std::size_t>(m_width));
                else std::memcpy(to, from + firstColumn, rowBytes);
            } else {
                const std::size_t available = m_source.size - static_cast<std::size_t>(from - m_source.bytes);
                m_kernels.stretchRow(from, available, m_map->Plan(rgb), to);
            }
        }
        previousSource = sy;
        previousRow = to;
        if (padding == 0) continue;
        if (zeroPadding) {
            std::memset(to + rowBytes, 0, padding);
        } else {
            // Same geometry as the source: the padding of the source row at
            // this place in the buffer.
            std::memcpy(to + rowBytes, SourceRowBytes(y) + rowBytes, padding);
        }
    }
}

}  // namespace kiv
