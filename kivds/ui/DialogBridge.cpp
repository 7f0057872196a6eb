#include "kivds/ui/DialogBridge.h"

#include <map>
#include <mutex>
#include <utility>

namespace kiv {

struct DialogBridge::Impl {
    struct Entry {
        Target target;
        std::shared_ptr<const PreviewPicture> waiting;  // not taken yet
        std::shared_ptr<const PreviewPicture> latest;   // taken last or waiting
        bool repaintAsked = false;
    };
    mutable std::mutex mutex;
    std::map<WindowHandle, Entry> windows;
};

DialogBridge::Impl& DialogBridge::State() const {
    static Impl impl;
    return impl;
}

DialogBridge& DialogBridge::Instance() {
    static DialogBridge bridge;
    return bridge;
}

void DialogBridge::Install() { SetWindowBridge(&Instance()); }

void DialogBridge::Register(WindowHandle window, Target target) {
    if (!window) return;
    Impl& s = State();
    std::lock_guard<std::mutex> guard(s.mutex);
    // The replaced functions go when `target` does, outside the lock.
    std::swap(s.windows[window].target, target);
}

void DialogBridge::Unregister(WindowHandle window) {
    Impl::Entry gone;  // its functions are released outside the lock
    {
        Impl& s = State();
        std::lock_guard<std::mutex> guard(s.mutex);
        auto it = s.windows.find(window);
        if (it == s.windows.end()) return;
        gone = std::move(it->second);
        s.windows.erase(it);
    }
}

std::shared_ptr<const PreviewPicture> DialogBridge::Take(WindowHandle window) {
    Impl& s = State();
    std::lock_guard<std::mutex> guard(s.mutex);
    auto it = s.windows.find(window);
    if (it == s.windows.end()) return nullptr;
    it->second.repaintAsked = false;
    return std::move(it->second.waiting);
}

std::shared_ptr<const PreviewPicture> DialogBridge::Latest(WindowHandle window) const {
    Impl& s = State();
    std::lock_guard<std::mutex> guard(s.mutex);
    auto it = s.windows.find(window);
    return it == s.windows.end() ? nullptr : it->second.latest;
}

void DialogBridge::SetClientSize(WindowHandle window, int width, int height) {
    Impl& s = State();
    std::lock_guard<std::mutex> guard(s.mutex);
    auto it = s.windows.find(window);
    if (it == s.windows.end()) return;
    it->second.target.width = width;
    it->second.target.height = height;
}

bool DialogBridge::GetClientSize(WindowHandle window, int& width, int& height) {
    Impl& s = State();
    std::lock_guard<std::mutex> guard(s.mutex);
    auto it = s.windows.find(window);
    if (it == s.windows.end()) {
        width = height = 0;
        return false;
    }
    width = it->second.target.width;
    height = it->second.target.height;
    return true;
}

void DialogBridge::Deliver(WindowHandle window, unsigned message) {
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

void DialogBridge::PostGraphNotify(WindowHandle window) { Deliver(window, WM_GRAPHNOTIFY); }

void DialogBridge::SendFrameArrived(WindowHandle window) { Deliver(window, WM_FRAMEARRIVED); }

void DialogBridge::PresentPreview(WindowHandle window, std::shared_ptr<const PreviewPicture> picture) {
    std::function<void()> repaint;
    {
        Impl& s = State();
        std::lock_guard<std::mutex> guard(s.mutex);
        auto it = s.windows.find(window);
        if (it == s.windows.end() || !picture) return;
        // A picture that was not taken yet is replaced: a slow display drops
        // frames instead of queueing them, and asks for one repaint only.
        it->second.waiting = picture;
        it->second.latest = std::move(picture);
        if (it->second.repaintAsked) return;
        it->second.repaintAsked = true;
        repaint = it->second.target.repaint;
    }
    if (repaint) repaint();
}

bool DialogBridge::PreviewTaken(WindowHandle window) {
    Impl& s = State();
    std::lock_guard<std::mutex> guard(s.mutex);
    auto it = s.windows.find(window);
    return it == s.windows.end() || !it->second.waiting;
}

bool DialogBridge::ShowCameraControls(WindowHandle owner, const std::wstring& caption, ICameraControls& controls) {
    std::function<bool(const std::wstring&, ICameraControls&)> show;
    {
        Impl& s = State();
        std::lock_guard<std::mutex> guard(s.mutex);
        auto it = s.windows.find(owner);
        if (it == s.windows.end()) return false;
        show = it->second.target.showControls;
    }
    return show && show(caption, controls);
}

}  // namespace kiv
