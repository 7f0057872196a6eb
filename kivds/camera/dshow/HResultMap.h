// How the DirectShow backend turns a failing HRESULT into the camera seam's
// small result: one table of rules, first match wins, Failed otherwise.
// No Windows header: the table is plain data and testable anywhere.
#pragma once

#include <cstdint>

#include "kivds/camera/IVideoPlatform.h"

namespace kiv {
namespace dshow {

// The step whose HRESULT is mapped.
enum class GraphStep {
    Run,            // IMediaControl::Run
    RenderPreview,  // ICaptureGraphBuilder2::RenderStream of the preview stream
    Other,
};

// Ok for a success code (S_OK, S_FALSE, any non-negative value).
PlatformResult MapHResult(GraphStep step, std::uint32_t hr);

constexpr std::uint32_t kHrNoSystemResources = 0x800705AAu;  // HRESULT of ERROR_NO_SYSTEM_RESOURCES
constexpr std::uint32_t kHrDeviceInUse = 0xC00D3704u;        // the capture device is used elsewhere

}  // namespace dshow
}  // namespace kiv
