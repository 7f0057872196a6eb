#include "kivds/camera/convert/FrameConvert.h"

#include <cstring>
#include <limits>

#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <turbojpeg.h>

namespace kiv {
namespace convert {
namespace {

// A picture larger than this is refused rather than allocated.
constexpr std::int64_t kMaxPixels = 16384LL * 16384LL;

}  // namespace

bool YuyvToBgr24BottomUp(const std::uint8_t* src, std::size_t srcSize, std::int32_t srcStride, std::int32_t width,
                         std::int32_t height, std::uint8_t* dst, std::int32_t dstStride) {
    if (!src || !dst || width <= 0 || height <= 0 || (width & 1) != 0) return false;
    if (static_cast<std::int64_t>(width) * height > kMaxPixels) return false;
    if (srcStride < width * 2 || dstStride < width * 3) return false;
    const std::int64_t need = static_cast<std::int64_t>(srcStride) * (height - 1) + width * 2;
    if (static_cast<std::int64_t>(srcSize) < need) return false;
    // One ARGB row, reused: the converted row stays in the cache on its way
    // to the destination.
    std::vector<std::uint8_t> argb(static_cast<std::size_t>(width) * 4);
    const std::size_t pad = static_cast<std::size_t>(dstStride) - static_cast<std::size_t>(width) * 3;
    for (std::int32_t y = 0; y < height; ++y) {
        const std::uint8_t* in = src + static_cast<std::ptrdiff_t>(y) * srcStride;
        std::uint8_t* out = dst + static_cast<std::ptrdiff_t>(height - 1 - y) * dstStride;
        libyuv::YUY2ToARGB(in, srcStride, argb.data(), width * 4, width, 1);
        libyuv::ARGBToRGB24(argb.data(), width * 4, out, dstStride, width, 1);
        if (pad) std::memset(out + static_cast<std::size_t>(width) * 3, 0, pad);
    }
    return true;
}

bool YuyvSampleToBgr24BottomUp(const std::uint8_t* src, std::size_t srcSize, std::int32_t srcStride,
                               std::int32_t frameWidth, std::int32_t frameHeight, std::int32_t left, std::int32_t top,
                               std::int32_t width, std::int32_t height, std::int32_t outWidth, std::int32_t outHeight,
                               std::uint8_t* dst, std::int32_t dstStride) {
    if (!src || !dst || frameWidth <= 0 || frameHeight <= 0 || (frameWidth & 1) != 0) return false;
    if (outWidth <= 0 || outHeight <= 0 || static_cast<std::int64_t>(outWidth) * outHeight > kMaxPixels) return false;
    if (left < 0 || top < 0 || width <= 0 || height <= 0 || width > frameWidth - left || height > frameHeight - top)
        return false;
    if (srcStride < frameWidth * 2 || dstStride < outWidth * 3) return false;
    const std::int64_t need = static_cast<std::int64_t>(srcStride) * (frameHeight - 1) + frameWidth * 2;
    if (static_cast<std::int64_t>(srcSize) < need) return false;
    // Each sampled pixel becomes a macropixel of its own (its Y twice, the
    // U and V of its pair), so that libyuv gives it exactly the colour the
    // whole-frame conversion gives it.
    std::vector<std::uint32_t> columns(static_cast<std::size_t>(outWidth));
    for (std::int32_t dx = 0; dx < outWidth; ++dx)
        columns[static_cast<std::size_t>(dx)] = static_cast<std::uint32_t>(NearestSource(left, width, outWidth, dx));
    std::vector<std::uint8_t> yuyv(static_cast<std::size_t>(outWidth) * 4);
    std::vector<std::uint8_t> argb(static_cast<std::size_t>(outWidth) * 8);
    const std::size_t pad = static_cast<std::size_t>(dstStride) - static_cast<std::size_t>(outWidth) * 3;
    for (std::int32_t y = 0; y < outHeight; ++y) {
        const std::int32_t sy = NearestSource(top, height, outHeight, y);
        const std::uint8_t* in = src + static_cast<std::ptrdiff_t>(sy) * srcStride;
        std::uint8_t* packed = yuyv.data();
        for (const std::uint32_t sx : columns) {
            const std::uint8_t* pair = in + (sx & ~1u) * 2;
            const std::uint8_t luma = in[sx * 2];
            packed[0] = luma;
            packed[1] = pair[1];
            packed[2] = luma;
            packed[3] = pair[3];
            packed += 4;
        }
        libyuv::YUY2ToARGB(yuyv.data(), outWidth * 4, argb.data(), outWidth * 8, outWidth * 2, 1);
        std::uint8_t* out = dst + static_cast<std::ptrdiff_t>(outHeight - 1 - y) * dstStride;
        const std::uint8_t* pixel = argb.data();
        for (std::int32_t dx = 0; dx < outWidth; ++dx, pixel += 8, out += 3) {
            out[0] = pixel[0];
            out[1] = pixel[1];
            out[2] = pixel[2];
        }
        if (pad) std::memset(out, 0, pad);
    }
    return true;
}

Scale PreviewScale(std::int32_t width, std::int32_t height, std::int32_t outWidth, std::int32_t outHeight) {
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    Scale best;
    for (int i = 0; factors && i < count; ++i) {
        const Scale s{factors[i].num, factors[i].denom};
        if (s.num <= 0 || s.denom <= 0 || s.num > s.denom) continue;
        if (Scaled(width, s) < outWidth || Scaled(height, s) < outHeight) continue;
        if (static_cast<std::int64_t>(s.num) * best.denom < static_cast<std::int64_t>(best.num) * s.denom) best = s;
    }
    return best;
}

MjpegDecoder::MjpegDecoder() : m_handle(tjInitDecompress()) {}

MjpegDecoder::~MjpegDecoder() {
    if (m_handle) tjDestroy(static_cast<tjhandle>(m_handle));
}

bool MjpegDecoder::ReadSize(const std::uint8_t* data, std::size_t size, std::int32_t& width, std::int32_t& height) {
    if (!m_handle || !data || size == 0 || size > std::numeric_limits<unsigned long>::max()) return false;
    int w = 0, h = 0, subsamp = 0, colorspace = 0;
    if (tjDecompressHeader3(static_cast<tjhandle>(m_handle), data, static_cast<unsigned long>(size), &w, &h, &subsamp,
                            &colorspace) != 0)
        return false;
    if (w <= 0 || h <= 0 || static_cast<std::int64_t>(w) * h > kMaxPixels) return false;
    width = w;
    height = h;
    return true;
}

DecodeResult MjpegDecoder::Decode(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& dst,
                                  std::int32_t& width, std::int32_t& height, std::int32_t& stride, Scale scale) {
    std::int32_t w = 0, h = 0;
    if (!ReadSize(data, size, w, h)) return DecodeResult::Failed;
    if (scale.num <= 0 || scale.denom <= 0) return DecodeResult::Failed;
    w = Scaled(w, scale);
    h = Scaled(h, scale);
    const std::int32_t pitch = Bgr24Stride(w);
    const std::size_t need = static_cast<std::size_t>(pitch) * static_cast<std::size_t>(h);
    if (dst.size() != need) {
        dst.assign(need, 0);
    } else if (pitch != w * 3) {
        // Reused buffer: only the row padding needs clearing, the decoder writes the rest.
        for (std::int32_t y = 0; y < h; ++y)
            std::memset(dst.data() + static_cast<std::size_t>(y) * pitch + static_cast<std::size_t>(w) * 3, 0,
                        static_cast<std::size_t>(pitch - w * 3));
    }
    tjhandle handle = static_cast<tjhandle>(m_handle);
    const int r = tjDecompress2(handle, data, static_cast<unsigned long>(size), dst.data(), w, pitch, h, TJPF_BGR,
                                TJFLAG_BOTTOMUP);
    DecodeResult result = DecodeResult::Ok;
    if (r != 0) {
        // A warning (a truncated or slightly damaged stream) still leaves a
        // whole picture; an error leaves none.
        if (tjGetErrorCode(handle) != TJERR_WARNING) return DecodeResult::Failed;
        result = DecodeResult::Partial;
    }
    width = w;
    height = h;
    stride = pitch;
    return result;
}

}  // namespace convert
}  // namespace kiv
