// Chooses the video platform of a new camera object.
#include <memory>

#include "kivds/camera/IVideoPlatform.h"
#include "kivds/camera/sim/SimVideoPlatform.h"
#include "kivds/platform/Env.h"
#ifdef _WIN32
#include "kivds/camera/dshow/DShowFactory.h"
#endif

namespace kiv {

std::unique_ptr<IVideoPlatform> CreateVideoPlatform() {
#ifdef _WIN32
    // KIVDS_CAMERA=dshow (the default) or sim.
    return dshow::CreateWindowsVideoPlatform();
#else
    // KIVDS_CAMERA=sim selects the virtual camera. It is also the default
    // while no platform capture backend is built in here.
    return std::make_unique<sim::SimVideoPlatform>(sim::LoadSimConfig());
#endif
}

}  // namespace kiv
