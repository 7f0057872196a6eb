#include "kivds/camera/sim/SimCameraControls.h"

#include "kivds/camera/sim/VirtualDevice.h"

namespace kiv {
namespace sim {

std::vector<CameraControl> SimCameraControls::ReadControls() {
    std::lock_guard<std::mutex> lock(m_deviceMutex);
    const VirtualDevice* device = m_bound();
    if (!device || !device->Description().controls) return {};
    return device->Controls().All();
}

CameraControlsBase::WriteResult SimCameraControls::WriteControl(const CameraControl& control, std::int64_t value) {
    std::lock_guard<std::mutex> lock(m_deviceMutex);
    VirtualDevice* device = m_bound();
    if (!device || device->Lost()) return {ControlStatus::Gone, {}};
    std::vector<std::uint32_t> changed;
    switch (device->Controls().Set(control.id, value, changed)) {
        case DeviceControls::Answer::Ok: return {};
        case DeviceControls::Answer::NoControl: return {ControlStatus::NoSuchControl, {}};
        case DeviceControls::Answer::ReadOnly: return {ControlStatus::ReadOnly, {}};
        case DeviceControls::Answer::Inactive: return {ControlStatus::Inactive, {}};
        case DeviceControls::Answer::InvalidValue: return {ControlStatus::InvalidValue, {}};
    }
    return {ControlStatus::Refused, {}};
}

}  // namespace sim
}  // namespace kiv
