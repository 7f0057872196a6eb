#include "kivds/ui/Language.h"

#include "kivds/platform/AsciiCase.h"

#include <cstddef>

namespace kiv {
namespace {

struct LocaleRow {
    const char* language;
    const char* territory;
    std::uint32_t lcid;
    bool bareLanguageToo;  // the language without a territory also means this row
};

// Japanese has a single territory, so a bare "ja" is Japanese too. Every other
// language needs the territory of its row: "fr_CA" or "pt_PT" are different
// locales, which the table does not carry, exactly as their LCIDs are not in it.
constexpr LocaleRow kLocaleRows[] = {
    {"en", "US", 0x0409, false}, {"ja", "JP", 0x0411, true},  {"fr", "FR", 0x040C, false}, {"de", "DE", 0x0407, false},
    {"it", "IT", 0x0410, false}, {"es", "ES", 0x0C0A, false}, {"pt", "BR", 0x0416, false}, {"zh", "CN", 0x0804, false},
    {"ko", "KR", 0x0412, false}, {"zh", "TW", 0x0404, false}, {"nl", "NL", 0x0413, false}, {"sv", "SE", 0x041D, false},
    {"ru", "RU", 0x0419, false},
};

}  // namespace

unsigned LanguageIndexForLcid(std::uint32_t lcid) {
    for (unsigned index = 0; index < kLanguageCount; ++index) {
        if (kLanguageLcids[index] == lcid) return index;
    }
    return 0;
}

std::uint32_t LcidFromLocaleName(const std::string& name) {
    // Drop ".codeset" and "@modifier", then split language and territory.
    std::string base = name.substr(0, name.find_first_of(".@"));
    std::size_t underscore = base.find('_');
    std::string language = base.substr(0, underscore);
    bool hasTerritory = underscore != std::string::npos;
    std::string territory = hasTerritory ? base.substr(underscore + 1) : std::string();
    for (const LocaleRow& row : kLocaleRows) {
        if (!EqualsIgnoringAsciiCase(language, row.language)) continue;
        if (hasTerritory ? EqualsIgnoringAsciiCase(territory, row.territory) : row.bareLanguageToo) return row.lcid;
    }
    return 0;
}

unsigned GetLanguageIndex() { return LanguageIndexForLcid(UserDefaultLcid()); }

}  // namespace kiv
