#include "kivds/camera/v4l2/V4l2Controls.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "kivds/camera/v4l2/Errno.h"

namespace kiv {
namespace v4l2 {
namespace {

constexpr std::uint32_t kNext = V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND;
// A driver that never ends its list (or a loop in it) stops here.
constexpr int kMaxControls = 1024;

// The kind of a control the settings can show; false for any other type.
bool KindOf(std::uint32_t type, CameraControlKind& kind) {
    switch (type) {
        case V4L2_CTRL_TYPE_INTEGER:
        case V4L2_CTRL_TYPE_INTEGER64: kind = CameraControlKind::Range; return true;
        case V4L2_CTRL_TYPE_BOOLEAN: kind = CameraControlKind::Boolean; return true;
        case V4L2_CTRL_TYPE_MENU: kind = CameraControlKind::Menu; return true;
        case V4L2_CTRL_TYPE_INTEGER_MENU: kind = CameraControlKind::IntegerMenu; return true;
        case V4L2_CTRL_TYPE_BUTTON: kind = CameraControlKind::Button; return true;
        default: return false;
    }
}

std::string NameOf(const char* name, std::size_t size) { return std::string(name, strnlen(name, size)); }

ControlStatus StatusOf(int error) {
    switch (error) {
        case EBUSY: return ControlStatus::Busy;
        case ENODEV:
        case ENXIO:
        case EIO: return ControlStatus::Gone;
        default: return ControlStatus::Refused;
    }
}

}  // namespace

V4l2Controls::V4l2Controls(int fd, std::string node)
    : m_fd(fd), m_node(std::move(node)), m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (m_wake.Valid()) m_watcher = std::thread([this] { WatchEvents(); });
    else ErrnoFailure("v4l2.controls", "eventfd", m_node, errno);
}

V4l2Controls::~V4l2Controls() {
    if (m_watcher.joinable()) {
        const std::uint64_t one = 1;
        if (::write(m_wake.Get(), &one, sizeof one) < 0) ErrnoFailure("v4l2.controls", "eventfd", m_node, errno);
        m_watcher.join();
    }
    for (std::uint32_t id : m_subscribed) {
        v4l2_event_subscription sub;
        std::memset(&sub, 0, sizeof sub);
        sub.type = V4L2_EVENT_CTRL;
        sub.id = id;
        Xioctl(m_fd, VIDIOC_UNSUBSCRIBE_EVENT, &sub);
    }
}

void V4l2Controls::Subscribe(std::uint32_t id) {
    if (m_subscribed.count(id)) return;
    v4l2_event_subscription sub;
    std::memset(&sub, 0, sizeof sub);
    sub.type = V4L2_EVENT_CTRL;
    sub.id = id;
    if (Xioctl(m_fd, VIDIOC_SUBSCRIBE_EVENT, &sub) == 0) m_subscribed.insert(id);
    else ErrnoFailure("v4l2.controls", "VIDIOC_SUBSCRIBE_EVENT", m_node, errno);
}

std::vector<CameraControl> V4l2Controls::ReadControls() {
    std::vector<CameraControl> controls;
    std::string group;
    v4l2_query_ext_ctrl q;
    std::memset(&q, 0, sizeof q);
    q.id = kNext;
    for (int n = 0; n < kMaxControls; ++n) {
        if (Xioctl(m_fd, VIDIOC_QUERY_EXT_CTRL, &q) != 0) {
            if (errno != EINVAL) ErrnoFailure("v4l2.controls", "VIDIOC_QUERY_EXT_CTRL", m_node, errno);
            break;  // EINVAL: past the last control
        }
        const std::uint32_t id = q.id;
        CameraControlKind kind = CameraControlKind::Range;
        if (q.type == V4L2_CTRL_TYPE_CTRL_CLASS) {
            group = NameOf(q.name, sizeof q.name);
        } else if (!(q.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_HAS_PAYLOAD)) && q.elems <= 1 &&
                   KindOf(q.type, kind)) {
            CameraControl c;
            c.id = id;
            c.name = NameOf(q.name, sizeof q.name);
            c.kind = kind;
            c.minimum = q.minimum;
            c.maximum = q.maximum;
            c.step = q.step > 0 ? static_cast<std::int64_t>(q.step) : 1;
            c.defaultValue = q.default_value;
            c.readOnly = (q.flags & V4L2_CTRL_FLAG_READ_ONLY) != 0;
            c.inactive = (q.flags & V4L2_CTRL_FLAG_INACTIVE) != 0;
            c.isVolatile = (q.flags & V4L2_CTRL_FLAG_VOLATILE) != 0;
            c.group = group;
            if (kind == CameraControlKind::Menu || kind == CameraControlKind::IntegerMenu) {
                for (std::int64_t i = q.minimum; i <= q.maximum && i - q.minimum < kMaxControls; ++i) {
                    v4l2_querymenu m;
                    std::memset(&m, 0, sizeof m);
                    m.id = id;
                    m.index = static_cast<std::uint32_t>(i);
                    if (Xioctl(m_fd, VIDIOC_QUERYMENU, &m) != 0) continue;  // a hole in the menu
                    c.menu.push_back({i, kind == CameraControlKind::Menu
                                             ? NameOf(reinterpret_cast<const char*>(m.name), sizeof m.name)
                                             : std::to_string(static_cast<long long>(m.value))});
                }
            }
            if (kind != CameraControlKind::Button && !(q.flags & V4L2_CTRL_FLAG_WRITE_ONLY)) {
                v4l2_ext_control x;
                std::memset(&x, 0, sizeof x);
                x.id = id;
                v4l2_ext_controls get;
                std::memset(&get, 0, sizeof get);
                get.which = V4L2_CTRL_WHICH_CUR_VAL;
                get.count = 1;
                get.controls = &x;
                if (Xioctl(m_fd, VIDIOC_G_EXT_CTRLS, &get) == 0) {
                    c.value = q.type == V4L2_CTRL_TYPE_INTEGER64 ? x.value64 : x.value;
                } else {
                    ErrnoFailure("v4l2.controls", "VIDIOC_G_EXT_CTRLS", m_node, errno);
                    c.value = c.defaultValue;
                }
            }
            Subscribe(id);
            controls.push_back(std::move(c));
        }
        q.id = id | kNext;
        std::memset(q.name, 0, sizeof q.name);
    }
    return controls;
}

