// Chooses the video platform of a new camera object.
#include <memory>

#include "kivds/camera/IVideoPlatform.h"
#include "kivds/camera/sim/SimVideoPlatform.h"
#include "kivds/platform/Env.h"

namespace kiv {

std::unique_ptr<IVideoPlatform> CreateVideoPlatform() {
    // KIVDS_CAMERA=sim selects the virtual camera. It is also the default
    // while no platform capture backend is built in.
    return std::make_unique<sim::SimVideoPlatform>(sim::LoadSimConfig());
}

}  // namespace kiv
