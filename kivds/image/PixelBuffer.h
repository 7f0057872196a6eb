// Owning handle to a block of pixel memory whose storage goes back to a small
// process-wide pool when released, so that successive stills reuse the same
// few multi-megabyte blocks instead of mapping (and first-touching) fresh
// pages for every still.
//
// The pool keeps at most a few free blocks and a bounded number of bytes; it
// never changes process-wide allocator settings (the data source lives in the
// application's process).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kiv {

class PixelBuffer {
public:
    PixelBuffer() = default;
    ~PixelBuffer() { Reset(); }
    PixelBuffer(PixelBuffer&& other) noexcept;
    PixelBuffer& operator=(PixelBuffer&& other) noexcept;
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

    // A block of at least size bytes (contents undefined), taken from the
    // pool when one fits, else newly allocated. Empty handle when size is 0
    // or there is no memory.
    static PixelBuffer Acquire(std::size_t size);

    std::uint8_t* Data() { return m_storage.get(); }
    const std::uint8_t* Data() const { return m_storage.get(); }
    std::size_t Size() const { return m_size; }
    explicit operator bool() const { return m_storage != nullptr; }

    // Gives the storage back to the pool; the handle becomes empty.
    void Reset();
    void Swap(PixelBuffer& other) noexcept;

private:
    PixelBuffer(std::unique_ptr<std::uint8_t[]> storage, std::size_t capacity, std::size_t size)
        : m_storage(std::move(storage)), m_capacity(capacity), m_size(size) {}

    std::unique_ptr<std::uint8_t[]> m_storage;
    std::size_t m_capacity = 0;  // bytes allocated
    std::size_t m_size = 0;      // bytes asked for
};

// Introspection and control of the pool, for tests and for releasing memory
// when the source is closed.
struct PixelPoolStats {
    std::size_t freeBlocks;
    std::size_t freeBytes;
    std::uint64_t allocations;  // blocks newly allocated since start
    std::uint64_t reuses;       // requests served from the pool since start
    std::size_t reservedSlots;  // free-list entries that can be added without allocating
};
PixelPoolStats GetPixelPoolStats();
// Frees every block the pool holds (blocks in use are unaffected).
void TrimPixelPool();

}  // namespace kiv
