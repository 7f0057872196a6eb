#include "kivds/image/PixelKernels.h"

#include <cstring>
#include <utility>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KIV_PIXEL_X86 1
#include <immintrin.h>
// gcc for Windows does not align the stack for 32-byte spills, which a
// 256-bit function may need in an unoptimised build: 128-bit only there.
#if !defined(_WIN32)
#define KIV_PIXEL_AVX2 1
#endif
#endif

namespace kiv {
namespace pixel {
namespace {

// ---- portable ------------------------------------------------------------

void SwapRowPortable(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i, src += 3, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
    }
}

void StretchPixels(const std::uint8_t* srcRow, const StretchColumns& plan, std::size_t first, std::uint8_t* dstRow) {
    const std::size_t width = plan.srcOffset.size();
    const std::uint32_t* offset = plan.srcOffset.data();
    std::uint8_t* dst = dstRow + first * 3;
    const int outer = plan.swapRgb ? 2 : 0;
    for (std::size_t dx = first; dx < width; ++dx, dst += 3) {
        const std::uint8_t* s = srcRow + offset[dx];
        dst[0] = s[outer];
        dst[1] = s[1];
        dst[2] = s[2 - outer];
    }
}

void StretchRowPortable(const std::uint8_t* srcRow, std::size_t, const StretchColumns& plan, std::uint8_t* dstRow) {
    StretchPixels(srcRow, plan, 0, dstRow);
}

bool Always() { return true; }

#if KIV_PIXEL_X86

// ---- SSSE3: 16 pixels (three 16-byte vectors) per step ------------------

// Output byte j of a 48-byte block comes from input byte j - j%3 + 2 - j%3,
// which lies in the same or a neighbouring 16-byte vector. kSwapMasks[o][i]
// picks the bytes of output vector o found in input vector i (0x80: none).
struct SwapMasks {
    std::uint8_t m[3][3][16];
};
constexpr SwapMasks MakeSwapMasks() {
    SwapMasks masks{};
    for (int o = 0; o < 3; ++o)
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 16; ++j) {
                const int out = o * 16 + j;
                const int in = out - out % 3 + 2 - out % 3;
                masks.m[o][i][j] = static_cast<std::uint8_t>(in / 16 == i ? in % 16 : 0x80);
            }
    return masks;
}
constexpr SwapMasks kSwapMasks = MakeSwapMasks();

__attribute__((target("ssse3"))) void SwapRowSsse3(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels) {
    auto mask = [](int o, int i) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSwapMasks.m[o][i])); };
    const __m128i m00 = mask(0, 0), m01 = mask(0, 1);
    const __m128i m10 = mask(1, 0), m11 = mask(1, 1), m12 = mask(1, 2);
    const __m128i m21 = mask(2, 1), m22 = mask(2, 2);
    const std::size_t blocks = pixels / 16;
    for (std::size_t b = 0; b < blocks; ++b, src += 48, dst += 48) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32));
        const __m128i o0 = _mm_or_si128(_mm_shuffle_epi8(a, m00), _mm_shuffle_epi8(v, m01));
        const __m128i o1 = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, m10), _mm_shuffle_epi8(v, m11)),
                                        _mm_shuffle_epi8(c, m12));
        const __m128i o2 = _mm_or_si128(_mm_shuffle_epi8(v, m21), _mm_shuffle_epi8(c, m22));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), o0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), o1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 32), o2);
    }
    SwapRowPortable(src, dst, pixels - blocks * 16);
}

// 15 pixel bytes per group; the 16th byte stored belongs to the next group's
// first pixel, which that group (or the tail) rewrites.
__attribute__((target("ssse3"), always_inline)) inline void StretchGroup(const std::uint8_t* srcRow,
                                                                         const std::uint32_t* from,
                                                                         const std::uint8_t* shuffle,
                                                                         std::uint8_t* dstRow, std::size_t g) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(srcRow + from[g]));
    const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(shuffle + g * 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dstRow + g * kGroupPixels * 3), _mm_shuffle_epi8(v, m));
}

__attribute__((target("ssse3"))) void StretchRowSsse3(const std::uint8_t* srcRow, std::size_t srcAvailable,
                                                      const StretchColumns& plan, std::uint8_t* dstRow) {
    const std::uint32_t* from = plan.groupOffset.data();
    const std::uint8_t* shuffle = plan.shuffle.data();
    // Offsets grow with the group: only the last groups of the buffer's
    // last row can reach past its end.
    std::size_t safe = plan.groups;
    while (safe > 0 && from[safe - 1] + std::size_t{16} > srcAvailable) --safe;
    std::size_t g = 0;
    for (; g + 4 <= safe; g += 4) {
        StretchGroup(srcRow, from, shuffle, dstRow, g);
        StretchGroup(srcRow, from, shuffle, dstRow, g + 1);
        StretchGroup(srcRow, from, shuffle, dstRow, g + 2);
        StretchGroup(srcRow, from, shuffle, dstRow, g + 3);
    }
    for (; g < safe; ++g) StretchGroup(srcRow, from, shuffle, dstRow, g);
    StretchPixels(srcRow, plan, g * kGroupPixels, dstRow);
}

