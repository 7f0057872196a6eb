// Chooses the video platform of a new camera object.
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "kivds/camera/IVideoPlatform.h"
#include "kivds/camera/sim/SimVideoPlatform.h"
#include "kivds/platform/Env.h"
#if defined(KIVDS_HAVE_V4L2)
#include "kivds/camera/v4l2/V4l2VideoPlatform.h"
#endif

namespace kiv {
namespace {

// The platform's own capture backend when KIVDS_CAMERA names none.
#if defined(KIVDS_HAVE_V4L2)
constexpr const char kDefaultBackend[] = "v4l2";
#else
constexpr const char kDefaultBackend[] = "sim";  // until the DirectShow backend exists
#endif

}  // namespace

std::unique_ptr<IVideoPlatform> CreateVideoPlatform() {
    const std::optional<std::string> chosen = GetEnv("KIVDS_CAMERA");
    const std::string name = (chosen && !chosen->empty()) ? *chosen : std::string(kDefaultBackend);
    if (name == "sim") return std::make_unique<sim::SimVideoPlatform>(sim::LoadSimConfig());
#if defined(KIVDS_HAVE_V4L2)
    if (name == "v4l2") return std::make_unique<v4l2::V4l2VideoPlatform>();
#endif
    // A misspelt backend must not pass for a camera: no devices at all.
    std::fprintf(stderr, "kivds: unknown camera backend KIVDS_CAMERA=%s; no camera\n", name.c_str());
    sim::SimConfig none;
    none.devices.clear();
    return std::make_unique<sim::SimVideoPlatform>(std::move(none));
}

}  // namespace kiv
