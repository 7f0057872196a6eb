// The script that drives a shown dialog without a person (KIVDS_UI_SCRIPT),
// through the dialog's own controls as a person's clicks would be:
//
//   script = step *( ";" step )
//   step   = "frame"                 ; wait until the lists and the capture button are enabled
//          | "wait=" MS              ; let MS milliseconds pass
//          | "format=" ("MJPEG" | "YUY2")   ; pick that format entry
//          | "size=" W "x" H         ; pick the size entry "W x H"
//          | "capture" | "settings"  ; press 2009 / 2008
//          | "version"               ; the system-menu item (the version dialog closes with OK)
//          | "close"                 ; the close box
//          | "set=" NAME ":" VALUE   ; in the settings window: the control NAME (the
//                                    ; driver's name, up to the last ":") to VALUE
//          | "defaults"              ; in the settings window: its Defaults button
//          | "close-settings"        ; closes the settings window
//
// "settings" opens the settings window, which is modal: the steps after it
// run inside it until "close-settings" (or the camera's loss) closes it. A
// control the window refuses (no such name, inactive, read-only, a value
// it does not take) is shown there as the window shows it, and the script
// goes on.
//
// Steps run in order; spaces around a step and empty steps are ignored. An
// unknown, malformed or impossible step writes one line to standard error
// and ends the script. Each backend (headless, FLTK, Win32) offers its clicks
// as an IScriptedDialog and calls Advance from its loop when Advance asks.
//
// Threads: the dialog's thread.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

// What a script does to a shown dialog.
class IScriptedDialog {
public:
    virtual ~IScriptedDialog() = default;
    // The dialog ended itself (it is hidden): the script stops.
    virtual bool Ended() const = 0;
    // The dialog is ready for the user (ReadyControlsEnabled).
    virtual bool ControlsEnabled() const = 0;
    // Selects the entry `text` of list `listId` and notifies the change as the
    // list does (nothing when it is selected already); false when the list
    // is disabled or has no such entry.
    virtual bool Pick(int listId, const std::string& text) = 0;
    // Clicks button `buttonId`; false when it is disabled.
    virtual bool Press(int buttonId) = 0;
    // The system menu's version item; the version dialog closes itself with
    // OK once shown. Returns when it is closed.
    virtual void ChooseVersionInformation() = 0;
    // The close box.
    virtual void PressClose() = 0;
    // In the settings window: sets the control `name` to the value `text`
    // as its row would, presses Defaults, closes it. False when no settings
    // window is open.
    virtual bool SetControl(const std::string& name, const std::string& text) {
        (void)name;
        (void)text;
        return false;
    }
    virtual bool PressDefaults() { return false; }
    virtual bool CloseSettings() { return false; }
};

class UiScript {
public:
    using Clock = std::chrono::steady_clock;
    explicit UiScript(const std::string& text);

    // Runs the steps that can run now; returns when to be called again
    // (nothing: finished or failed). After an action it returns at once, so
    // that the loop first handles what the action caused.
    std::optional<Clock::time_point> Advance(IScriptedDialog& dialog);
    bool Finished() const { return next_ >= steps_.size(); }

private:
    void Fail(const std::string& why);

    std::vector<std::string> steps_;
    std::size_t next_ = 0;
    std::optional<Clock::time_point> waitUntil_;
};

}  // namespace kiv