bool HasSsse3() { return __builtin_cpu_supports("ssse3"); }

#if KIV_PIXEL_AVX2
// ---- AVX2: 8 pixels per step ----------------------------------------------

__attribute__((target("avx2"))) void SwapRowAvx2(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels) {
    // Spread source bytes 0..23 over the two lanes as 0..15 | 12..27, swap the
    // first four pixels of each lane, then gather the 24 result bytes back to
    // the front. Bytes 24..31 of the store are rewritten by the next step.
    const __m256i spread = _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6);
    const __m256i gather = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    const __m256i mask = _mm256_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15,  //
                                          2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
    const std::size_t bytes = pixels * 3;
    std::size_t i = 0;
    for (; i + 32 <= bytes; i += 24) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        v = _mm256_permutevar8x32_epi32(v, spread);
        v = _mm256_shuffle_epi8(v, mask);
        v = _mm256_permutevar8x32_epi32(v, gather);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), v);
    }
    SwapRowSsse3(src + i, dst + i, pixels - i / 3);
}

bool HasAvx2() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("ssse3"); }
#endif  // KIV_PIXEL_AVX2

#endif  // KIV_PIXEL_X86

}  // namespace

bool BuildStretchColumns(std::int32_t x, std::int32_t w, std::int32_t width, bool withShuffle, StretchColumns& plan) {
    if (x < 0 || w <= 0 || width <= 0 || w > width) return false;
    try {
        std::vector<std::uint32_t> offsets(static_cast<std::size_t>(width));
        for (std::size_t dx = 0; dx < offsets.size(); ++dx) {
            const std::int64_t sx = x + static_cast<std::int64_t>(dx) * w / width;
            offsets[dx] = static_cast<std::uint32_t>(sx * 3);
        }
        return BuildStretchColumns(std::move(offsets), withShuffle, false, plan);
    } catch (...) {
        return false;
    }
}

bool BuildStretchColumns(std::vector<std::uint32_t> offsets, bool withShuffle, bool swapRgb, StretchColumns& plan) {
    if (offsets.empty()) return false;
    try {
        plan.srcOffset = std::move(offsets);
        plan.swapRgb = swapRgb;
        plan.groups = 0;
        plan.shuffle.clear();
        plan.groupOffset.clear();
        const std::size_t count = plan.srcOffset.size();
        if (!withShuffle || count < kGroupPixels + 1) return true;
        // A group's 16-byte store must stay inside the row's pixel bytes.
        const std::size_t groups = (count - (kGroupPixels + 1)) / kGroupPixels + 1;
        // The vector path needs growing offsets (its bound check relies on
        // it) and each group's sources within 16 bytes of its first pixel
        // (true of every zoom, w <= W).
        for (std::size_t i = 1; i < count; ++i)
            if (plan.srcOffset[i] < plan.srcOffset[i - 1]) return true;
        for (std::size_t g = 0; g < groups; ++g) {
            const std::size_t first = g * kGroupPixels;
            if (plan.srcOffset[first + kGroupPixels - 1] - plan.srcOffset[first] + 3 > 16) return true;
        }
        plan.groups = groups;
        plan.shuffle.resize(plan.groups * 16);
        plan.groupOffset.resize(plan.groups);
        for (std::size_t g = 0; g < plan.groups; ++g) {
            const std::size_t first = g * kGroupPixels;
            plan.groupOffset[g] = plan.srcOffset[first];
            std::uint8_t* m = &plan.shuffle[g * 16];
            for (std::size_t k = 0; k < kGroupPixels * 3; ++k) {
                const std::size_t byte = swapRgb ? 2 - k % 3 : k % 3;
                m[k] = static_cast<std::uint8_t>(plan.srcOffset[first + k / 3] - plan.srcOffset[first] + byte);
            }
            m[15] = 0x80;  // zero; rewritten by the next group
        }
        return true;
    } catch (...) {
        return false;
    }
}

const std::vector<Kernels>& AllKernels() {
    static const std::vector<Kernels> kernels = {
#if KIV_PIXEL_AVX2
        {"avx2", HasAvx2, SwapRowAvx2, StretchRowSsse3, true},
#endif
#if KIV_PIXEL_X86
        {"ssse3", HasSsse3, SwapRowSsse3, StretchRowSsse3, true},
#endif
        {"portable", Always, SwapRowPortable, StretchRowPortable, false},
    };
    return kernels;
}

const Kernels& BestKernels() {
    static const Kernels* best = [] {
        for (const Kernels& k : AllKernels())
            if (k.supported()) return &k;
        return &AllKernels().back();
    }();
    return *best;
}

}  // namespace pixel
}  // namespace kiv
