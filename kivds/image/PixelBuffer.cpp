#include "kivds/image/PixelBuffer.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace kiv {
namespace {

// A still and its converted copy are alive at the same time, and a capture
// may hold a cropped copy besides: a handful of blocks covers the steady state.
constexpr std::size_t kMaxFreeBlocks = 4;
// Upper bound of memory kept while nobody uses it (two 3840x2160 stills and
// change).
constexpr std::size_t kMaxFreeBytes = std::size_t{64} << 20;

struct Block {
    std::unique_ptr<std::uint8_t[]> storage;
    std::size_t capacity;
};

class Pool {
public:
    Pool() { m_free.reserve(kMaxFreeBlocks + 1); }

    // Smallest free block that holds size bytes and is not wastefully large.
    bool Take(std::size_t size, Block& out) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto best = m_free.end();
        for (auto it = m_free.begin(); it != m_free.end(); ++it) {
            if (it->capacity < size || it->capacity / 2 > size) continue;
            if (best == m_free.end() || it->capacity < best->capacity) best = it;
        }
        if (best == m_free.end()) {
            ++m_allocations;
            return false;
        }
        out = std::move(*best);
        m_freeBytes -= out.capacity;
        m_free.erase(best);
        ++m_reuses;
        return true;
    }

    void Give(Block block) {
        if (block.capacity > kMaxFreeBytes) return;  // freed on return
        std::lock_guard<std::mutex> lock(m_mutex);
        // Capacity reserved up front: this push never allocates.
        m_freeBytes += block.capacity;
        m_free.push_back(std::move(block));
        // Over the limits, drop the smallest blocks first: large ones are the
        // expensive ones to map and touch again.
        std::sort(m_free.begin(), m_free.end(), [](const Block& a, const Block& b) { return a.capacity > b.capacity; });
        while (!m_free.empty() && (m_free.size() > kMaxFreeBlocks || m_freeBytes > kMaxFreeBytes)) {
            m_freeBytes -= m_free.back().capacity;
            m_free.pop_back();
        }
    }

    PixelPoolStats Stats() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return {m_free.size(), m_freeBytes, m_allocations, m_reuses, m_free.capacity()};
    }

    // Frees the blocks outside the lock, and keeps the list's reserved
    // capacity: Give runs in noexcept destructors and must never allocate.
    void Trim() {
        std::vector<Block> dropped;
        dropped.reserve(kMaxFreeBlocks + 1);  // may throw here, never in Give
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (Block& block : m_free) dropped.push_back(std::move(block));
            m_free.clear();
            m_freeBytes = 0;
        }
    }

private:
    std::mutex m_mutex;
    std::vector<Block> m_free;
    std::size_t m_freeBytes = 0;
    std::uint64_t m_allocations = 0;
    std::uint64_t m_reuses = 0;
};

// The pool lives until the library's static objects are destroyed (process
// exit or unloading of the data source), and then frees what it holds: an
// application that loads and unloads the source repeatedly keeps nothing.
// Blocks released later still (by other static objects) are simply freed;
// this flag needs no destruction of its own.
bool g_poolGone = false;

class PoolLifetime {
public:
    ~PoolLifetime() {
        pool.Trim();
        g_poolGone = true;
    }
    Pool pool;
};

Pool* ThePool() {
    if (g_poolGone) return nullptr;
    static PoolLifetime lifetime;
    return &lifetime.pool;
}

}  // namespace

PixelBuffer::PixelBuffer(PixelBuffer&& other) noexcept
    : m_storage(std::move(other.m_storage)), m_capacity(other.m_capacity), m_size(other.m_size) {
    other.m_capacity = 0;
    other.m_size = 0;
}

PixelBuffer& PixelBuffer::operator=(PixelBuffer&& other) noexcept {
    if (this != &other) {
        Reset();
        Swap(other);
    }
    return *this;
}

void PixelBuffer::Swap(PixelBuffer& other) noexcept {
    std::swap(m_storage, other.m_storage);
    std::swap(m_capacity, other.m_capacity);
    std::swap(m_size, other.m_size);
}

PixelBuffer PixelBuffer::Acquire(std::size_t size) {
    if (size == 0) return PixelBuffer();
    Block block;
    if (Pool* pool = ThePool(); pool && pool->Take(size, block))
        return PixelBuffer(std::move(block.storage), block.capacity, size);
    std::unique_ptr<std::uint8_t[]> storage(new (std::nothrow) std::uint8_t[size]);
    if (!storage) return PixelBuffer();
    return PixelBuffer(std::move(storage), size, size);
}

void PixelBuffer::Reset() {
    if (!m_storage) return;
    Block block{std::move(m_storage), m_capacity};
    m_capacity = 0;
    m_size = 0;
    if (Pool* pool = ThePool()) pool->Give(std::move(block));  // else freed here
}

PixelPoolStats GetPixelPoolStats() {
    Pool* pool = ThePool();
    return pool ? pool->Stats() : PixelPoolStats{0, 0, 0, 0, 0};
}

void TrimPixelPool() {
    if (Pool* pool = ThePool()) pool->Trim();
}

}  // namespace kiv
