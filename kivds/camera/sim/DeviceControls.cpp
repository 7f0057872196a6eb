#include "kivds/camera/sim/DeviceControls.h"

#include <algorithm>

namespace kiv {
namespace sim {
namespace {

constexpr const char* kUser = "User Controls";
constexpr const char* kCamera = "Camera Controls";

CameraControl Range(std::uint32_t id, const char* name, std::int64_t min, std::int64_t max, std::int64_t step,
                    std::int64_t def, const char* group) {
    CameraControl c;
    c.id = id;
    c.name = name;
    c.kind = CameraControlKind::Range;
    c.minimum = min;
    c.maximum = max;
    c.step = step;
    c.defaultValue = c.value = def;
    c.group = group;
    return c;
}

CameraControl Boolean(std::uint32_t id, const char* name, std::int64_t def, const char* group) {
    CameraControl c = Range(id, name, 0, 1, 1, def, group);
    c.kind = CameraControlKind::Boolean;
    return c;
}

CameraControl Menu(std::uint32_t id, const char* name, std::int64_t min, std::int64_t max, std::int64_t def,
                   std::vector<ControlMenuEntry> entries, const char* group) {
    CameraControl c = Range(id, name, min, max, 1, def, group);
    c.kind = CameraControlKind::Menu;
    c.menu = std::move(entries);
    return c;
}

// An automatic mode and the control it owns: `owned` is active only while
// the mode has the value `manual`.
struct Rule {
    std::uint32_t mode;
    std::uint32_t owned;
    std::int64_t manual;
};
constexpr Rule kRules[] = {
    {kCidAutoWhiteBalance, kCidWhiteBalanceTemperature, 0},
    {kCidExposureAuto, kCidExposureAbsolute, kExposureManual},
    {kCidFocusAuto, kCidFocusAbsolute, 0},
};

}  // namespace

DeviceControls::DeviceControls() {
    m_controls = {
        Range(kCidBrightness, "Brightness", -64, 64, 1, 0, kUser),
        Range(0x00980901, "Contrast", 0, 64, 1, 32, kUser),
        Range(0x00980902, "Saturation", 0, 128, 1, 64, kUser),
        Range(0x00980903, "Hue", -40, 40, 1, 0, kUser),
        Boolean(kCidAutoWhiteBalance, "White Balance, Automatic", 1, kUser),
        Range(0x00980910, "Gamma", 72, 500, 1, 100, kUser),
        Range(0x00980913, "Gain", 0, 100, 1, 0, kUser),
        Menu(kCidPowerLineFrequency, "Power Line Frequency", 0, 2, 1, {{0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}},
             kUser),
        Range(kCidWhiteBalanceTemperature, "White Balance Temperature", 2800, 6500, 1, 4600, kUser),
        Range(0x0098091b, "Sharpness", 0, 6, 1, 3, kUser),
        Range(0x0098091c, "Backlight Compensation", 0, 2, 1, 1, kUser),
        // Entries 0 (auto) and 2 (shutter priority) are not offered.
        Menu(kCidExposureAuto, "Auto Exposure", 0, 3, kExposureAperturePriority,
             {{kExposureManual, "Manual Mode"}, {kExposureAperturePriority, "Aperture Priority Mode"}}, kCamera),
        Range(kCidExposureAbsolute, "Exposure Time, Absolute", 3, 2047, 1, 250, kCamera),
        Boolean(0x009a0903, "Exposure, Dynamic Framerate", 0, kCamera),
        Range(kCidFocusAbsolute, "Focus, Absolute", 0, 250, 5, 0, kCamera),
        Boolean(kCidFocusAuto, "Focus, Automatic Continuous", 1, kCamera),
        Boolean(kCidPrivacy, "Privacy", 0, kCamera),
        Range(kCidPanReset, "Pan, Reset", 0, 0, 1, 0, kCamera),
    };
    for (CameraControl& c : m_controls) {
        if (c.id == kCidPanReset) c.kind = CameraControlKind::Button;
        // The privacy shutter is the camera's to report.
        if (c.id == kCidPrivacy) c.readOnly = c.isVolatile = true;
    }
    std::vector<std::uint32_t> ignored;
    ApplyRules(ignored);
}

const CameraControl* DeviceControls::Find(std::uint32_t id) const {
    auto it = std::find_if(m_controls.begin(), m_controls.end(), [id](const CameraControl& c) { return c.id == id; });
    return it == m_controls.end() ? nullptr : &*it;
}

CameraControl* DeviceControls::FindMutable(std::uint32_t id) {
    return const_cast<CameraControl*>(static_cast<const DeviceControls*>(this)->Find(id));
}

DeviceControls::Answer DeviceControls::Set(std::uint32_t id, std::int64_t value, std::vector<std::uint32_t>& changed) {
    CameraControl* c = FindMutable(id);
    if (!c) return Answer::NoControl;
    if (c->readOnly) return Answer::ReadOnly;
    if (c->inactive) return Answer::Inactive;
    const std::optional<std::int64_t> adjusted = AdjustControlValue(*c, value);
    if (!adjusted) return Answer::InvalidValue;
    if (c->kind == CameraControlKind::Button) return Answer::Ok;  // an action: nothing stays
    if (c->value != *adjusted) {
        c->value = *adjusted;
        changed.push_back(id);
    }
    ApplyRules(changed);
    return Answer::Ok;
}

void DeviceControls::ApplyRules(std::vector<std::uint32_t>& changed) {
    for (const Rule& rule : kRules) {
        const CameraControl* mode = Find(rule.mode);
        CameraControl* owned = FindMutable(rule.owned);
        if (!mode || !owned) continue;
        const bool inactive = mode->value != rule.manual;
        if (owned->inactive == inactive) continue;
        owned->inactive = inactive;
        changed.push_back(owned->id);
    }
}

int DeviceControls::BrightnessShift() const {
    const CameraControl* c = Find(kCidBrightness);
    return c ? static_cast<int>(c->value - c->defaultValue) : 0;
}

}  // namespace sim
}  // namespace kiv
