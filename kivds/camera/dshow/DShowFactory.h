// The DirectShow backend as the platform factory makes it. No Windows header:
// kivds/camera/VideoPlatformFactory.cpp includes this.
#pragma once

#include <memory>

#include "kivds/camera/IVideoPlatform.h"

namespace kiv {
namespace dshow {

std::unique_ptr<IVideoPlatform> MakeDirectShowPlatform();

}  // namespace dshow
}  // namespace kiv
