// UTF-8 <-> UTF-16 for the Win32 host.
#pragma once

#include <string>

namespace kiv::svc {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);

}  // namespace kiv::svc
