// The script engine of the toolkit dialogs against a dialog double.
#include <gtest/gtest.h>

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
        return enabled;
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
    EXPECT_FALSE(script.Advance(dialog).has_value());
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

    dialog.enabled = false;
    UiScript disabled("capture;close");
    EXPECT_FALSE(disabled.Advance(dialog).has_value());
    EXPECT_EQ((std::vector<std::string>{"press 2009"}), dialog.done);
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
