// The camera backend of a Windows build, chosen by KIVDS_CAMERA at every new
// camera object. No Windows header: the factory includes this.
#pragma once

#include <memory>
#include <string>

#include "kivds/camera/IVideoPlatform.h"

namespace kiv {
namespace dshow {

enum class BackendChoice { DirectShow, Virtual, Unknown };

// "dshow" (also when unset or empty) or "sim", ASCII case ignored; anything
// else is Unknown.
BackendChoice ParseBackendChoice(const std::string* value);

// DirectShow, the virtual camera (configured by KIVDS_SIM), or for an
// unknown name one line on standard error and a camera with no device.
std::unique_ptr<IVideoPlatform> CreateWindowsVideoPlatform();

}  // namespace dshow
}  // namespace kiv
