// The digital zoom's bounds and step, shared by the camera's zoom buttons and
// every front end that offers the zoom (the SANE option's range).
#pragma once

namespace kiv {

constexpr float kMinZoom = 1.0f;
constexpr float kMaxZoom = 8.0f;
constexpr float kZoomStep = 0.25f;  // one button press

}  // namespace kiv
