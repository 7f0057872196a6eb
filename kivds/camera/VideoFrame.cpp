#include "kivds/camera/IVideoPlatform.h"

namespace kiv {

bool IsWellFormed(const VideoFrame& frame) {
    if (!frame.bytes || frame.width <= 0 || frame.height <= 0 || frame.stride <= 0) return false;
    if (frame.stride % 4 != 0) return false;
    if (static_cast<std::int64_t>(frame.stride) < static_cast<std::int64_t>(frame.width) * 3) return false;
    return static_cast<std::uint64_t>(frame.bytes->size()) ==
           static_cast<std::uint64_t>(frame.stride) * static_cast<std::uint64_t>(frame.height);
}

}  // namespace kiv
