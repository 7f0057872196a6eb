#include "kivds/ui/UiScript.h"

#include <cstdio>
#include <cstdlib>

#include "kivds/ui/DialogControls.h"

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

// "1280x720" as the size list shows it, "1280 x 720".
std::string SizeEntry(std::string size) {
    const std::size_t x = size.find('x');
    if (x != std::string::npos) size = size.substr(0, x) + " x " + size.substr(x + 1);
    return size;
}

}  // namespace

UiScript::UiScript(const std::string& text) : steps_(SplitSteps(text)) {}

void UiScript::Fail(const std::string& why) {
    std::fprintf(stderr, "kivds: UI script step \"%s\": %s\n", steps_[next_].c_str(), why.c_str());
    std::fflush(stderr);
    next_ = steps_.size();
}

std::optional<UiScript::Clock::time_point> UiScript::Advance(IScriptedDialog& dialog) {
    while (next_ < steps_.size()) {
        if (dialog.Ended()) return std::nullopt;
        const std::string& step = steps_[next_];
        const Clock::time_point now = Clock::now();
        if (step == "frame") {
            if (!dialog.ControlsEnabled()) return now + kRecheck;
        } else if (step.rfind("wait=", 0) == 0) {
            if (!waitUntil_) waitUntil_ = now + std::chrono::milliseconds(std::atoi(step.c_str() + 5));
            if (now < *waitUntil_) return *waitUntil_;
            waitUntil_.reset();
        } else if (step.rfind("format=", 0) == 0) {
            if (!dialog.Pick(IDC_FORMAT_LIST, step.substr(7))) return Fail("no such format, or the list is disabled"), std::nullopt;
        } else if (step.rfind("size=", 0) == 0) {
            if (!dialog.Pick(IDC_SIZE_LIST, SizeEntry(step.substr(5))))
                return Fail("no such size, or the list is disabled"), std::nullopt;
        } else if (step == "capture" || step == "settings") {
            if (!dialog.Press(step == "capture" ? IDC_CAPTURE : IDC_SETTINGS))
                return Fail("the button is disabled"), std::nullopt;
        } else if (step == "version" || step == "close") {
            // The step counts as done before it runs: the dialog's loop runs
            // inside it, and may come back here.
            ++next_;
            if (step == "version")
                dialog.ChooseVersionInformation();
            else
                dialog.PressClose();
            continue;
        } else {
            return Fail("unknown step"), std::nullopt;
        }
        ++next_;
    }
    return std::nullopt;
}

}  // namespace kiv
