// Small portable stand-ins for OS handle types used across the layers.
#pragma once

namespace kiv {

// An opaque window: HWND on Windows, a backend's window object elsewhere.
// Null means "no window".
using WindowHandle = void*;

}  // namespace kiv
