#include "kivds/twain/ImageRegion.h"

namespace kiv {

bool CutToFrame(std::unique_ptr<CImageReference>& still, const KivRect& frame) {
    if (!still || !still->HasData()) return false;
    const std::int64_t width = still->Width();
    const std::int64_t height = still->Height();
    if (frame.left < 0 || frame.top < 0 || frame.right > width || frame.bottom > height || frame.right <= frame.left ||
        frame.bottom <= frame.top)
        return false;
    // The cut is kept as part of the still's map: the transfer reads the
    // region straight from the camera's frame.
    return still->Cut(frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top);
}

}  // namespace kiv
