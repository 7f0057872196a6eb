#include "kivds/ui/headless/HeadlessScript.h"

#include <cstdio>
#include <cstdlib>

#include "kivds/ui/CaptureDialog.h"
#include "kivds/ui/DialogControls.h"
#include "kivds/ui/headless/HeadlessView.h"

namespace kiv {
namespace {

bool ParseNumber(const std::string& text, unsigned long& value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    value = std::strtoul(text.c_str(), nullptr, 10);
    return true;
}

// "WxH" as the size list writes it, "W x H"; empty when malformed.
std::string SizeEntryText(const std::string& spec) {
    const std::size_t x = spec.find('x');
    if (x == std::string::npos) return {};
    unsigned long w = 0, h = 0;
    if (!ParseNumber(spec.substr(0, x), w) || !ParseNumber(spec.substr(x + 1), h)) return {};
    return std::to_string(w) + " x " + std::to_string(h);
}

}  // namespace

HeadlessScript::HeadlessScript(const std::string& text) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        std::string step = text.substr(start, end - start);
        // Spaces around a step are not part of it.
        const std::size_t first = step.find_first_not_of(" \t");
        const std::size_t last = step.find_last_not_of(" \t");
        if (first != std::string::npos) steps_.push_back(step.substr(first, last - first + 1));
        start = end + 1;
    }
}

void HeadlessScript::Fail(const std::string& why) {
    std::fprintf(stderr, "kivds: headless script: %s\n", why.c_str());
    next_ = steps_.size();
}

std::optional<HeadlessScript::Clock::time_point> HeadlessScript::Advance(HeadlessView& view, CKIVDlg& dlg) {
    while (!Finished()) {
        const std::string& step = steps_[next_];
        if (step == "frame") {
            if (!view.ControlsEnabled() || view.Snapshot().ended) return std::nullopt;  // woken by the next event
            ++next_;
            continue;
        }
        if (step.compare(0, 5, "wait=") == 0) {
            unsigned long ms = 0;
            if (!ParseNumber(step.substr(5), ms)) {
                Fail("bad step \"" + step + "\"");
                return std::nullopt;
            }
            if (!waitUntil_) waitUntil_ = Clock::now() + std::chrono::milliseconds(ms);
            if (Clock::now() < *waitUntil_) return waitUntil_;
            waitUntil_.reset();
            ++next_;
            continue;
        }
        // An action: afterwards the loop first handles what it caused.
        bool done = true;
        if (step == "capture") {
            done = view.Press(dlg, IDC_CAPTURE);
        } else if (step == "settings") {
            done = view.Press(dlg, IDC_SETTINGS);
        } else if (step == "version") {
            view.ChooseVersionInformation(dlg);
        } else if (step == "close") {
            view.PressClose(dlg);
        } else if (step.compare(0, 7, "format=") == 0) {
            done = view.Pick(dlg, IDC_FORMAT_LIST, step.substr(7));
        } else if (step.compare(0, 5, "size=") == 0) {
            const std::string entry = SizeEntryText(step.substr(5));
            done = !entry.empty() && view.Pick(dlg, IDC_SIZE_LIST, entry);
        } else {
            Fail("unknown step \"" + step + "\"");
            return std::nullopt;
        }
        if (!done) {
            Fail("cannot do \"" + step + "\" now");
            return std::nullopt;
        }
        ++next_;
        return Clock::now();
    }
    return std::nullopt;
}

}  // namespace kiv
