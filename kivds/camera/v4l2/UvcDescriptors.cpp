#include "kivds/camera/v4l2/UvcDescriptors.h"

namespace kiv {
namespace v4l2 {
namespace {

constexpr std::uint8_t kInterfaceDescriptor = 0x04;
constexpr std::uint8_t kClassSpecificInterface = 0x24;
constexpr std::uint8_t kVideoClass = 0x0E;
constexpr std::uint8_t kVideoControlSubclass = 0x01;
constexpr std::uint8_t kExtensionUnitSubtype = 0x06;
// bLength, bDescriptorType, bDescriptorSubtype, bUnitID, guid (16),
// bNumControls, bNrInPins: the fixed head of an extension unit.
constexpr std::size_t kExtensionUnitHead = 22;

}  // namespace

Guid GuidFromWireBytes(const std::uint8_t b[16]) {
    Guid g;
    g.data1 = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
              static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    g.data2 = static_cast<std::uint16_t>(b[4] | b[5] << 8);
    g.data3 = static_cast<std::uint16_t>(b[6] | b[7] << 8);
    for (int i = 0; i < 8; ++i) g.data4[i] = b[8 + i];
    return g;
}

std::optional<std::uint8_t> FindExtensionUnitId(const std::uint8_t* data, std::size_t size, const Guid& unit) {
    if (!data) return std::nullopt;
    bool inVideoControl = false;
    std::size_t at = 0;
    // Walk by bLength; wTotalLength of the configuration is not trusted.
    while (size - at >= 2) {
        const std::size_t length = data[at];
        if (length < 2 || length > size - at) break;
        const std::uint8_t* d = data + at;
        const std::uint8_t type = d[1];
        if (type == kInterfaceDescriptor) {
            inVideoControl = length >= 7 && d[5] == kVideoClass && d[6] == kVideoControlSubclass;
        } else if (type == kClassSpecificInterface && inVideoControl && length >= 3 && d[2] == kExtensionUnitSubtype) {
            if (length < kExtensionUnitHead) break;  // too short for its own fields
            const std::size_t pins = d[21];
            // baSourceID[pins], bControlSize, bmControls[n], iExtension
            if (length < kExtensionUnitHead + pins + 1) break;
            const std::size_t controlSize = d[kExtensionUnitHead + pins];
            if (length < kExtensionUnitHead + pins + 1 + controlSize + 1) break;
            if (GuidFromWireBytes(d + 4) == unit) return d[3];
        }
        at += length;
    }
    return std::nullopt;
}

}  // namespace v4l2
}  // namespace kiv
