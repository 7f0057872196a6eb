// The vendor extension units that report the zoom buttons.
#pragma once

#include "kivds/camera/Guid.h"

namespace kiv {

// Model A: {5A215226-3289-4156-894A-5C557CDF9664}
constexpr Guid kExtensionUnitModelA{0x5A215226, 0x3289, 0x4156, {0x89, 0x4A, 0x5C, 0x55, 0x7C, 0xDF, 0x96, 0x64}};
// Model B: {74183E0A-5482-481A-B402-48B8B8C49CC8}
constexpr Guid kExtensionUnitModelB{0x74183E0A, 0x5482, 0x481A, {0xB4, 0x02, 0x48, 0xB8, 0xB8, 0xC4, 0x9C, 0xC8}};

// Control selectors.
constexpr unsigned kModelBStatusSelector = 10;   // GET 2 bytes, the low one is the status
constexpr unsigned kModelAModeSelector = 1;      // SET 1 byte
constexpr unsigned kModelARegisterSelector = 2;  // SET 2 bytes (address), GET 1 byte (status)

}  // namespace kiv
