#include "kivds/camera/ModelName.h"

#include "kivds/platform/AsciiCase.h"

namespace kiv {

bool SameModelName(const std::wstring& a, const std::wstring& b) { return EqualsIgnoringAsciiCase(a, b); }

bool IsMakerDevicePath(const std::wstring& devicePath) { return devicePath.find(kMakerVendorId) != std::wstring::npos; }

std::wstring NormaliseModelName(const std::wstring& devicePath, const std::wstring& friendlyName) {
    if (devicePath.find(kNormalisedFamilyId) != std::wstring::npos && !SameModelName(friendlyName, kModelA) &&
        !SameModelName(friendlyName, kModelB))
        return kModelAorB;
    return friendlyName;
}

}  // namespace kiv
