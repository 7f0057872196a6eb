#include "kivds/twain/ImageRegion.h"

#include <cstring>
#include <vector>

namespace kiv {

bool CutToFrame(std::unique_ptr<CImageReference>& still, const KivRect& frame) {
    if (!still || !still->HasData()) return false;
    const std::int64_t width = still->Width();
    const std::int64_t height = still->Height();
    const std::int64_t stride = still->BytesPerLine();
    if (frame.left < 0 || frame.top < 0 || frame.right > width || frame.bottom > height ||
        frame.right <= frame.left || frame.bottom <= frame.top)
        return false;
    if (frame.left == 0 && frame.top == 0 && frame.right == width && frame.bottom == height) return true;
    if (stride < width * 3 || static_cast<std::uint64_t>(stride * height) > still->Size()) return false;

    const std::int64_t cutWidth = frame.right - frame.left;
    const std::int64_t cutHeight = frame.bottom - frame.top;
    const std::int64_t cutStride = (cutWidth * 3 + 3) / 4 * 4;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(cutStride * cutHeight), 0);
    const std::uint8_t* source = still->Data();
    // Bottom-up buffers: picture row y is buffer row (height - 1 - y).
    for (std::int64_t row = 0; row < cutHeight; ++row) {
        const std::int64_t pictureRow = frame.top + row;
        const std::uint8_t* from = source + (height - 1 - pictureRow) * stride + frame.left * 3;
        std::uint8_t* to = bytes.data() + (cutHeight - 1 - row) * cutStride;
        std::memcpy(to, from, static_cast<std::size_t>(cutWidth * 3));
    }
    auto cut = std::make_unique<CImageReference>(static_cast<std::int32_t>(cutWidth),
                                                 static_cast<std::int32_t>(cutHeight),
                                                 static_cast<std::int32_t>(cutStride));
    if (!cut->SetData(static_cast<std::uint32_t>(bytes.size()), bytes.data())) return false;
    still = std::move(cut);
    return true;
}

}  // namespace kiv
