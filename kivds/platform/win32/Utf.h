// UTF-8 <-> UTF-16 conversion for the Win32 backends.
#pragma once

#include <string>

namespace kiv {

std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

}  // namespace kiv
