// The controls of a simulated camera: the UVC standard controls with the
// ranges a real camera reports, numbered as a UVC driver numbers them (its
// V4L2 control ids), and the rules the camera keeps between them: an
// automatic mode makes the control it owns inactive (auto exposure the
// exposure time, continuous autofocus the focus, automatic white balance
// the temperature). Brightness shifts the picture's values.
//
// Every test camera's adapter serves these (the virtual camera through
// CameraControlsBase, the emulated UVC camera as V4L2 controls), so each
// backend meets the same rules. Not thread safe: the device's adapter keeps
// it under its lock.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "kivds/camera/CameraControls.h"

namespace kiv {
namespace sim {

// Driver ids of the controls the settings and tests name.
constexpr std::uint32_t kCidBrightness = 0x00980900;
constexpr std::uint32_t kCidAutoWhiteBalance = 0x0098090c;
constexpr std::uint32_t kCidPowerLineFrequency = 0x00980918;
constexpr std::uint32_t kCidWhiteBalanceTemperature = 0x0098091a;
constexpr std::uint32_t kCidExposureAuto = 0x009a0901;
constexpr std::uint32_t kCidExposureAbsolute = 0x009a0902;
constexpr std::uint32_t kCidFocusAbsolute = 0x009a090a;
constexpr std::uint32_t kCidFocusAuto = 0x009a090c;
constexpr std::uint32_t kCidPanReset = 0x009a0906;
constexpr std::uint32_t kCidPrivacy = 0x009a0910;

// The exposure menu's entries (the camera offers manual and aperture priority).
constexpr std::int64_t kExposureManual = 1;
constexpr std::int64_t kExposureAperturePriority = 3;

class DeviceControls {
public:
    enum class Answer { Ok, NoControl, ReadOnly, Inactive, InvalidValue };

    DeviceControls();

    // In the driver's order: the user controls, then the camera controls.
    const std::vector<CameraControl>& All() const { return m_controls; }
    const CameraControl* Find(std::uint32_t id) const;
    // One control more, after the others: a test device may list a kind the
    // standard controls have not (an integer menu).
    void Add(CameraControl control) { m_controls.push_back(std::move(control)); }
    // Sets a control as a driver would (AdjustControlValue) and applies the
    // rules; `changed` gets every control whose value or flags changed.
    Answer Set(std::uint32_t id, std::int64_t value, std::vector<std::uint32_t>& changed);
    // How far brightness moves the picture's values (0 at its default).
    int BrightnessShift() const;

private:
    CameraControl* FindMutable(std::uint32_t id);
    void ApplyRules(std::vector<std::uint32_t>& changed);

    std::vector<CameraControl> m_controls;
};

}  // namespace sim
}  // namespace kiv
