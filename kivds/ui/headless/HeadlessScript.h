// The headless dialog as KIVDS_UI_SCRIPT drives it: the view's clicks, bound
// to the dialog logic they reach (see UiScript.h for the steps).
//
// Threads: the dialog's thread.
#pragma once

#include <string>

#include "kivds/ui/UiScript.h"

namespace kiv {

class CKIVDlg;
class HeadlessView;

class ScriptedHeadlessDialog final : public IScriptedDialog {
public:
    ScriptedHeadlessDialog(HeadlessView& view, CKIVDlg& dlg) : view_(view), dlg_(dlg) {}

    bool Ended() const override;
    bool ControlsEnabled() const override;
    bool Pick(int listId, const std::string& text) override;
    bool Press(int buttonId) override;
    void ChooseVersionInformation() override;
    void PressClose() override;
    bool SetControl(const std::string& name, const std::string& text) override;
    bool PressDefaults() override;
    bool CloseSettings() override;

private:
    HeadlessView& view_;
    CKIVDlg& dlg_;
};

}  // namespace kiv
