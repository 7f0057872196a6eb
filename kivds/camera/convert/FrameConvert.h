// Conversion of camera payloads to the frame the camera logic takes: bottom-up
// rows of blue, green, red, each row padded with zeros to a multiple of 4.
// YUYV (BT.601, limited range) goes through libyuv one row at a time; MJPEG
// through TurboJPEG straight into the bottom-up layout. Pure functions of their
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
    // stride = Bgr24Stride(width). A stream without Huffman tables decodes with
    // the standard ones.
    DecodeResult Decode(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& dst, std::int32_t& width,
                        std::int32_t& height, std::int32_t& stride);

private:
    void* m_handle = nullptr;  // tjhandle
};

}  // namespace convert
}  // namespace kiv
