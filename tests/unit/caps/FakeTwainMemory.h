// A stand-in for the source manager's memory functions: every block is its
// own exactly-sized heap allocation (so AddressSanitizer sees any overrun),
// and allocations, locks, unlocks and frees are counted per handle.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "kivds/protocol/TwainMemory.h"

namespace kivtest {

class FakeTwainMemory {
public:
    struct Block {
        std::unique_ptr<std::uint8_t[]> data;
        std::size_t size = 0;
        int locks = 0;  // current lock count
        bool freed = false;
        bool ownedByApp = false;
    };

    FakeTwainMemory() {
        saved_ = kiv::g_entryPoints;
        instance_ = this;
        kiv::g_entryPoints.DSM_MemAllocate = &Allocate;
        kiv::g_entryPoints.DSM_MemFree = &Free;
        kiv::g_entryPoints.DSM_MemLock = &Lock;
        kiv::g_entryPoints.DSM_MemUnlock = &Unlock;
    }
    ~FakeTwainMemory() {
        kiv::g_entryPoints = saved_;
        instance_ = nullptr;
    }
    FakeTwainMemory(const FakeTwainMemory&) = delete;
    FakeTwainMemory& operator=(const FakeTwainMemory&) = delete;

    // A container the application owns, holding exactly these bytes.
    twain::TW_HANDLE AppBlock(const std::vector<std::uint8_t>& bytes) {
        twain::TW_HANDLE h = NewBlock(bytes.size());
        if (!bytes.empty()) std::memcpy(blocks_[h].data.get(), bytes.data(), bytes.size());
        blocks_[h].ownedByApp = true;
        return h;
    }

    const Block& Info(twain::TW_HANDLE h) const { return blocks_.at(h); }
    std::vector<std::uint8_t> Bytes(twain::TW_HANDLE h) const {
        const Block& b = blocks_.at(h);
        return std::vector<std::uint8_t>(b.data.get(), b.data.get() + b.size);
    }
    // Blocks the source allocated and did not free.
    int LiveSourceBlocks() const {
        int n = 0;
        for (const auto& [h, b] : blocks_)
            if (!b.ownedByApp && !b.freed) ++n;
        return n;
    }
    int LockedBlocks() const {
        int n = 0;
        for (const auto& [h, b] : blocks_)
            if (b.locks != 0) ++n;
        return n;
    }

    int allocations = 0;
    int frees = 0;
    int lockCalls = 0;
    bool failAllocate = false;
    bool failLock = false;

private:
    twain::TW_HANDLE NewBlock(std::size_t size) {
        auto* key = new char;  // a unique handle value, distinct from the data
        handles_.emplace_back(key);
        Block& b = blocks_[key];
        b.data.reset(new std::uint8_t[size == 0 ? 1 : size]());
        b.size = size;
        return key;
    }
    static twain::TW_HANDLE KIV_TWAIN_CALL Allocate(twain::TW_UINT32 size) {
        if (instance_->failAllocate) return nullptr;
        ++instance_->allocations;
        return instance_->NewBlock(size);
    }
    static void KIV_TWAIN_CALL Free(twain::TW_HANDLE h) {
        ++instance_->frees;
        auto it = instance_->blocks_.find(h);
        if (it != instance_->blocks_.end()) it->second.freed = true;
    }
    static twain::TW_MEMREF KIV_TWAIN_CALL Lock(twain::TW_HANDLE h) {
        ++instance_->lockCalls;
        auto it = instance_->blocks_.find(h);
        if (instance_->failLock || it == instance_->blocks_.end() || it->second.freed) return nullptr;
        ++it->second.locks;
        return it->second.data.get();
    }
    static void KIV_TWAIN_CALL Unlock(twain::TW_HANDLE h) {
        auto it = instance_->blocks_.find(h);
        if (it != instance_->blocks_.end()) --it->second.locks;
    }

    static inline FakeTwainMemory* instance_ = nullptr;
    twain::TW_ENTRYPOINT saved_{};
    std::map<twain::TW_HANDLE, Block> blocks_;
    std::vector<std::unique_ptr<char>> handles_;
};

// Little helpers to build and read the TWAIN container records byte by byte.
inline void PutU16(std::vector<std::uint8_t>& v, std::size_t at, std::uint16_t x) { std::memcpy(&v[at], &x, 2); }
inline void PutU32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) { std::memcpy(&v[at], &x, 4); }
inline std::uint16_t GetU16(const std::vector<std::uint8_t>& v, std::size_t at) {
    std::uint16_t x;
    std::memcpy(&x, &v.at(at + 1) - 1, 2);
    return x;
}
inline std::uint32_t GetU32(const std::vector<std::uint8_t>& v, std::size_t at) {
    std::uint32_t x;
    std::memcpy(&x, &v.at(at + 3) - 3, 4);
    return x;
}

inline std::vector<std::uint8_t> OneValueBytes(std::uint16_t itemType, std::uint32_t item) {
    std::vector<std::uint8_t> v(6);
    PutU16(v, 0, itemType);
    PutU32(v, 2, item);
    return v;
}

// A TW_ENUMERATION with `width`-byte elements; exactly 14 + n*width bytes.
inline std::vector<std::uint8_t> EnumerationBytes(std::uint16_t itemType, std::size_t width,
                                                  const std::vector<std::uint32_t>& items, std::uint32_t current,
                                                  std::uint32_t def = 0) {
    std::vector<std::uint8_t> v(14 + items.size() * width);
    PutU16(v, 0, itemType);
    PutU32(v, 2, static_cast<std::uint32_t>(items.size()));
    PutU32(v, 6, current);
    PutU32(v, 10, def);
    for (std::size_t i = 0; i < items.size(); ++i) std::memcpy(&v[14 + i * width], &items[i], width);
    return v;
}

// A decoded answer of the source.
struct Decoded {
    std::uint16_t itemType = 0;
    std::uint32_t item = 0;          // TW_ONEVALUE
    std::uint32_t numItems = 0;      // TW_ENUMERATION / TW_ARRAY
    std::uint32_t currentIndex = 0;  // TW_ENUMERATION
    std::uint32_t defaultIndex = 0;
    std::vector<std::uint32_t> items;  // zero-extended elements
    std::size_t size = 0;
};

inline Decoded Decode(const std::vector<std::uint8_t>& b, std::uint16_t conType, std::size_t width) {
    Decoded d;
    d.size = b.size();
    d.itemType = GetU16(b, 0);
    std::size_t first = 0;
    if (conType == twain::TWON_ONEVALUE) {
        d.item = GetU32(b, 2);
        return d;
    }
    d.numItems = GetU32(b, 2);
    if (conType == twain::TWON_ENUMERATION) {
        d.currentIndex = GetU32(b, 6);
        d.defaultIndex = GetU32(b, 10);
        first = 14;
    } else {
        first = 6;
    }
    for (std::uint32_t i = 0; i < d.numItems; ++i) {
        std::uint32_t x = 0;
        std::memcpy(&x, &b.at(first + (i + 1) * width - 1) - (width - 1), width);
        d.items.push_back(x);
    }
    return d;
}

}  // namespace kivtest
