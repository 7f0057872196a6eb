// The extension-unit search over an untrusted descriptors file: whatever the
// bytes, it reads only inside them and answers a unit id or nothing. The input
// is copied to an allocation of its exact size so that AddressSanitizer sees
// any read past the end.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kivds/camera/ExtensionUnit.h"
#include "kivds/camera/v4l2/UvcDescriptors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    const std::uint8_t* at = bytes.empty() ? nullptr : bytes.data();
    (void)kiv::v4l2::FindExtensionUnitId(at, bytes.size(), kiv::kExtensionUnitModelA);
    (void)kiv::v4l2::FindExtensionUnitId(at, bytes.size(), kiv::kExtensionUnitModelB);
    return 0;
}
