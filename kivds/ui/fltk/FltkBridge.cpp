#include "kivds/ui/fltk/FltkBridge.h"

#include <map>
#include <mutex>
#include <utility>

namespace kiv {

struct FltkBridge::Impl {
    struct Entry {
        Target target;
        std::shared_ptr<const PreviewPicture> waiting;  // not drawn yet
        std::shared_ptr<const PreviewPicture> latest;   // drawn last or waiting
        bool repaintAsked = false;
    };
    mutable std::mutex mutex;
    std::map<WindowHandle, Entry> windows;
};

FltkBridge::Impl& FltkBridge::State() const {
    static Impl impl;
    return impl;
}

FltkBridge& FltkBridge::Instance() {
    static FltkBridge bridge;
    return bridge;
}

void FltkBridge::Install() { SetWindowBridge(&Instance()); }

void FltkBridge::Register(WindowHandle window, Target target) {
    if (!window) return;
    Impl& s = State();
    std::lock_guard<std::mutex> guard(s.mutex);
    Impl::Entry& entry = s.windows[window];
    entry.target = std::move(target);
}

void FltkBridge::Unregister(WindowHandle window) {
    Impl& s = State();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.windows.erase(window);
}

std::shared_ptr<const PreviewPicture> FltkBridge::Take(WindowHandle window) {
    Impl& s = State();
    std::lock_guard<std::mutex> guard(s.mutex);
    auto it = s.windows.find(window);
    if (it == s.windows.end()) return nullptr;
    it->second.repaintAsked = false;
    return std::move(it->second.waiting);
}

std::shared_ptr<const PreviewPicture> FltkBridge::Latest(WindowHandle window) const {
    Impl& s = State();
    std::lock_guard<std::mutex> guard(s.mutex);
    auto it = s.windows.find(window);
    return it == s.windows.end() ? nullptr : it->second.latest;
}

void FltkBridge::SetClientSize(WindowHandle window, int width, int height) {
    Impl& s = State();
    std::lock_guard<std::mutex> guard(s.mutex);
    auto it = s.windows.find(window);
    if (it == s.windows.end()) return;
    it->second.target.width = width;
    it->second.target.height = height;
}

bool FltkBridge::GetClientSize(WindowHandle window, int& width, int& height) {
    Impl& s = State();
    std::lock_guard<std::mutex> guard(s.mutex);
    auto it = s.windows.find(window);
    if (it == s.windows.end()) return false;
    width = it->second.target.width;
    height = it->second.target.height;
    return true;
}

void FltkBridge::Deliver(WindowHandle window, unsigned message) {
    std::function<void(unsigned)> deliver;
    {
        Impl& s = State();
        std::lock_guard<std::mutex> guard(s.mutex);
        auto it = s.windows.find(window);
        if (it == s.windows.end()) return;
        deliver = it->second.target.deliver;
    }
    if (deliver) deliver(message);
}

void FltkBridge::PostGraphNotify(WindowHandle window) { Deliver(window, WM_GRAPHNOTIFY); }

void FltkBridge::SendFrameArrived(WindowHandle window) { Deliver(window, WM_FRAMEARRIVED); }

void FltkBridge::PresentPreview(WindowHandle window, std::shared_ptr<const PreviewPicture> picture) {
    std::function<void()> repaint;
    {
        Impl& s = State();
        std::lock_guard<std::mutex> guard(s.mutex);
        auto it = s.windows.find(window);
        if (it == s.windows.end() || !picture) return;
        // A picture that was not drawn yet is replaced: a slow display drops
        // frames instead of queueing them, and asks for one repaint only.
        it->second.waiting = picture;
        it->second.latest = std::move(picture);
        if (it->second.repaintAsked) return;
        it->second.repaintAsked = true;
        repaint = it->second.target.repaint;
    }
    if (repaint) repaint();
}

}  // namespace kiv
