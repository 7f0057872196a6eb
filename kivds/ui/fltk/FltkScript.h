// The KIVDS_UI_SCRIPT steps for the FLTK dialog: the same words as the
// headless script (frame, wait=MS, format=, size=WxH, capture, settings,
// version, close), performed through the widgets' own callbacks as a
// person's clicks would be. The version dialog closes itself with OK.
//
// Threads: the dialog's thread, holding FltkLock().
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

class FltkCaptureView;

class FltkScript {
public:
    using Clock = std::chrono::steady_clock;
    explicit FltkScript(const std::string& text);

    // Runs the steps that can run now; returns when to be called again
    // (nothing: finished or failed).
    std::optional<Clock::time_point> Advance(FltkCaptureView& view);
    bool Finished() const { return next_ >= steps_.size(); }

private:
    bool Fail(const std::string& why);

    std::vector<std::string> steps_;
    std::size_t next_ = 0;
    std::optional<Clock::time_point> waitUntil_;
};

}  // namespace kiv
