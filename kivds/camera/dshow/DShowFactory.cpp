#include "kivds/camera/dshow/DShowFactory.h"

#include "kivds/camera/dshow/DirectShowWrapper.h"

namespace kiv {
namespace dshow {

std::unique_ptr<IVideoPlatform> MakeDirectShowPlatform() { return std::make_unique<CDirectShowWrapper>(); }

}  // namespace dshow
}  // namespace kiv
