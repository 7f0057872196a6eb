#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "kivds/ui/Language.h"
#include "support/ScopedEnv.h"

namespace kiv {
namespace {

TEST(LanguageIndex, EachTableLcidGivesItsRowAndEverythingElseEnglish) {
    const std::pair<std::uint32_t, unsigned> rows[] = {
        {0x0409, 0}, {0x0411, 1}, {0x040C, 2}, {0x0407, 3},  {0x0410, 4},  {0x0C0A, 5},  {0x0416, 6},
        {0x0804, 7}, {0x0412, 8}, {0x0404, 9}, {0x0413, 10}, {0x041D, 11}, {0x0419, 12},
    };
    for (const auto& [lcid, index] : rows) EXPECT_EQ(LanguageIndexForLcid(lcid), index) << std::hex << lcid;

    // Other variants of listed languages, and ids that are no locale at all.
    for (std::uint32_t lcid : {0x0C0Cu, 0x0809u, 0x040Au, 0x0816u, 0x0C04u, 0x081Du, 0x0000u, 0x0011u, 0xFFFFFFFFu}) {
        EXPECT_EQ(LanguageIndexForLcid(lcid), 0u) << std::hex << lcid;
    }
}

TEST(LanguageIndex, PosixLocaleNamesMapToTheTableWhateverCodesetOrModifier) {
    const std::pair<const char*, std::uint32_t> names[] = {
        {"en_US.UTF-8", 0x0409},
        {"ja", 0x0411},
        {"ja_JP.UTF-8", 0x0411},
        {"ja_JP.eucJP", 0x0411},
        {"fr_FR@euro", 0x040C},
        {"fr_FR.ISO-8859-15@euro", 0x040C},
        {"de_DE.UTF-8", 0x0407},
        {"de_de.utf8", 0x0407},
        {"it_IT", 0x0410},
        {"es_ES.UTF-8", 0x0C0A},
        {"pt_BR.UTF-8", 0x0416},
        {"zh_CN.GB18030", 0x0804},
        {"ko_KR.EUC-KR", 0x0412},
        {"zh_TW.Big5", 0x0404},
        {"nl_NL.UTF-8", 0x0413},
        {"sv_SE.UTF-8", 0x041D},
        {"ru_RU.KOI8-R", 0x0419},
        // No row of their own: other territories, bare languages, the C locale.
        {"fr_CA.UTF-8", 0},
        {"en_GB.UTF-8", 0},
        {"pt_PT.UTF-8", 0},
        {"zh_HK.UTF-8", 0},
        {"sv_FI", 0},
        {"ja_US", 0},
        {"fr", 0},
        {"C", 0},
        {"C.UTF-8", 0},
        {"POSIX", 0},
        {"", 0},
        {"_", 0},
        {".UTF-8", 0},
    };
    for (const auto& [name, lcid] : names) EXPECT_EQ(LcidFromLocaleName(name), lcid) << '"' << name << '"';
}

#ifndef _WIN32
TEST(LanguageIndex, FirstSetAndNonEmptyOfLcAllLcMessagesLangDecidesAtEveryCall) {
    kivtest::ScopedEnv all("LC_ALL", std::nullopt);
    kivtest::ScopedEnv messages("LC_MESSAGES", std::nullopt);
    kivtest::ScopedEnv lang("LANG", std::nullopt);
    EXPECT_EQ(GetLanguageIndex(), 0u);

    {
        kivtest::ScopedEnv setLang("LANG", "ru_RU.UTF-8");
        EXPECT_EQ(GetLanguageIndex(), 12u);
        {
            kivtest::ScopedEnv setMessages("LC_MESSAGES", "ko_KR.UTF-8");
            EXPECT_EQ(GetLanguageIndex(), 8u);
            kivtest::ScopedEnv setAll("LC_ALL", "ja_JP.UTF-8");
            EXPECT_EQ(GetLanguageIndex(), 1u);
        }
        // Set but empty counts as not set.
        kivtest::ScopedEnv emptyAll("LC_ALL", "");
        kivtest::ScopedEnv emptyMessages("LC_MESSAGES", "");
        EXPECT_EQ(GetLanguageIndex(), 12u);
        // A locale without a row does not fall through to the next variable.
        kivtest::ScopedEnv gb("LC_MESSAGES", "en_GB.UTF-8");
        EXPECT_EQ(GetLanguageIndex(), 0u);
    }
    EXPECT_EQ(GetLanguageIndex(), 0u);
}
#endif

}  // namespace
}  // namespace kiv
