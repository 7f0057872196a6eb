#include "kivds/camera/ModelName.h"

namespace kiv {
namespace {

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

}  // namespace

bool SameModelName(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

bool IsMakerDevicePath(const std::wstring& devicePath) {
    return devicePath.find(kMakerVendorId) != std::wstring::npos;
}

std::wstring NormaliseModelName(const std::wstring& devicePath, const std::wstring& friendlyName) {
    if (devicePath.find(kNormalisedFamilyId) != std::wstring::npos && !SameModelName(friendlyName, kModelA) &&
        !SameModelName(friendlyName, kModelB))
        return kModelAorB;
    return friendlyName;
}

}  // namespace kiv
