#include "kivds/ui/headless/HeadlessScript.h"

#include "kivds/ui/KIVDlg.h"
#include "kivds/ui/headless/HeadlessSettings.h"
#include "kivds/ui/headless/HeadlessView.h"

namespace kiv {

bool ScriptedHeadlessDialog::Ended() const { return view_.Snapshot().ended; }
bool ScriptedHeadlessDialog::ControlsEnabled() const { return view_.ControlsEnabled(); }
bool ScriptedHeadlessDialog::Pick(int listId, const std::string& text) { return view_.Pick(dlg_, listId, text); }
bool ScriptedHeadlessDialog::Press(int buttonId) { return view_.Press(dlg_, buttonId); }
void ScriptedHeadlessDialog::ChooseVersionInformation() { view_.ChooseVersionInformation(dlg_); }
void ScriptedHeadlessDialog::PressClose() { view_.PressClose(dlg_); }

bool ScriptedHeadlessDialog::SetControl(const std::string& name, const std::string& text) {
    HeadlessSettings* settings = view_.OpenSettings();
    if (settings) settings->Set(name, text);
    return settings != nullptr;
}

bool ScriptedHeadlessDialog::PressDefaults() {
    HeadlessSettings* settings = view_.OpenSettings();
    if (settings) settings->Defaults();
    return settings != nullptr;
}

bool ScriptedHeadlessDialog::CloseSettings() {
    HeadlessSettings* settings = view_.OpenSettings();
    if (settings) settings->Close();
    return settings != nullptr;
}

}  // namespace kiv
