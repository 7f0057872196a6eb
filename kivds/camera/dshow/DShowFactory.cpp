#include "kivds/camera/dshow/DShowFactory.h"

#include <cstdio>

#include "kivds/camera/dshow/DirectShowWrapper.h"
#include "kivds/camera/sim/SimVideoPlatform.h"
#include "kivds/platform/AsciiCase.h"
#include "kivds/platform/Env.h"

namespace kiv {
namespace dshow {
namespace {

struct Choice {
    const char* name;
    BackendChoice backend;
};
constexpr Choice kChoices[] = {
    {"dshow", BackendChoice::DirectShow},
    {"sim", BackendChoice::Virtual},
};

}  // namespace

BackendChoice ParseBackendChoice(const std::string* value) {
    if (!value || value->empty()) return BackendChoice::DirectShow;
    for (const Choice& choice : kChoices)
        if (EqualsIgnoringAsciiCase(std::string_view(*value), std::string_view(choice.name))) return choice.backend;
    return BackendChoice::Unknown;
}

std::unique_ptr<IVideoPlatform> CreateWindowsVideoPlatform() {
    const std::optional<std::string> value = GetEnv("KIVDS_CAMERA");
    switch (ParseBackendChoice(value ? &*value : nullptr)) {
    case BackendChoice::DirectShow:
        return std::make_unique<CDirectShowWrapper>();
    case BackendChoice::Virtual:
        return std::make_unique<sim::SimVideoPlatform>(sim::LoadSimConfig());
    case BackendChoice::Unknown:
        break;
    }
    std::fprintf(stderr, "kivds: unknown KIVDS_CAMERA \"%s\" (dshow or sim): no camera\n", value->c_str());
    return std::make_unique<sim::SimVideoPlatform>(sim::SimConfig());
}

}  // namespace dshow
}  // namespace kiv
