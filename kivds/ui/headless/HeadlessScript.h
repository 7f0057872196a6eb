// The script that drives a headless dialog without a person (KIVDS_UI_SCRIPT).
//
//   script = step *( ";" step )
//   step   = "frame"                 ; wait until the four controls are enabled
//          | "wait=" MS              ; let MS milliseconds pass
//          | "format=" ("MJPEG" | "YUY2")   ; pick that format entry
//          | "size=" W "x" H         ; pick the size entry "W x H"
//          | "capture" | "settings"  ; press 2009 / 2008
//          | "version"               ; the system-menu item (the version dialog closes with OK)
//          | "close"                 ; the close box
//
// Steps run in order. An unknown or impossible step writes one line to
// standard error and ends the script. Empty steps are skipped.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

class CKIVDlg;
class HeadlessView;

class HeadlessScript {
public:
    using Clock = std::chrono::steady_clock;
    explicit HeadlessScript(const std::string& text);

    // Runs the steps that can run now. Returns when to be called again
    // (nothing: after the next event). Called on the dialog's thread.
    std::optional<Clock::time_point> Advance(HeadlessView& view, CKIVDlg& dlg);
    bool Finished() const { return next_ >= steps_.size(); }

private:
    void Fail(const std::string& why);

    std::vector<std::string> steps_;
    std::size_t next_ = 0;
    std::optional<Clock::time_point> waitUntil_;
};

}  // namespace kiv
