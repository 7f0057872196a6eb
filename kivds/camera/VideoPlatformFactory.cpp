// Chooses the video platform of a new camera object by KIVDS_CAMERA: the
// platform's own capture backend (the first row, also when the variable is
// unset or empty) or the virtual camera. A name that is no backend here is
// reported in one line and gives a camera without devices, never silently the
// virtual camera.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "kivds/camera/IVideoPlatform.h"
#include "kivds/camera/sim/SimVideoPlatform.h"
#include "kivds/platform/AsciiCase.h"
#include "kivds/platform/Env.h"
#if defined(KIVDS_HAVE_V4L2)
#include "kivds/camera/v4l2/V4l2VideoPlatform.h"
#endif
#ifdef _WIN32
#include "kivds/camera/dshow/DShowFactory.h"
#endif

namespace kiv {
namespace {

std::unique_ptr<IVideoPlatform> MakeVirtualCamera() {
    return std::make_unique<sim::SimVideoPlatform>(sim::LoadSimConfig());
}

struct Backend {
    const char* name;
    std::unique_ptr<IVideoPlatform> (*make)();
};

constexpr Backend kBackends[] = {
#if defined(KIVDS_HAVE_V4L2)
    {"v4l2", [] { return std::unique_ptr<IVideoPlatform>(std::make_unique<v4l2::V4l2VideoPlatform>()); }},
#endif
#ifdef _WIN32
    {"dshow", &dshow::MakeDirectShowPlatform},
#endif
    {"sim", &MakeVirtualCamera},
};

}  // namespace

std::unique_ptr<IVideoPlatform> CreateVideoPlatform(const std::string& name) {
    for (const Backend& backend : kBackends)
        if (EqualsIgnoringAsciiCase(std::string_view(name), std::string_view(backend.name))) return backend.make();
    return nullptr;
}

std::unique_ptr<IVideoPlatform> CreateVideoPlatform() {
    const std::optional<std::string> chosen = GetEnv("KIVDS_CAMERA");
    if (!chosen || chosen->empty()) return kBackends[0].make();
    if (std::unique_ptr<IVideoPlatform> platform = CreateVideoPlatform(*chosen)) return platform;
    std::string known;
    for (const Backend& backend : kBackends) known += (known.empty() ? "" : " or ") + std::string(backend.name);
    std::fprintf(stderr, "kivds: unknown camera backend KIVDS_CAMERA=%s (%s): no camera\n", chosen->c_str(),
                 known.c_str());
    return std::make_unique<sim::SimVideoPlatform>(sim::SimConfig());
}

}  // namespace kiv
