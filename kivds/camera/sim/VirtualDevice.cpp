#include "kivds/camera/sim/VirtualDevice.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "kivds/camera/ExtensionUnit.h"

namespace kiv {
namespace sim {
namespace {

constexpr std::int32_t kFallbackWidth = 640;  // a device that names no size at all
constexpr std::int32_t kFallbackHeight = 480;

constexpr std::uint8_t kModeByte = 0x02;
constexpr std::uint8_t kRegisterAddress[2] = {0x84, 0x01};
// Without a script the buttons rest: model B reports no bit, model A's zoom
// bits are set while their buttons are up.
constexpr std::uint8_t kRestingA = 0x42;
constexpr std::uint8_t kRestingB = 0x00;

const Guid* UnitGuid(SimUnit unit) {
    if (unit == SimUnit::A) return &kExtensionUnitModelA;
    if (unit == SimUnit::B) return &kExtensionUnitModelB;
    return nullptr;
}

}  // namespace

VirtualDevice::VirtualDevice(SimDevice description)
    : m_description(std::move(description)),
      m_hasCurrent(m_description.hasCurrent),
      m_subtype(m_description.caps.empty() ? MediaSubtypeMJPG : m_description.caps.front().subtype),
      m_width(m_description.currentWidth),
      m_height(m_description.currentHeight),
      m_script(m_description.buttons) {
    // The controls as the cameras describe them to a UVC driver: model B's
    // status (2 bytes, read only), model A's mode (1 byte) and register (2
    // bytes: written with the address, read for the status in its first byte).
    if (m_description.unit == SimUnit::B) {
        m_controls.push_back({kModelBStatusSelector, true, false, 2, 0, true, {0, 0}, {0, 0}});
    } else if (m_description.unit == SimUnit::A) {
        m_controls.push_back({kModelAModeSelector, true, true, 0, 1, false, {0}, {0}});
        m_controls.push_back({kModelARegisterSelector, true, true, 1, 2, true, {0, 0}, {0, 0}});
    }
}

// -- formats -------------------------------------------------------------------

bool VirtualDevice::SetFormat(const Guid& subtype, std::int32_t width, std::int32_t height) {
    for (const StreamCapability& cap : m_description.caps) {
        if (cap.videoInfo && cap.subtype == subtype && cap.width == width && cap.height == height) {
            SetCurrent(subtype, width, height);
            return true;
        }
    }
    return false;
}

void VirtualDevice::SetCurrent(const Guid& subtype, std::int32_t width, std::int32_t height) {
    m_subtype = subtype;
    m_hasCurrent = true;
    m_width = width;
    m_height = height;
}

void VirtualDevice::StreamSize(std::int32_t& width, std::int32_t& height) const {
    if (m_hasCurrent) {
        width = m_width;
        height = m_height;
    } else if (!m_description.caps.empty()) {
        width = m_description.caps.front().width;
        height = m_description.caps.front().height;
    } else {
        width = kFallbackWidth;
        height = kFallbackHeight;
    }
}

// -- the extension unit ------------------------------------------------------------

bool VirtualDevice::HasUnit(const Guid& unit) const {
    const Guid* carried = UnitGuid(m_description.unit);
    return !m_lost && carried && *carried == unit;
}

VirtualDevice::Control* VirtualDevice::Find(const Guid& unit, std::uint32_t selector) {
    return const_cast<Control*>(static_cast<const VirtualDevice*>(this)->Find(unit, selector));
}

const VirtualDevice::Control* VirtualDevice::Find(const Guid& unit, std::uint32_t selector) const {
    if (!HasUnit(unit)) return nullptr;
    for (const Control& control : m_controls)
        if (control.selector == selector) return &control;
    return nullptr;
}

bool VirtualDevice::DescribeControl(const Guid& unit, std::uint32_t selector, std::size_t& length, bool& get,
                                    bool& set) const {
    const Control* control = Find(unit, selector);
    if (!control) return false;
    length = control->current.size();
    get = control->get;
    set = control->set;
    return true;
}

bool VirtualDevice::Fits(std::size_t size, std::size_t protocolBytes, const Control& control, XuLength rule) {
    const std::size_t length = control.current.size();
    if (rule == XuLength::Control || protocolBytes == 0) return size == length;
    return size == protocolBytes && protocolBytes <= length;
}

XuAnswer VirtualDevice::Refuse() {
    m_registerMode = false;
    m_registerSelected = false;
    return XuAnswer::Stall;
}

std::uint8_t VirtualDevice::NextStatus() {
    ++m_buttonReads;
    if (m_script.empty()) return m_description.unit == SimUnit::A ? kRestingA : kRestingB;
    const std::uint8_t status = m_script[std::min(m_scriptAt, m_script.size() - 1)];
    if (m_scriptAt < m_script.size()) ++m_scriptAt;
    return status;
}

XuAnswer VirtualDevice::Default(const Guid& unit, std::uint32_t selector, std::uint8_t* data,
                                std::size_t length) const {
    if (m_lost) return XuAnswer::Gone;
    const Control* control = Find(unit, selector);
    if (!control) return XuAnswer::NoControl;
    if (!data || length != control->defaults.size()) return XuAnswer::WrongLength;
    std::memcpy(data, control->defaults.data(), length);
    return XuAnswer::Ok;
}

VirtualDevice::Control* VirtualDevice::Admit(const Guid& unit, std::uint32_t selector, XuDirection direction,
                                             bool hasData, std::size_t length, XuLength rule, XuAnswer& refused) {
    const bool get = direction == XuDirection::Get;
    Control* control = nullptr;
    if (m_lost) refused = XuAnswer::Gone;
    else if (Failure(SimOp::Xu) != PlatformResult::Ok) refused = XuAnswer::Injected;
    else if (!HasUnit(unit)) refused = XuAnswer::NoControl;
    else if (Failure(get ? SimOp::XuGet : SimOp::XuSet) != PlatformResult::Ok) refused = XuAnswer::Injected;
    else if (!(control = Find(unit, selector))) refused = XuAnswer::NoControl;
    // A refused size or direction never reaches the device: the script and
    // model A's selection stay.
    else if (!hasData || !Fits(length, get ? control->getBytes : control->setBytes, *control, rule))
        refused = XuAnswer::WrongLength;
    else if (!(get ? control->get : control->set)) refused = XuAnswer::Unsupported;
    return refused == XuAnswer::Ok ? control : nullptr;
}

XuAnswer VirtualDevice::Get(const Guid& unit, std::uint32_t selector, std::uint8_t* data, std::size_t length,
                            XuLength rule) {
    XuAnswer refused = XuAnswer::Ok;
    Control* control = Admit(unit, selector, XuDirection::Get, data != nullptr, length, rule, refused);
    if (!control) return refused;
    if (m_description.unit == SimUnit::A) {
        // Only the register is read, and only right after both writes.
        const bool selected = control->status && m_registerMode && m_registerSelected;
        if (!selected) return Refuse();
        m_registerMode = false;
        m_registerSelected = false;
    }
    std::memcpy(data, control->current.data(), length);
    if (control->status) data[0] = NextStatus();
    return XuAnswer::Ok;
}

XuAnswer VirtualDevice::Set(const Guid& unit, std::uint32_t selector, const std::uint8_t* data, std::size_t length,
                            XuLength rule) {
    XuAnswer refused = XuAnswer::Ok;
    Control* control = Admit(unit, selector, XuDirection::Set, data != nullptr, length, rule, refused);
    if (!control) return refused;
    if (m_description.unit == SimUnit::A) {
        // The mode with its byte, then the address, only after the mode.
        if (selector == kModelAModeSelector) {
            if (data[0] != kModeByte) return Refuse();
            m_registerMode = true;
            m_registerSelected = false;
        } else if (selector == kModelARegisterSelector) {
            if (length < 2 || data[0] != kRegisterAddress[0] || data[1] != kRegisterAddress[1] || !m_registerMode)
                return Refuse();
            m_registerSelected = true;
        }
    }
    std::memcpy(control->current.data(), data, length);  // the bytes beyond the request stay
    return XuAnswer::Ok;
}

void VirtualDevice::ReshapeControl(std::uint32_t selector, const std::uint8_t* bytes, std::size_t length) {
    auto control = std::find_if(m_controls.begin(), m_controls.end(),
                                [selector](const Control& c) { return c.selector == selector; });
    if (control == m_controls.end()) {
        m_controls.push_back(Control{});
        control = std::prev(m_controls.end());
        control->selector = selector;
        control->get = control->set = true;
    }
    control->current.assign(bytes, bytes + length);
    control->defaults = control->current;
}

void VirtualDevice::ScriptButtons(const std::vector<std::uint8_t>& bytes) {
    m_script = bytes;
    m_scriptAt = 0;
}

}  // namespace sim
}  // namespace kiv
