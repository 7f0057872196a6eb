// Copying a string into a fixed TWAIN string field.
#pragma once

#include <cstddef>

namespace kiv {

// Copies at most bound - 1 characters of source (which need not be
// terminated within them) and terminates destination: an unterminated
// 256-byte TW_STR255 becomes its first 255 characters.
inline void CopyBounded(char* destination, const char* source, std::size_t bound) {
    std::size_t i = 0;
    for (; i + 1 < bound && source[i] != '\0'; ++i) destination[i] = source[i];
    destination[i] = '\0';
}

}  // namespace kiv
