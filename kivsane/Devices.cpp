#include "kivsane/Devices.h"

#include <memory>
#include <optional>

#include "kivds/camera/IVideoPlatform.h"
#include "kivds/camera/ModelName.h"
#include "kivds/platform/Env.h"
#include "kivds/platform/Log.h"

namespace kiv {
namespace sane {

std::string DeviceNameOfPath(const std::wstring& path) {
    std::wstring rest = path;
    if (rest.rfind(L"\\\\?\\", 0) == 0) rest.erase(0, 4);
    std::string name;
    for (wchar_t c : rest) {
        const bool keep = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
                          c == L'.' || c == L'_' || c == L'-';
        if (keep) name += static_cast<char>(c);
        else if (!name.empty() && name.back() != '-') name += '-';
    }
    while (!name.empty() && name.back() == '-') name.pop_back();
    return name;
}

std::vector<std::string> DeviceBackends(const BackendConfig& config) {
    const std::optional<std::string> chosen = GetEnv("KIVDS_CAMERA");
    if (chosen && !chosen->empty()) return {*chosen};
    std::vector<std::string> backends{"v4l2"};
    if (config.virtualCamera) backends.emplace_back("sim");
    return backends;
}

std::vector<DeviceEntry> FindDevices(const BackendConfig& config) {
    std::vector<DeviceEntry> found;
    for (const std::string& backend : DeviceBackends(config)) {
        std::unique_ptr<IVideoPlatform> platform = CreateVideoPlatform(backend);
        if (!platform) {
            Log(LogLevel::Error, "sane.devices", "no camera backend %s in this build", backend.c_str());
            continue;
        }
        std::vector<VideoDevice> devices;
        if (!Ok(platform->ListDevices(devices))) continue;
        for (const VideoDevice& device : devices) {
            if (!device.readable) continue;
            if (!config.anyUvc && !IsMakerDevicePath(device.path)) continue;
            DeviceEntry entry;
            entry.name = DeviceNameOfPath(device.path);
            entry.model = LogText(NormaliseModelName(device.path, device.friendlyName));
            entry.backend = backend;
            entry.path = device.path;
            Log(LogLevel::Info, "sane.devices", "%s: %s (%s)", entry.name.c_str(), entry.model.c_str(),
                backend.c_str());
            found.push_back(std::move(entry));
        }
    }
    return found;
}

}  // namespace sane
}  // namespace kiv
