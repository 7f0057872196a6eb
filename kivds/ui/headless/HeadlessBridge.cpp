#include "kivds/ui/headless/HeadlessBridge.h"

#include <map>
#include <mutex>
#include <string>

#include "kivds/ui/headless/HeadlessView.h"

namespace kiv {

struct HeadlessBridge::Impl {
    struct Target {
        int width;
        int height;
        std::function<void(unsigned)> deliver;
        std::shared_ptr<const PreviewPicture> picture;
    };
    mutable std::mutex mutex;
    std::map<WindowHandle, Target> targets;
};

HeadlessBridge& HeadlessBridge::Instance() {
    static HeadlessBridge bridge;
    return bridge;
}

void HeadlessBridge::Install() { SetWindowBridge(&Instance()); }

HeadlessBridge::Impl& HeadlessBridge::State() const {
    static Impl impl;
    return impl;
}

void HeadlessBridge::Register(WindowHandle window, int width, int height, std::function<void(unsigned)> deliver) {
    std::lock_guard<std::mutex> guard(State().mutex);
    State().targets[window] = Impl::Target{width, height, std::move(deliver), nullptr};
}

void HeadlessBridge::Unregister(WindowHandle window) {
    std::lock_guard<std::mutex> guard(State().mutex);
    State().targets.erase(window);
}

void HeadlessBridge::SetClientSize(WindowHandle window, int width, int height) {
    std::lock_guard<std::mutex> guard(State().mutex);
    auto it = State().targets.find(window);
    if (it == State().targets.end()) return;
    it->second.width = width;
    it->second.height = height;
}

std::shared_ptr<const PreviewPicture> HeadlessBridge::LastPicture(WindowHandle window) const {
    std::lock_guard<std::mutex> guard(State().mutex);
    auto it = State().targets.find(window);
    return it == State().targets.end() ? nullptr : it->second.picture;
}

bool HeadlessBridge::GetClientSize(WindowHandle window, int& width, int& height) {
    std::lock_guard<std::mutex> guard(State().mutex);
    auto it = State().targets.find(window);
    if (it == State().targets.end()) {
        width = height = 0;
        return false;
    }
    width = it->second.width;
    height = it->second.height;
    return true;
}

void HeadlessBridge::Deliver(WindowHandle window, unsigned message) {
    std::lock_guard<std::mutex> guard(State().mutex);
    auto it = State().targets.find(window);
    if (it != State().targets.end() && it->second.deliver) it->second.deliver(message);
}

void HeadlessBridge::PostGraphNotify(WindowHandle window) { Deliver(window, WM_GRAPHNOTIFY); }

// Queued like a posted message: the streaming thread never waits for the
// dialog (the dialog's thread may be stopping the camera, which joins it).
void HeadlessBridge::SendFrameArrived(WindowHandle window) { Deliver(window, WM_FRAMEARRIVED); }

void HeadlessBridge::PresentPreview(WindowHandle window, std::shared_ptr<const PreviewPicture> picture) {
    std::string line;
    {
        std::lock_guard<std::mutex> guard(State().mutex);
        auto it = State().targets.find(window);
        if (it == State().targets.end() || !picture) return;
        const auto& previous = it->second.picture;
        // The journal notes a new placement, not every frame.
        if (!previous || previous->left != picture->left || previous->top != picture->top ||
            previous->width != picture->width || previous->height != picture->height) {
            line = "preview " + std::to_string(picture->left) + "," + std::to_string(picture->top) + " " +
                   std::to_string(picture->width) + "x" + std::to_string(picture->height);
        }
        it->second.picture = std::move(picture);
    }
    if (!line.empty()) JournalLine(line);
}

}  // namespace kiv
