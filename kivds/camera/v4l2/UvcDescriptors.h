// Reads the USB descriptors of a UVC device (the raw bytes sysfs exposes in
// the device's `descriptors` file) to find the unit id of an extension unit.
// Pure function of its input; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "kivds/camera/Guid.h"

namespace kiv {
namespace v4l2 {

// The GUID of a descriptor, stored in Windows memory order (Data1, Data2 and
// Data3 little-endian, Data4 as is).
Guid GuidFromWireBytes(const std::uint8_t bytes[16]);

// The bUnitID of the first VideoControl extension unit (CS_INTERFACE subtype
// 0x06 inside an interface of class 0x0E subclass 0x01) whose code is unit.
// Every length is checked: a descriptor that claims more than is left, a zero
// length, or an extension unit too short for its own fields ends the walk, and
// nothing past size is ever read. Empty when no such unit is found.
std::optional<std::uint8_t> FindExtensionUnitId(const std::uint8_t* data, std::size_t size, const Guid& unit);

}  // namespace v4l2
}  // namespace kiv
