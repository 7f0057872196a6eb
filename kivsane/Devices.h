// The cameras the backend offers: the maker's cameras of the platform's
// capture backend (every UVC camera with "any-uvc"), and the virtual camera
// when KIVDS_CAMERA=sim or kiv.conf asks for it. KIVDS_CAMERA, when set,
// names the one backend listed, as for the TWAIN source.
#pragma once

#include <string>
#include <vector>

#include "kivsane/Config.h"

namespace kiv {
namespace sane {

struct DeviceEntry {
    std::string name;     // stable across replugging: made from the device path
    std::string model;    // the model name as the TWAIN source names it
    std::string backend;  // the video platform that lists it ("v4l2", "sim")
    std::wstring path;    // the device path
};

constexpr const char* kVendor = "Orvan";
constexpr const char* kDeviceType = "video camera";

// The device path as a SANE device name: what is not a letter, digit, '.',
// '_' or '-' becomes one '-', a Windows path prefix (\\?\) is dropped.
std::string DeviceNameOfPath(const std::wstring& path);

// The backends to ask, in order.
std::vector<std::string> DeviceBackends(const BackendConfig& config);

std::vector<DeviceEntry> FindDevices(const BackendConfig& config);

}  // namespace sane
}  // namespace kiv
