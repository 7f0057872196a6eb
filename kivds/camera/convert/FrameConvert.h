// Conversion of camera payloads to the frame the camera logic takes: bottom-up
// rows of blue, green, red, each row padded with zeros to a multiple of 4.
// YUYV (BT.601, limited range) goes through libyuv one row at a time; MJPEG
// through TurboJPEG straight into the bottom-up layout. The preview needs far
// fewer pixels than a frame has: MJPEG is then decoded at a DCT scale
// (PreviewScale) and YUYV converted only where the preview samples it
// (YuyvSampleToBgr24BottomUp). Pure functions of their
// input apart from the decoder's own handle; any thread may call them, one
// thread at a time per MjpegDecoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "kivds/image/Bgr24.h"

namespace kiv {
namespace convert {

// Converts a YUYV picture (top row first, srcStride bytes per row, at least
// width * 2) into dst, bottom-up with dstStride bytes per row (at least
// width * 3). width must be even and positive. The padding bytes of each
// destination row are zeroed. False when the sizes do not fit.
bool YuyvToBgr24BottomUp(const std::uint8_t* src, std::size_t srcSize, std::int32_t srcStride, std::int32_t width,
                         std::int32_t height, std::uint8_t* dst, std::int32_t dstStride);

// Converts only the pixels a nearest-neighbour scaler picks (NearestSource)
// from the rectangle (left, top, width x height) of a YUYV frame of
// frameWidth x frameHeight, into an outWidth x outHeight picture laid out as
// YuyvToBgr24BottomUp's: the same bytes as converting the whole frame and
// sampling it. False when the sizes do not fit.
bool YuyvSampleToBgr24BottomUp(const std::uint8_t* src, std::size_t srcSize, std::int32_t srcStride,
                               std::int32_t frameWidth, std::int32_t frameHeight, std::int32_t left, std::int32_t top,
                               std::int32_t width, std::int32_t height, std::int32_t outWidth, std::int32_t outHeight,
                               std::uint8_t* dst, std::int32_t dstStride);

// A DCT scaling factor of the decoder; 1/1 decodes at full size.
struct Scale {
    int num = 1, denom = 1;
};
// The size `size` has at `scale`, rounded up as the decoder does.
constexpr std::int32_t Scaled(std::int32_t size, Scale scale) {
    return static_cast<std::int32_t>((static_cast<std::int64_t>(size) * scale.num + scale.denom - 1) / scale.denom);
}
// The smallest factor of at most 1/1 the decoder offers at which a part of
// width x height pixels still has at least outWidth x outHeight pixels.
Scale PreviewScale(std::int32_t width, std::int32_t height, std::int32_t outWidth, std::int32_t outHeight);

enum class DecodeResult {
    Ok,       // a complete picture
    Partial,  // a damaged or truncated stream that still produced a whole picture
    Failed,   // not a picture: dst holds nothing usable
};

// A TurboJPEG decompressor (one handle, reused for every frame).
class MjpegDecoder {
public:
    MjpegDecoder();
    ~MjpegDecoder();
    MjpegDecoder(const MjpegDecoder&) = delete;
    MjpegDecoder& operator=(const MjpegDecoder&) = delete;

    // Reads the picture size from the stream's header; false when there is no
    // readable header (the handle could not be made, or the data is not JPEG).
    bool ReadSize(const std::uint8_t* data, std::size_t size, std::int32_t& width, std::int32_t& height);

    // Decodes into dst (resized to stride * height) as bottom-up BGR24 with
    // stride = Bgr24Stride(width), at `scale` of the stream's size. A stream
    // without Huffman tables decodes with the standard ones.
    DecodeResult Decode(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& dst, std::int32_t& width,
                        std::int32_t& height, std::int32_t& stride, Scale scale = Scale());

private:
    void* m_handle = nullptr;  // tjhandle
};

}  // namespace convert
}  // namespace kiv
