#include "kivds/camera/v4l2/PreviewPayload.h"

#include <algorithm>

#include <linux/videodev2.h>

namespace kiv {
namespace v4l2 {

bool PreviewReducer::Reduce(const std::uint8_t* data, std::size_t size, const PayloadFormat& format,
                            const SourceRect& source, std::int32_t width, std::int32_t height, VideoFrame& reduced,
                            SourceRect& part) {
    if (!data || width <= 0 || height <= 0 || source.width <= 0 || source.height <= 0) return false;
    if (!m_buffer || m_buffer.use_count() != 1) m_buffer = std::make_shared<std::vector<std::uint8_t>>();
    std::vector<std::uint8_t>& pixels = *m_buffer;
    if (format.pixelFormat == V4L2_PIX_FMT_MJPEG) {
        const convert::Scale scale = convert::PreviewScale(source.width, source.height, width, height);
        std::int32_t w = 0, h = 0, stride = 0;
        if (m_decoder.Decode(data, size, pixels, w, h, stride, scale) == convert::DecodeResult::Failed) return false;
        if (w != convert::Scaled(format.width, scale) || h != convert::Scaled(format.height, scale)) return false;
        // The scaled rectangle: its first pixel rounded down, its end up.
        part.left = static_cast<std::int32_t>(static_cast<std::int64_t>(source.left) * scale.num / scale.denom);
        part.top = static_cast<std::int32_t>(static_cast<std::int64_t>(source.top) * scale.num / scale.denom);
        part.width = std::min(w, convert::Scaled(source.left + source.width, scale)) - part.left;
        part.height = std::min(h, convert::Scaled(source.top + source.height, scale)) - part.top;
        reduced.width = w;
        reduced.height = h;
        reduced.stride = stride;
    } else {
        const std::int32_t stride = Bgr24Stride(width);
        pixels.resize(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
        if (!convert::YuyvSampleToBgr24BottomUp(data, size, format.bytesPerLine, format.width, format.height,
                                                source.left, source.top, source.width, source.height, width, height,
                                                pixels.data(), stride))
            return false;
        part = SourceRect{0, 0, width, height};
        reduced.width = width;
        reduced.height = height;
        reduced.stride = stride;
    }
    reduced.bytes = m_buffer;
    return true;
}

}  // namespace v4l2
}  // namespace kiv