CameraControlsBase::WriteResult V4l2Controls::WriteControl(const CameraControl& control, std::int64_t value) {
    v4l2_ext_control x;
    std::memset(&x, 0, sizeof x);
    x.id = control.id;
    if (control.kind == CameraControlKind::Range && (value > INT32_MAX || value < INT32_MIN)) x.value64 = value;
    else x.value = static_cast<std::int32_t>(value);
    v4l2_ext_controls set;
    std::memset(&set, 0, sizeof set);
    set.which = V4L2_CTRL_WHICH_CUR_VAL;
    set.count = 1;
    set.controls = &x;
    if (Xioctl(m_fd, VIDIOC_S_EXT_CTRLS, &set) == 0) return {};
    const int error = errno;
    ErrnoFailure("v4l2.controls", "VIDIOC_S_EXT_CTRLS", m_node, error);
    return {StatusOf(error), ErrnoName(error)};
}

void V4l2Controls::WatchEvents() {
    for (;;) {
        pollfd fds[2] = {{m_fd, POLLPRI, 0}, {m_wake.Get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            ErrnoFailure("v4l2.controls", "poll", m_node, errno);
            return;
        }
        if (fds[1].revents) return;
        // A node that is gone or broken has nothing more to say.
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
        if (fds[0].revents & POLLPRI) Refresh();  // takes the events; the listener hears
    }
}

bool V4l2Controls::TakeDeviceChanges() {
    bool any = false;
    for (int n = 0; n < kMaxControls; ++n) {
        v4l2_event ev;
        std::memset(&ev, 0, sizeof ev);
        if (Xioctl(m_fd, VIDIOC_DQEVENT, &ev) != 0) break;  // ENOENT: none waiting
        any = any || ev.type == V4L2_EVENT_CTRL;
    }
    return any;
}

}  // namespace v4l2
}  // namespace kiv
