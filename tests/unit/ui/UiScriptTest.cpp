// The script engine of the toolkit dialogs against a dialog double.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kivds/ui/DialogControls.h"
#include "kivds/ui/UiScript.h"

namespace kiv {
namespace {

class DialogDouble final : public IScriptedDialog {
public:
    bool Ended() const override { return ended; }
    bool ControlsEnabled() const override { return enabled; }
    bool Pick(int listId, const std::string& text) override {
        done.push_back("pick " + std::to_string(listId) + " " + text);
        return enabled && text != "NV12";
    }
    bool Press(int buttonId) override {
        done.push_back("press " + std::to_string(buttonId));
        if (!enabled) return false;
        if (buttonId == IDC_SETTINGS && script) {
            // The settings window's loop runs the script until it is closed.
            settingsOpen = true;
            while (settingsOpen && script->Advance(*this).has_value()) {
            }
            settingsOpen = false;
        }
        return true;
    }
    bool SetControl(const std::string& name, const std::string& text) override {
        done.push_back("set " + name + "|" + text);
        return settingsOpen;
    }
    bool PressDefaults() override {
        done.push_back("defaults");
        return settingsOpen;
    }
    bool CloseSettings() override {
        done.push_back("close-settings");
        const bool open = settingsOpen;
        settingsOpen = false;
        return open;
    }
    void ChooseVersionInformation() override {
        done.push_back("version");
        // The version dialog's loop runs the script's timer again.
        if (script) script->Advance(*this);
    }
    void PressClose() override {
        done.push_back("close");
        ended = true;
    }
    bool enabled = false;
    bool ended = false;
    bool settingsOpen = false;
    UiScript* script = nullptr;
    std::vector<std::string> done;
};

TEST(UiScriptTest, StepsWaitForTheFirstFrameAndRunInOrder) {
    UiScript script(" frame ; format=YUY2;;size=1280x720; capture;version;close;capture");
    DialogDouble dialog;
    dialog.script = &script;
    EXPECT_TRUE(script.Advance(dialog).has_value()) << "waits for the controls";
    EXPECT_TRUE(dialog.done.empty());
    dialog.enabled = true;
    // Each action hands control back to the loop before the next step.
    int calls = 0;
    while (script.Advance(dialog).has_value()) ASSERT_LT(++calls, 20);
    EXPECT_EQ(4, calls);
    EXPECT_EQ((std::vector<std::string>{"pick 2004 YUY2", "pick 2007 1280 x 720", "press 2009", "version", "close"}),
              dialog.done)
        << "the version step runs once although the script advanced inside it; nothing after the close";
}

TEST(UiScriptTest, ImpossibleOrUnknownStepEndsTheScript) {
    DialogDouble dialog;
    dialog.enabled = true;
    UiScript unknownFormat("format=NV12;capture");
    EXPECT_FALSE(unknownFormat.Advance(dialog).has_value());
    EXPECT_TRUE(unknownFormat.Finished());
    EXPECT_EQ((std::vector<std::string>{"pick 2004 NV12"}), dialog.done);

    dialog.done.clear();
    UiScript unknownStep("jump;capture");
    EXPECT_FALSE(unknownStep.Advance(dialog).has_value());
    EXPECT_TRUE(dialog.done.empty());

    for (const char* malformed : {"wait=soon;capture", "wait=-5;capture", "size=1280;capture", "size=x720;capture"}) {
        dialog.done.clear();
        UiScript script(malformed);
        EXPECT_FALSE(script.Advance(dialog).has_value()) << malformed;
        EXPECT_TRUE(script.Finished()) << malformed;
        EXPECT_TRUE(dialog.done.empty()) << malformed;
    }

    dialog.done.clear();
    dialog.enabled = false;
    UiScript disabled("capture;close");
    EXPECT_FALSE(disabled.Advance(dialog).has_value());
    EXPECT_EQ((std::vector<std::string>{"press 2009"}), dialog.done);
}

TEST(UiScriptTest, SettingsStepsRunInsideTheSettingsWindowAndNeedIt) {
    DialogDouble dialog;
    dialog.enabled = true;
    UiScript script(
        "settings;set=Focus, Absolute:250;set=Power Line Frequency:50 Hz:x;defaults;close-settings;capture");
    dialog.script = &script;
    while (script.Advance(dialog).has_value()) {
    }
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ((std::vector<std::string>{"press 2008", "set Focus, Absolute|250", "set Power Line Frequency:50 Hz|x",
                                        "defaults", "close-settings", "press 2009"}),
              dialog.done)
        << "the name runs up to the last colon; the settings press runs once";

    // Without an open settings window, or without a NAME:VALUE, the script ends.
    for (const char* outside :
         {"set=Brightness:4;capture", "close-settings;capture", "settings;set=Brightness;capture"}) {
        dialog.done.clear();
        UiScript alone(outside);
        dialog.script = &alone;
        while (alone.Advance(dialog).has_value()) {
        }
        EXPECT_EQ(dialog.done.end(), std::find(dialog.done.begin(), dialog.done.end(), "press 2009")) << outside;
    }
    // A disabled settings button ends it too, at that step.
    dialog.enabled = false;
    dialog.done.clear();
    UiScript disabled("settings;close");
    dialog.script = &disabled;
    EXPECT_FALSE(disabled.Advance(dialog).has_value());
    EXPECT_EQ((std::vector<std::string>{"press 2008"}), dialog.done);
}

TEST(UiScriptTest, WaitStepAsksToBeCalledAgainLater) {
    DialogDouble dialog;
    dialog.enabled = true;
    UiScript script("wait=60000;capture");
    const auto before = UiScript::Clock::now();
    const auto next = script.Advance(dialog);
    ASSERT_TRUE(next.has_value());
    EXPECT_GE(*next, before + std::chrono::seconds(59));
    EXPECT_TRUE(dialog.done.empty());
}

}  // namespace
}  // namespace kiv
