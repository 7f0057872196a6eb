#include <atomic>
#include <cstdint>

#include "kivds/camera/IWindowBridge.h"

namespace kiv {
namespace {

class NullWindowBridge final : public IWindowBridge {
public:
    bool GetClientSize(WindowHandle, int& width, int& height) override {
        width = 0;
        height = 0;
        return false;
    }
    void PostGraphNotify(WindowHandle) override {}
    void SendFrameArrived(WindowHandle) override {}
};

NullWindowBridge g_nullBridge;
std::atomic<IWindowBridge*> g_bridge{nullptr};

}  // namespace

bool IsDrawable(const PreviewPicture& picture) {
    if (picture.width <= 0 || picture.height <= 0) return false;
    const std::int64_t rowBytes = (static_cast<std::int64_t>(picture.width) * 3 + 3) / 4 * 4;
    if (picture.stride != rowBytes) return false;
    return picture.pixels.size() / static_cast<std::uint64_t>(rowBytes) >= static_cast<std::uint64_t>(picture.height);
}

IWindowBridge& WindowBridge() {
    IWindowBridge* bridge = g_bridge.load();
    return bridge ? *bridge : g_nullBridge;
}

void SetWindowBridge(IWindowBridge* bridge) { g_bridge.store(bridge); }

}  // namespace kiv
