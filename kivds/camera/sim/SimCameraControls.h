// The virtual camera's controls: the bound VirtualDevice's DeviceControls
// behind the camera-controls model, read and written under the virtual
// camera's lock. A device that is gone refuses every write.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "kivds/camera/CameraControls.h"

namespace kiv {
namespace sim {

class VirtualDevice;

class SimCameraControls final : public CameraControlsBase {
public:
    // `bound` answers the bound device (null: none) while `mutex` is held.
    SimCameraControls(std::mutex& mutex, std::function<VirtualDevice*()> bound)
        : m_deviceMutex(mutex), m_bound(std::move(bound)) {}

private:
    std::vector<CameraControl> ReadControls() override;
    WriteResult WriteControl(const CameraControl& control, std::int64_t value) override;
    bool TakeDeviceChanges() override { return false; }  // nobody else changes them

    std::mutex& m_deviceMutex;
    std::function<VirtualDevice*()> m_bound;
};

}  // namespace sim
}  // namespace kiv
