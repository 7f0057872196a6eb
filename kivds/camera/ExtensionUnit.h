// The vendor extension units that report the zoom buttons, the requests sent
// to them and the meaning of the status byte they answer, as data. The button
// reading (ButtonReader.h) walks these tables; a backend that speaks kernel
// streaming sends each request with its ksFlags in a KSP_NODE record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kivds/camera/Guid.h"

namespace kiv {

// Model A: {5A215226-3289-4156-894A-5C557CDF9664}. The node-interface key that
// kivsvc maintains is named after this GUID as well.
constexpr Guid kExtensionUnitModelA{0x5A215226, 0x3289, 0x4156, {0x89, 0x4A, 0x5C, 0x55, 0x7C, 0xDF, 0x96, 0x64}};
// Model B: {74183E0A-5482-481A-B402-48B8B8C49CC8}
constexpr Guid kExtensionUnitModelB{0x74183E0A, 0x5482, 0x481A, {0xB4, 0x02, 0x48, 0xB8, 0xB8, 0xC4, 0x9C, 0xC8}};

// Control selectors.
constexpr unsigned kModelBStatusSelector = 10;   // GET 2 bytes, the low one is the status
constexpr unsigned kModelAModeSelector = 1;      // SET 1 byte
constexpr unsigned kModelARegisterSelector = 2;  // SET 2 bytes (address), GET 1 byte (status)

// Kernel-streaming property flags (published values).
constexpr std::uint32_t kKsPropertyTypeGet = 0x1;
constexpr std::uint32_t kKsPropertyTypeSet = 0x2;
constexpr std::uint32_t kKsPropertyTypeSetSupport = 0x100;
constexpr std::uint32_t kKsPropertyTypeTopology = 0x10000000;
// The probe that identifies a unit's node: id 0, no data.
constexpr std::uint32_t kXuProbeFlags = kKsPropertyTypeSetSupport | kKsPropertyTypeTopology;

enum class XuDirection { Get, Set };

// One request to a unit: GET reads `length` bytes into a cleared buffer, SET
// writes the first `length` bytes of `data`.
struct XuRequest {
    Guid unit;
    std::uint32_t selector;
    XuDirection direction;
    std::uint32_t ksFlags;
    std::size_t length;
    std::uint8_t data[2];
};

// Model B: one GET; the low byte of the two is the status.
constexpr XuRequest kModelBStatusRead{kExtensionUnitModelB,
                                      kModelBStatusSelector,
                                      XuDirection::Get,
                                      kKsPropertyTypeGet | kKsPropertyTypeTopology,
                                      2,
                                      {0, 0}};

// Model A: in this order, each only after the one before succeeded; the last
// one's byte is the status.
constexpr XuRequest kModelARegisterRead[] = {
    {kExtensionUnitModelA,
     kModelAModeSelector,
     XuDirection::Set,
     kKsPropertyTypeSet | kKsPropertyTypeTopology,
     1,
     {0x02, 0}},
    {kExtensionUnitModelA,
     kModelARegisterSelector,
     XuDirection::Set,
     kKsPropertyTypeSet | kKsPropertyTypeTopology,
     2,
     {0x84, 0x01}},
    {kExtensionUnitModelA,
     kModelARegisterSelector,
     XuDirection::Get,
     kKsPropertyTypeGet | kKsPropertyTypeTopology,
     1,
     {0, 0}},
};

// A button is reported pressed when the bit `mask` of the status byte equals
// `pressedWhenSet` (model A reports its zoom buttons active low).
struct ButtonBit {
    std::uint8_t mask;
    bool pressedWhenSet;
};

struct ButtonBits {
    ButtonBit zoomIn;
    ButtonBit zoomOut;
    ButtonBit thirdButton;
};

constexpr ButtonBits kModelBButtons{{0x02, true}, {0x04, true}, {0x08, true}};
constexpr ButtonBits kModelAButtons{{0x40, false}, {0x02, false}, {0x01, true}};

constexpr bool IsPressed(const ButtonBit& bit, std::uint8_t status) {
    return ((status & bit.mask) != 0) == bit.pressedWhenSet;
}

}  // namespace kiv
