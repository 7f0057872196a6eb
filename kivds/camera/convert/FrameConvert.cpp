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
                                  std::int32_t& width, std::int32_t& height, std::int32_t& stride) {
    std::int32_t w = 0, h = 0;
    if (!ReadSize(data, size, w, h)) return DecodeResult::Failed;
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
