// ASCII case folding for the identifiers this source compares without regard
// to case (model names, locale names, the viewer's image name, keywords of
// the virtual camera's description). Only A-Z and a-z fold; every other
// character, including non-ASCII letters, compares as it is.
#pragma once

#include <string_view>

namespace kiv {

template <class Char>
constexpr Char AsciiLower(Char c) {
    return (c >= Char('A') && c <= Char('Z')) ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

template <class Char>
constexpr Char AsciiUpper(Char c) {
    return (c >= Char('a') && c <= Char('z')) ? static_cast<Char>(c - Char('a') + Char('A')) : c;
}

template <class Char>
constexpr bool EqualsIgnoringAsciiCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return EqualsIgnoringAsciiCase<char>(a, b);
}
inline bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
    return EqualsIgnoringAsciiCase<wchar_t>(a, b);
}

}  // namespace kiv
