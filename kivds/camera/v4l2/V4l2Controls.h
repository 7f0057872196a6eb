// The V4L2 controls of one open capture node as the camera-controls model:
// enumerated with VIDIOC_QUERY_EXT_CTRL and the next-control flags (class
// headers give the groups; compound and disabled controls are passed over),
// menu and integer-menu entries with VIDIOC_QUERYMENU, values with
// VIDIOC_G_EXT_CTRLS and written with VIDIOC_S_EXT_CTRLS. Every listed control
// is subscribed to V4L2_EVENT_CTRL, and a thread of its own waits for the
// node's events (POLLPRI): what the camera or another program changes (an
// automatic mode making a control inactive, a new focus) reaches the
// listener at once, on that thread. The extension-unit controls of the
// cameras' buttons are not V4L2 controls and are not shown.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kivds/camera/CameraControls.h"
#include "kivds/camera/v4l2/UniqueFd.h"

namespace kiv {
namespace v4l2 {

class V4l2Controls final : public CameraControlsBase {
public:
    // fd: the open capture node (not owned; it outlives this object), node
    // its name for the log.
    V4l2Controls(int fd, std::string node);
    ~V4l2Controls() override;
    V4l2Controls(const V4l2Controls&) = delete;
    V4l2Controls& operator=(const V4l2Controls&) = delete;

private:
    std::vector<CameraControl> ReadControls() override;
    WriteResult WriteControl(const CameraControl& control, std::int64_t value) override;
    bool TakeDeviceChanges() override;
    void Subscribe(std::uint32_t id);
    // Refreshes whenever the node has events, until m_wake is signalled or
    // the node fails.
    void WatchEvents();

    int m_fd;
    std::string m_node;
    std::set<std::uint32_t> m_subscribed;  // under the model's lock
    UniqueFd m_wake;                       // an eventfd that ends the watch
    std::thread m_watcher;
};

}  // namespace v4l2
}  // namespace kiv
