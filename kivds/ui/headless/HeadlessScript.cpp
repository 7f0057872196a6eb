#include "kivds/ui/headless/HeadlessScript.h"

#include "kivds/ui/KIVDlg.h"
#include "kivds/ui/headless/HeadlessView.h"

namespace kiv {

bool ScriptedHeadlessDialog::Ended() const { return view_.Snapshot().ended; }
bool ScriptedHeadlessDialog::ControlsEnabled() const { return view_.ControlsEnabled(); }
bool ScriptedHeadlessDialog::Pick(int listId, const std::string& text) { return view_.Pick(dlg_, listId, text); }
bool ScriptedHeadlessDialog::Press(int buttonId) { return view_.Press(dlg_, buttonId); }
void ScriptedHeadlessDialog::ChooseVersionInformation() { view_.ChooseVersionInformation(dlg_); }
void ScriptedHeadlessDialog::PressClose() { view_.PressClose(dlg_); }

}  // namespace kiv
