#include "kivds/camera/dshow/HResultMap.h"

namespace kiv {
namespace dshow {
namespace {

struct Rule {
    GraphStep step;
    bool anyCode;  // every failing HRESULT of the step
    std::uint32_t hr;
    PlatformResult result;
};

// A device held by another program makes Run fail with one of two codes; a
// preview stream that cannot be connected also means the device is taken.
constexpr Rule kRules[] = {
    {GraphStep::Run, false, kHrNoSystemResources, PlatformResult::Busy},
    {GraphStep::Run, false, kHrDeviceInUse, PlatformResult::Busy},
    {GraphStep::RenderPreview, true, 0, PlatformResult::Busy},
};

}  // namespace

PlatformResult MapHResult(GraphStep step, std::uint32_t hr) {
    if ((hr & 0x80000000u) == 0) return PlatformResult::Ok;
    for (const Rule& rule : kRules)
        if (rule.step == step && (rule.anyCode || rule.hr == hr)) return rule.result;
    return PlatformResult::Failed;
}

}  // namespace dshow
}  // namespace kiv
