#include <atomic>

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

IWindowBridge& WindowBridge() {
    IWindowBridge* bridge = g_bridge.load();
    return bridge ? *bridge : g_nullBridge;
}

void SetWindowBridge(IWindowBridge* bridge) { g_bridge.store(bridge); }

}  // namespace kiv
