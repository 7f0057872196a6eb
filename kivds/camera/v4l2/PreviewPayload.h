// The software preview's view of a camera payload: the preview reduces it on
// its delivery thread to what its picture needs. MJPEG is decoded at the
// smallest DCT scale that still covers the source rectangle at the picture's
// size; YUYV is converted only at the pixels the picture samples. The
// payload's bytes are shared, never copied; a still decodes the same payload
// at full size elsewhere (V4l2VideoPlatform::GetLatestFrame).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "kivds/camera/SoftwarePreview.h"
#include "kivds/camera/convert/FrameConvert.h"

namespace kiv {
namespace v4l2 {

// The stream a payload comes from.
struct PayloadFormat {
    std::uint32_t pixelFormat = 0;  // V4L2_PIX_FMT_MJPEG or V4L2_PIX_FMT_YUYV
    std::int32_t width = 0, height = 0;
    std::int32_t bytesPerLine = 0;  // YUYV rows
};

// The preview's decoder and the buffer its reduced frames reuse: one
// delivery thread at a time.
class PreviewReducer {
public:
    // As IPreviewPayload::Reduce, for the payload data[0, size).
    bool Reduce(const std::uint8_t* data, std::size_t size, const PayloadFormat& format, const SourceRect& source,
                std::int32_t width, std::int32_t height, VideoFrame& reduced, SourceRect& part);

private:
    convert::MjpegDecoder m_decoder;
    std::shared_ptr<std::vector<std::uint8_t>> m_buffer;  // reused once the preview let go of it
};

class PreviewPayload final : public IPreviewPayload {
public:
    PreviewPayload(std::shared_ptr<const std::vector<std::uint8_t>> bytes, const PayloadFormat& format,
                   std::shared_ptr<PreviewReducer> reducer)
        : m_bytes(std::move(bytes)), m_format(format), m_reducer(std::move(reducer)) {}
    bool Reduce(const SourceRect& source, std::int32_t width, std::int32_t height, VideoFrame& reduced,
                SourceRect& part) override {
        return m_bytes && m_reducer &&
               m_reducer->Reduce(m_bytes->data(), m_bytes->size(), m_format, source, width, height, reduced, part);
    }

private:
    std::shared_ptr<const std::vector<std::uint8_t>> m_bytes;
    PayloadFormat m_format;
    std::shared_ptr<PreviewReducer> m_reducer;
};

}  // namespace v4l2
}  // namespace kiv
