#include <gtest/gtest.h>

#include <string>

#include "kivds/ui/Language.h"
#include "kivds/ui/Strings.h"
#include "unit/ui/ExpectedTexts.h"
#include "support/ScopedEnv.h"

namespace kiv {
namespace {

const unsigned kLocalisedBases[] = {IDS_VERSIONMENU,       IDS_VERSIONTITLE,   IDS_ERR_INUSE,    IDS_ERR_DISCONNECTED,
                                    IDS_ERR_OTHER,         IDS_LABEL_FORMAT,   IDS_LABEL_SIZE,   IDS_OK,
                                    IDS_SETTINGS_DEFAULTS, IDS_SETTINGS_CLOSE, IDS_SETTINGS_NONE};

TEST(StringTable, ShortTextsOfEveryLanguage) {
    const char* size[kLanguageCount] = {"Size:", "サイズ:", "Taille:", "Größe:",   "Dimens.:", "Tamaño:", "Tamanho:",
                                        "尺寸:", "크기:",   "尺寸:",   "Grootte:", "Storlek:", "Размер:"};
    const char* menu[kLanguageCount] = {"Version information...",
                                        "バージョン情報...",
                                        "Information de la version...",
                                        "Versions-Informationen...",
                                        "Informazioni sulla versione...",
                                        "Información sobre la versión...",
                                        "Versão...",
                                        "版本信息...",
                                        "버전 정보...",
                                        "版本資訊...",
                                        "Versiegegevens...",
                                        "Versionsinformation...",
                                        "Сведения о версии..."};
    for (unsigned i = 0; i < kLanguageCount; ++i) {
        EXPECT_EQ(LoadKivString(IDS_ERR_OTHER + i), test::kOtherError[i]) << i;
        EXPECT_EQ(LoadKivString(IDS_LABEL_SIZE + i), size[i]) << i;
        EXPECT_EQ(LoadKivString(IDS_VERSIONMENU + i), menu[i]) << i;
        // The title is the menu item without its three dots.
        std::string title = menu[i];
        EXPECT_EQ(LoadKivString(IDS_VERSIONTITLE + i), title.substr(0, title.size() - 3)) << i;
        const char* ok = i == 5 ? "Aceptar" : i == 7 ? "确定" : i == 9 ? "確定" : "OK";
        EXPECT_EQ(LoadKivString(IDS_OK + i), ok) << i;
    }
    EXPECT_EQ(LoadKivString(IDS_LABEL_FORMAT + 0), "Video Format:");
    EXPECT_EQ(LoadKivString(IDS_LABEL_FORMAT + 6), "Formato de Vídeo:");
    EXPECT_EQ(LoadKivString(IDS_LABEL_FORMAT + 9), "視頻格式:");
    EXPECT_EQ(LoadKivString(IDS_PRODUCTNAME), "TWAIN Driver for Orvan Document Camera");
}

TEST(StringTable, MessagesKeepTheirSpecialCharacters) {
    EXPECT_EQ(LoadKivString(IDS_ERR_INUSE), "Cannot connect because it is being used by another application.");
    EXPECT_EQ(LoadKivString(IDS_ERR_DISCONNECTED),
              "A camera has been disconnected or has not been connected. Connect a camera to the computer.");
    // A no-break space (U+00A0, C2 A0 in UTF-8) before the colon.
    EXPECT_EQ(LoadKivString(IDS_ERR_INUSE + 2), "Connexion impossible\xC2\xA0: utilisation par une autre application.");
    // Two sentences joined by one line feed.
    EXPECT_EQ(LoadKivString(IDS_ERR_DISCONNECTED + 1),
              "カメラが切断されたか、接続されていません。\nコンピューターにカメラを接続してください。");
    // Two spaces after the first word.
    EXPECT_EQ(LoadKivString(IDS_ERR_DISCONNECTED + 12),
              "Документ-камера  не была подключена или отключилась. Подключите документ-камеру к компьютеру.");
    EXPECT_EQ(LoadKivString(IDS_ERR_INUSE + 3), "Verbinden nicht möglich, da von einer anderen Anwendung verwendet.");
    EXPECT_EQ(LoadKivString(IDS_ERR_INUSE + 7), "无法连接，因为其他程序正在使用它。");
    EXPECT_EQ(LoadKivString(IDS_ERR_DISCONNECTED + 3),
              "Die Verbindung mit einer Dokumentenkamera wurde getrennt bzw. es wurde keine Dokumentenkamera "
              "angeschlossen. Schließen Sie eine Dokumentenkamera an den Computer an.");
    EXPECT_EQ(LoadKivString(IDS_ERR_DISCONNECTED + 9), "文件相機連接中斷，或尚未連接。請將文件相機連接至電腦。");
}

TEST(StringTable, EveryBaseHasThirteenTextsAndMissingIdsAreEmpty) {
    for (unsigned base : kLocalisedBases) {
        for (unsigned i = 0; i < kLanguageCount; ++i) EXPECT_FALSE(LoadKivString(base + i).empty()) << base + i;
        EXPECT_EQ(LoadKivString(base + kLanguageCount), "") << base;
    }
    for (unsigned missing : {0u, 1u, 3351u, 3999u, 4001u, 65535u, 65536u + 3000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(LoadKivString(missing), "") << missing;
    }
}

TEST(StringTable, LicenceIsTheTiffNoticeWithCrLfParagraphs) {
    std::string licence = LoadKivString(IDS_LICENSE);
    EXPECT_EQ(licence.rfind("LibTIFF Copyright and License Agreement\r\n\r\n", 0), 0u);
    EXPECT_NE(licence.find("Permission to use, copy, modify, distribute, and sell this software"), std::string::npos);
    EXPECT_NE(licence.find("PROVIDED \"AS-IS\" AND WITHOUT WARRANTY"), std::string::npos);
    // Every line break is CR LF.
    for (std::size_t at = licence.find('\n'); at != std::string::npos; at = licence.find('\n', at + 1)) {
        ASSERT_GT(at, 0u);
        EXPECT_EQ(licence[at - 1], '\r') << at;
    }
}

// Every row of the source table is what the program loads: on Windows this
// reads the STRINGTABLE resource linked into this test program.
TEST(StringTable, LoadedTextsEqualTheSourceTable) {
    struct Row {
        unsigned id;
        const char* text;
    };
    const Row rows[] = {
#define KIV_STRING(id, text) {id, text},
#include "kivds/ui/StringTable.inc"
#undef KIV_STRING
    };
    EXPECT_EQ(std::size(rows), std::size(kLocalisedBases) * kLanguageCount + 2);
    for (const Row& row : rows) EXPECT_EQ(LoadKivString(row.id), row.text) << row.id;
}

#ifndef _WIN32
TEST(StringTable, LocalisedTextFollowsTheLanguageOfTheMoment) {
    kivtest::ScopedEnv all("LC_ALL", "es_ES.UTF-8");
    EXPECT_EQ(LoadLocalisedString(IDS_OK), "Aceptar");
    kivtest::ScopedEnv japanese("LC_ALL", "ja_JP.UTF-8");
    EXPECT_EQ(LoadLocalisedString(IDS_LABEL_FORMAT), "ビデオ方式:");
    kivtest::ScopedEnv canada("LC_ALL", "fr_CA.UTF-8");
    EXPECT_EQ(LoadLocalisedString(IDS_LABEL_SIZE), "Size:");
}
#endif

}  // namespace
}  // namespace kiv
