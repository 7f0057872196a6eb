#include "kivds/ui/fltk/FltkScript.h"

#include <cstdio>
#include <cstdlib>

#include "kivds/ui/DialogControls.h"
#include "kivds/ui/fltk/FltkView.h"

namespace kiv {
namespace {

// Polls while a step waits for the dialog.
constexpr std::chrono::milliseconds kRecheck{20};

std::vector<std::string> SplitSteps(const std::string& text) {
    std::vector<std::string> steps;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        std::string step = text.substr(start, end - start);
        while (!step.empty() && step.front() == ' ') step.erase(step.begin());
        while (!step.empty() && step.back() == ' ') step.pop_back();
        if (!step.empty()) steps.push_back(step);
        start = end + 1;
    }
    return steps;
}

}  // namespace

FltkScript::FltkScript(const std::string& text) : steps_(SplitSteps(text)) {}

bool FltkScript::Fail(const std::string& why) {
    std::fprintf(stderr, "kivds: UI script step \"%s\": %s\n", steps_[next_].c_str(), why.c_str());
    std::fflush(stderr);
    next_ = steps_.size();
    return false;
}

std::optional<FltkScript::Clock::time_point> FltkScript::Advance(FltkCaptureView& view) {
    while (next_ < steps_.size()) {
        if (view.Ended()) return std::nullopt;
        const std::string& step = steps_[next_];
        const Clock::time_point now = Clock::now();
        if (step == "frame") {
            if (!view.ControlsEnabled()) return now + kRecheck;
        } else if (step.rfind("wait=", 0) == 0) {
            if (!waitUntil_) waitUntil_ = now + std::chrono::milliseconds(std::atoi(step.c_str() + 5));
            if (now < *waitUntil_) return *waitUntil_;
            waitUntil_.reset();
        } else if (step.rfind("format=", 0) == 0) {
            if (!view.Pick(IDC_FORMAT_LIST, step.substr(7))) return Fail("no such format, or the list is disabled"), std::nullopt;
        } else if (step.rfind("size=", 0) == 0) {
            std::string size = step.substr(5);
            const std::size_t x = size.find('x');
            if (x != std::string::npos) size = size.substr(0, x) + " x " + size.substr(x + 1);
            if (!view.Pick(IDC_SIZE_LIST, size)) return Fail("no such size, or the list is disabled"), std::nullopt;
        } else if (step == "capture" || step == "settings") {
            if (!view.Press(step == "capture" ? IDC_CAPTURE : IDC_SETTINGS))
                return Fail("the button is disabled"), std::nullopt;
        } else if (step == "version") {
            view.AutoCloseVersionDialog(true);
            ++next_;  // the dialog's loop runs inside this step
            view.ChooseVersionInformation();
            continue;
        } else if (step == "close") {
            ++next_;
            view.PressClose();
            continue;
        } else {
            return Fail("unknown step"), std::nullopt;
        }
        ++next_;
    }
    return std::nullopt;
}

}  // namespace kiv
