// Recognising the maker's cameras by device path and naming their models.
#pragma once

#include <string>

namespace kiv {

// Searched in device paths, case-sensitively.
constexpr const wchar_t* kMakerVendorId = L"vid_1a3c";
constexpr const wchar_t* kNormalisedFamilyId = L"vid_1a3c&pid_0b21";

// Model names, compared with SameModelName.
constexpr const wchar_t* kModelA = L"KIVCAMA";
constexpr const wchar_t* kModelB = L"ORVAN KIVCAMB";
constexpr const wchar_t* kModelAorB = L"KIVCAMAorB";
constexpr const wchar_t* kModelC = L"ORVAN KIVCAMC";

// Equal after folding the ASCII letters A-Z to a-z (nothing else is folded).
bool SameModelName(const std::wstring& a, const std::wstring& b);

// The device path carries the maker's vendor id.
bool IsMakerDevicePath(const std::wstring& devicePath);

// A device of the normalised family that is neither model A nor model B is
// named "KIVCAMAorB"; every other device keeps its friendly name.
std::wstring NormaliseModelName(const std::wstring& devicePath, const std::wstring& friendlyName);

}  // namespace kiv
