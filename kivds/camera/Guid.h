// A 128-bit interface/format identifier with the field layout of a Windows
// GUID, usable without any OS header.
#pragma once

#include <cstdint>

namespace kiv {

struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::uint8_t data4[8] = {};

    friend bool operator==(const Guid& a, const Guid& b) {
        if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
        for (int i = 0; i < 8; ++i)
            if (a.data4[i] != b.data4[i]) return false;
        return true;
    }
    friend bool operator!=(const Guid& a, const Guid& b) { return !(a == b); }
};

// The media subtype GUID of a FOURCC video format:
// {fourcc-0000-0010-8000-00AA00389B71}.
constexpr Guid FourccSubtype(char a, char b, char c, char d) {
    return Guid{static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
                    static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
                    static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
                    static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24,
                0x0000,
                0x0010,
                {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

constexpr Guid MediaSubtypeMJPG = FourccSubtype('M', 'J', 'P', 'G');
constexpr Guid MediaSubtypeYUY2 = FourccSubtype('Y', 'U', 'Y', '2');
constexpr Guid MediaSubtypeNV12 = FourccSubtype('N', 'V', '1', '2');

}  // namespace kiv
