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
        const std::string step = text.substr(start, end - start);
        const std::size_t first = step.find_first_not_of(" \t");
        const std::size_t last = step.find_last_not_of(" \t");
        if (first != std::string::npos) steps.push_back(step.substr(first, last - first + 1));
        start = end + 1;
    }
    return steps;
}

// A decimal number of at most nine digits.
bool ParseNumber(const std::string& text, unsigned long& value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    value = std::strtoul(text.c_str(), nullptr, 10);
    return true;
}

// "1280x720" as the size list shows it, "1280 x 720"; empty when malformed.
std::string SizeEntry(const std::string& spec) {
    const std::size_t x = spec.find('x');
    if (x == std::string::npos) return {};
    unsigned long w = 0, h = 0;
    if (!ParseNumber(spec.substr(0, x), w) || !ParseNumber(spec.substr(x + 1), h)) return {};
    return std::to_string(w) + " x " + std::to_string(h);
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
            ++next_;
            continue;
        }
        if (step.rfind("wait=", 0) == 0) {
            unsigned long ms = 0;
            if (!ParseNumber(step.substr(5), ms)) return Fail("not a number of milliseconds"), std::nullopt;
            if (!waitUntil_) waitUntil_ = now + std::chrono::milliseconds(ms);
            if (now < *waitUntil_) return *waitUntil_;
            waitUntil_.reset();
            ++next_;
            continue;
        }
        if (step == "settings") {
            // Done before it runs, as "version": the settings window's loop
            // runs the next steps inside it.
            ++next_;
            if (!dialog.Press(IDC_SETTINGS)) {
                --next_;
                return Fail("the button is disabled"), std::nullopt;
            }
            return Clock::now();
        }
        if (step.rfind("set=", 0) == 0 || step == "defaults" || step == "close-settings") {
            bool open = false;
            if (step == "defaults") {
                open = dialog.PressDefaults();
            } else if (step == "close-settings") {
                open = dialog.CloseSettings();
            } else {
                const std::string assignment = step.substr(4);
                const std::size_t colon = assignment.rfind(':');
                if (colon == std::string::npos) return Fail("not NAME:VALUE"), std::nullopt;
                open = dialog.SetControl(assignment.substr(0, colon), assignment.substr(colon + 1));
            }
            if (!open) return Fail("no settings window is open"), std::nullopt;
            ++next_;
            return Clock::now();
        }
        if (step == "version" || step == "close") {
            // The step counts as done before it runs: the dialog's loop runs
            // inside it, and may come back here.
            ++next_;
            if (step == "version") dialog.ChooseVersionInformation();
            else dialog.PressClose();
            return Clock::now();
        }
        if (step.rfind("format=", 0) == 0) {
            if (!dialog.Pick(IDC_FORMAT_LIST, step.substr(7)))
                return Fail("no such format, or the list is disabled"), std::nullopt;
        } else if (step.rfind("size=", 0) == 0) {
            const std::string entry = SizeEntry(step.substr(5));
            if (entry.empty()) return Fail("not a size WxH"), std::nullopt;
            if (!dialog.Pick(IDC_SIZE_LIST, entry)) return Fail("no such size, or the list is disabled"), std::nullopt;
        } else if (step == "capture") {
            if (!dialog.Press(IDC_CAPTURE)) return Fail("the button is disabled"), std::nullopt;
        } else {
            return Fail("unknown step"), std::nullopt;
        }
        ++next_;
        return Clock::now();
    }
    return std::nullopt;
}

}  // namespace kiv
