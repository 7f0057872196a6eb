// The emulated UVC camera's V4L2 controls: VIDIOC_QUERY_EXT_CTRL (with the
// next-control flags, the class headers uvcvideo reports and one compound
// control only NEXT_COMPOUND lists), VIDIOC_QUERYMENU, G/S_EXT_CTRLS and the
// control events (SUBSCRIBE/UNSUBSCRIBE_EVENT, DQEVENT), over the virtual
// device's DeviceControls, as uvcvideo answers them. Called under the
// emulator's lock.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <vector>

#include "kivds/camera/sim/DeviceControls.h"

class EmulControls {
public:
    // A control ioctl of descriptor `fd`: 0, or -1 with errno set; `handled`
    // false for any other request. `busy`: the camera refuses writes (EBUSY).
    int Ioctl(int fd, kiv::sim::DeviceControls& device, unsigned long request, void* arg, bool busy, bool& handled);
    // Another program set control `id`: the events every subscriber gets.
    int SetFromElsewhere(kiv::sim::DeviceControls& device, std::uint32_t id, std::int64_t value);
    void Closed(int fd);
    // Events wait for descriptor `fd` (poll reports POLLPRI).
    bool Pending(int fd) const;

private:
    void Queue(const kiv::sim::DeviceControls& device, const std::vector<std::uint32_t>& changed, int origin);

    std::map<int, std::set<std::uint32_t>> m_subscribed;  // by descriptor
    std::map<int, std::deque<v4l2_event>> m_pending;
};
