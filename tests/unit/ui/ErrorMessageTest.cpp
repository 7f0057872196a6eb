#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "kivds/platform/MessageBox.h"
#include "kivds/ui/ErrorMessage.h"
#include "kivds/ui/Language.h"
#include "kivds/ui/Strings.h"
#include "unit/ui/ExpectedTexts.h"
#include "support/ScopedEnv.h"

namespace kiv {
namespace {

TEST(CameraErrorToCondition, MapsTheCameraErrors) {
    EXPECT_EQ(CameraErrorToCondition(0), 0);
    EXPECT_EQ(CameraErrorToCondition(-1), 0x8001);
    EXPECT_EQ(CameraErrorToCondition(-2), 0x8002);
    for (int other : {-100, -3, 1, 2, INT_MIN, INT_MAX}) EXPECT_EQ(CameraErrorToCondition(other), 0x8003) << other;
}

class ErrorMessageBox : public ::testing::Test {
protected:
    void SetUp() override { ClearHeadlessMessages(); }
    void TearDown() override { ClearHeadlessMessages(); }

    // Runs ShowErrorMessage and returns what the headless backend recorded.
    std::vector<ShownMessage> Show(WindowHandle owner, std::uint16_t condition) {
        ClearHeadlessMessages();
        ShowErrorMessage(owner, condition);
        return HeadlessMessages();
    }

    kivtest::ScopedEnv headless_{"KIVDS_UI", "headless"};
#ifndef _WIN32
    kivtest::ScopedEnv english_{"LC_ALL", "en_US.UTF-8"};
#endif
};

TEST_F(ErrorMessageBox, ConditionZeroShowsNothing) {
    EXPECT_TRUE(Show(nullptr, 0).empty());
    int owner = 0;
    EXPECT_TRUE(Show(&owner, 0).empty());
}

TEST_F(ErrorMessageBox, OtherConditionsCarryTheirNumberAndTopmostOnlyWithoutOwner) {
    // English here (LC_ALL above); on Windows the user's locale decides.
    const std::string other = test::kOtherError[GetLanguageIndex()];
    auto shown = Show(nullptr, 0x8003);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "Orvan Document Camera");
    EXPECT_EQ(shown[0].text, other + " (32771)");
#ifndef _WIN32
    EXPECT_EQ(shown[0].text, "Other error (32771)");
#endif
    EXPECT_EQ(shown[0].owner, nullptr);
    EXPECT_EQ(shown[0].style, 0x40010u);

    int dialog = 0;
    shown = Show(&dialog, 2);  // a TWAIN condition code goes through the same path
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, other + " (2)");
    EXPECT_EQ(shown[0].owner, &dialog);
    EXPECT_EQ(shown[0].style, 0x10u);

    // The condition is an unsigned 16-bit number, never negative.
    EXPECT_EQ(Show(nullptr, 0xFFFF).at(0).text, other + " (65535)");
    EXPECT_EQ(Show(nullptr, 0x8000).at(0).text, other + " (32768)");
}

TEST_F(ErrorMessageBox, CameraConditionsShowTheirOwnTextUnchanged) {
    auto shown = Show(nullptr, 0x8001);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, LoadLocalisedString(IDS_ERR_DISCONNECTED));
    EXPECT_FALSE(shown[0].text.empty());
    EXPECT_EQ(shown[0].style, 0x40010u);
    shown = Show(nullptr, 0x8002);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, LoadLocalisedString(IDS_ERR_INUSE));
    EXPECT_EQ(shown[0].text.find('('), std::string::npos);
}

#ifndef _WIN32
TEST_F(ErrorMessageBox, TextsFollowTheUsersLanguageButTheCaptionDoesNot) {
    {
        kivtest::ScopedEnv japanese("LC_ALL", "ja_JP.UTF-8");
        auto shown = Show(nullptr, 0x8001);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].caption, "Orvan Document Camera");
        EXPECT_EQ(shown[0].text,
                  "カメラが切断されたか、接続されていません。\nコンピューターにカメラを接続してください。");
        EXPECT_EQ(Show(nullptr, 0x8003).at(0).text, "その他のエラー (32771)");
    }
    {
        kivtest::ScopedEnv german("LC_ALL", "de_DE.UTF-8");
        auto shown = Show(nullptr, 0x8002);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].caption, "Orvan Document Camera");
        EXPECT_EQ(shown[0].text, "Verbinden nicht möglich, da von einer anderen Anwendung verwendet.");
    }
    {
        kivtest::ScopedEnv french("LC_ALL", "fr_FR.UTF-8");
        EXPECT_EQ(Show(nullptr, 0x0004).at(0).text, "Autre erreur (4)");
    }
}
#endif

}  // namespace
}  // namespace kiv
