// Row kernels behind the image operations, each in a portable version and,
// on x86, vector versions chosen at run time. All versions of a kernel give
// the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kiv {
namespace pixel {

// Copies `pixels` 3-byte pixels from src to dst (not overlapping), exchanging
// the first and third byte of each (BGR <-> RGB).
using SwapRowFn = void (*)(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels);

// Column plan of a horizontal nearest-neighbour stretch: destination pixel dx
// takes the pixel at byte srcOffset[dx] of the source row (for a zoom,
// source pixel x + dx * w / W).
struct StretchColumns {
    std::vector<std::uint32_t> srcOffset;  // byte offset in the source row, per destination pixel
    bool swapRgb = false;                  // each pixel's first and third byte exchanged (BGR <-> RGB)
    // Vector path: groups of kGroupPixels destination pixels whose sources lie
    // within 16 bytes from srcOffset of the group's first pixel (true when
    // w <= W); one 16-byte shuffle pattern per group. Without such groups
    // (groups == 0) every pixel takes the portable path.
    std::vector<std::uint8_t> shuffle;
    std::vector<std::uint32_t> groupOffset;  // srcOffset of each group's first pixel
    std::size_t groups = 0;                  // groups usable by the vector path
};
constexpr std::size_t kGroupPixels = 5;

// Builds the plan for a destination row of width pixels from the source
// columns x .. x + w - 1 (0 < w <= width, x >= 0). withShuffle: also build the
// vector patterns.
bool BuildStretchColumns(std::int32_t x, std::int32_t w, std::int32_t width, bool withShuffle, StretchColumns& plan);

// Builds the plan from the source byte offset of every destination pixel
// (any offsets; the vector groups are used only where the offsets grow and
// each group's sources fit in 16 bytes). swapRgb: destination pixels get their
// bytes in the other order. False when offsets is empty or no memory.
bool BuildStretchColumns(std::vector<std::uint32_t> offsets, bool withShuffle, bool swapRgb, StretchColumns& plan);

// Fills one destination row (plan.srcOffset.size() pixels) from srcRow.
// srcAvailable: bytes readable from srcRow onwards (the vector path reads up
// to 16 bytes from a group's first source pixel and falls back where that
// would leave the buffer).
using StretchRowFn = void (*)(const std::uint8_t* srcRow, std::size_t srcAvailable, const StretchColumns& plan,
                              std::uint8_t* dstRow);

struct Kernels {
    const char* name;
    bool (*supported)();
    SwapRowFn swapRow;
    StretchRowFn stretchRow;
    bool stretchNeedsShuffle;
};

// Every variant, fastest first; the last is the portable one.
const std::vector<Kernels>& AllKernels();
// The fastest supported variant (chosen once).
const Kernels& BestKernels();

}  // namespace pixel
}  // namespace kiv
