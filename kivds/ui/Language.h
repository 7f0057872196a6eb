// The user-interface language: a locale id (LCID) mapped to the index 0..12
// that is added to a string base id. There is no user setting; the language
// follows the user's default locale and is read again at every call.
#pragma once

#include <cstdint>
#include <string>

namespace kiv {

constexpr unsigned kLanguageCount = 13;

// Locale ids of the table rows, in index order.
constexpr std::uint32_t kLanguageLcids[kLanguageCount] = {
    0x0409,  // 0  English (United States), also the fallback
    0x0411,  // 1  Japanese
    0x040C,  // 2  French (France)
    0x0407,  // 3  German (Germany)
    0x0410,  // 4  Italian (Italy)
    0x0C0A,  // 5  Spanish (Spain, modern sort)
    0x0416,  // 6  Portuguese (Brazil)
    0x0804,  // 7  Chinese (Simplified, PRC)
    0x0412,  // 8  Korean
    0x0404,  // 9  Chinese (Traditional, Taiwan)
    0x0413,  // 10 Dutch (Netherlands)
    0x041D,  // 11 Swedish
    0x0419,  // 12 Russian
};

// The index of the row whose LCID equals `lcid`; 0 for every other LCID,
// other variants of a listed language included.
unsigned LanguageIndexForLcid(std::uint32_t lcid);

// Maps a POSIX locale name, language[_TERRITORY][.codeset][@modifier], to the
// LCID of its table row, or 0 when it has none ("C", "POSIX", "en_GB", ...).
// Purely textual: it does not matter which locales are installed.
std::uint32_t LcidFromLocaleName(const std::string& name);

// The user's default LCID: GetUserDefaultLCID on Windows; elsewhere the first
// of LC_ALL, LC_MESSAGES and LANG that is set and not empty, through
// LcidFromLocaleName (0 when none is set).
std::uint32_t UserDefaultLcid();

// LanguageIndexForLcid(UserDefaultLcid()); nothing is cached.
unsigned GetLanguageIndex();

}  // namespace kiv
