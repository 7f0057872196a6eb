#include "v4l2/emul/EmulControls.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>

namespace {

using kiv::CameraControl;
using kiv::CameraControlKind;

constexpr std::uint32_t kNextFlags = V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND;
// A compound control the settings cannot show (a region of interest).
constexpr std::uint32_t kCompoundId = V4L2_CID_CAMERA_CLASS_BASE + 0x90;

// What QUERY_EXT_CTRL walks: the class headers, the device's controls, the
// compound one, in the order of their ids.
struct Entry {
    std::uint32_t id;
    const CameraControl* control;  // null: a class header or the compound control
};

std::vector<Entry> Walk(const kiv::sim::DeviceControls& device) {
    std::vector<Entry> entries = {{V4L2_CID_USER_CLASS, nullptr},
                                  {V4L2_CID_CAMERA_CLASS, nullptr},
                                  {kCompoundId, nullptr}};
    for (const CameraControl& c : device.All()) entries.push_back({c.id, &c});
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.id < b.id; });
    return entries;
}

std::uint32_t TypeOf(CameraControlKind kind) {
    switch (kind) {
        case CameraControlKind::Boolean: return V4L2_CTRL_TYPE_BOOLEAN;
        case CameraControlKind::Menu: return V4L2_CTRL_TYPE_MENU;
        case CameraControlKind::IntegerMenu: return V4L2_CTRL_TYPE_INTEGER_MENU;
        case CameraControlKind::Button: return V4L2_CTRL_TYPE_BUTTON;
        case CameraControlKind::Range: break;
    }
    return V4L2_CTRL_TYPE_INTEGER;
}

std::uint32_t FlagsOf(const CameraControl& c) {
    std::uint32_t flags = 0;
    if (c.readOnly) flags |= V4L2_CTRL_FLAG_READ_ONLY;
    if (c.inactive) flags |= V4L2_CTRL_FLAG_INACTIVE;
    if (c.isVolatile) flags |= V4L2_CTRL_FLAG_VOLATILE;
    if (c.kind == CameraControlKind::Button) flags |= V4L2_CTRL_FLAG_WRITE_ONLY;
    return flags;
}

int Fail(int error) {
    errno = error;
    return -1;
}

void Describe(const Entry& e, v4l2_query_ext_ctrl& q) {
    std::memset(&q, 0, sizeof q);
    q.id = e.id;
    q.elems = 1;
    q.elem_size = 4;
    if (e.id == V4L2_CID_USER_CLASS || e.id == V4L2_CID_CAMERA_CLASS) {
        q.type = V4L2_CTRL_TYPE_CTRL_CLASS;
        q.flags = V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_WRITE_ONLY;
        std::snprintf(q.name, sizeof q.name, "%s", e.id == V4L2_CID_USER_CLASS ? "User Controls" : "Camera Controls");
        return;
    }
    if (!e.control) {
        q.type = V4L2_CTRL_TYPE_U8;
        q.flags = V4L2_CTRL_FLAG_HAS_PAYLOAD;
        q.elems = 8;
        q.elem_size = 1;
        q.nr_of_dims = 1;
        q.dims[0] = 8;
        q.maximum = 255;
        q.step = 1;
        std::snprintf(q.name, sizeof q.name, "Region of Interest");
        return;
    }
    const CameraControl& c = *e.control;
    q.type = TypeOf(c.kind);
    std::snprintf(q.name, sizeof q.name, "%s", c.name.c_str());
    q.minimum = c.minimum;
    q.maximum = c.maximum;
    q.step = static_cast<std::uint64_t>(c.step);
    q.default_value = c.defaultValue;
    q.flags = FlagsOf(c);
}

}  // namespace

int EmulControls::Ioctl(int fd, kiv::sim::DeviceControls& device, unsigned long request, void* arg, bool busy,
                        bool& handled) {
    handled = true;
    switch (request) {
        case VIDIOC_QUERY_EXT_CTRL: {
            auto* q = static_cast<v4l2_query_ext_ctrl*>(arg);
            const std::uint32_t flags = q->id & kNextFlags;
            const std::uint32_t id = q->id & ~kNextFlags;
            for (const Entry& e : Walk(device)) {
                const bool compound = e.id == kCompoundId;
                if (flags ? (e.id <= id || (compound && !(flags & V4L2_CTRL_FLAG_NEXT_COMPOUND)) ||
                             (!compound && !(flags & V4L2_CTRL_FLAG_NEXT_CTRL)))
                          : e.id != id)
                    continue;
                Describe(e, *q);
                return 0;
            }
            return Fail(EINVAL);
        }
        case VIDIOC_QUERYMENU: {
            auto* m = static_cast<v4l2_querymenu*>(arg);
            const CameraControl* c = device.Find(m->id);
            if (!c || (c->kind != CameraControlKind::Menu && c->kind != CameraControlKind::IntegerMenu))
                return Fail(EINVAL);
            for (const kiv::ControlMenuEntry& entry : c->menu) {
                if (static_cast<std::int64_t>(m->index) != entry.index) continue;
                if (c->kind == CameraControlKind::IntegerMenu) m->value = std::strtoll(entry.name.c_str(), nullptr, 10);
                else std::snprintf(reinterpret_cast<char*>(m->name), sizeof m->name, "%s", entry.name.c_str());
                return 0;
            }
            return Fail(EINVAL);  // a hole in the menu
        }
        case VIDIOC_G_EXT_CTRLS:
        case VIDIOC_S_EXT_CTRLS: {
            auto* set = static_cast<v4l2_ext_controls*>(arg);
            if (set->count == 0 || !set->controls) return Fail(EINVAL);
            std::vector<std::uint32_t> changed;
            for (std::uint32_t i = 0; i < set->count; ++i) {
                v4l2_ext_control& x = set->controls[i];
                set->error_idx = i;
                const CameraControl* c = device.Find(x.id);
                if (!c) return Fail(EINVAL);
                if (request == VIDIOC_G_EXT_CTRLS) {
                    if (c->kind == CameraControlKind::Button) return Fail(EACCES);
                    x.value = static_cast<std::int32_t>(c->value);
                    continue;
                }
                if (c->readOnly) return Fail(EACCES);
                if (busy) return Fail(EBUSY);
                // uvcvideo refuses a control an automatic mode owns.
                if (c->inactive) return Fail(EACCES);
                if (device.Set(x.id, x.value, changed) != kiv::sim::DeviceControls::Answer::Ok) return Fail(EINVAL);
                x.value = static_cast<std::int32_t>(device.Find(x.id)->value);
            }
            if (request == VIDIOC_S_EXT_CTRLS) Queue(device, changed, fd);
            return 0;
        }
        case VIDIOC_SUBSCRIBE_EVENT:
        case VIDIOC_UNSUBSCRIBE_EVENT: {
            auto* sub = static_cast<v4l2_event_subscription*>(arg);
            if (sub->type != V4L2_EVENT_CTRL) return Fail(EINVAL);
            if (request == VIDIOC_UNSUBSCRIBE_EVENT) {
                m_subscribed[fd].erase(sub->id);
                return 0;
            }
            if (!device.Find(sub->id)) return Fail(EINVAL);
            m_subscribed[fd].insert(sub->id);
            return 0;
        }
        case VIDIOC_DQEVENT: {
            auto* ev = static_cast<v4l2_event*>(arg);
            auto it = m_pending.find(fd);
            if (it == m_pending.end() || it->second.empty()) return Fail(ENOENT);
            *ev = it->second.front();
            it->second.pop_front();
            ev->pending = static_cast<std::uint32_t>(it->second.size());
            return 0;
        }
        default: handled = false; return 0;
    }
}

int EmulControls::SetFromElsewhere(kiv::sim::DeviceControls& device, std::uint32_t id, std::int64_t value) {
    std::vector<std::uint32_t> changed;
    if (device.Set(id, value, changed) != kiv::sim::DeviceControls::Answer::Ok) return -1;
    Queue(device, changed, -1);
    return 0;
}

void EmulControls::Queue(const kiv::sim::DeviceControls& device, const std::vector<std::uint32_t>& changed,
                         int origin) {
    for (const auto& [fd, ids] : m_subscribed) {
        if (fd == origin) continue;  // no feedback to the writer
        for (std::uint32_t id : changed) {
            const CameraControl* c = device.Find(id);
            if (!c || !ids.count(id)) continue;
            v4l2_event ev;
            std::memset(&ev, 0, sizeof ev);
            ev.type = V4L2_EVENT_CTRL;
            ev.id = id;
            ev.u.ctrl.changes = V4L2_EVENT_CTRL_CH_VALUE | V4L2_EVENT_CTRL_CH_FLAGS;
            ev.u.ctrl.type = TypeOf(c->kind);
            ev.u.ctrl.value = static_cast<std::int32_t>(c->value);
            ev.u.ctrl.flags = FlagsOf(*c);
            ev.u.ctrl.minimum = static_cast<std::int32_t>(c->minimum);
            ev.u.ctrl.maximum = static_cast<std::int32_t>(c->maximum);
            ev.u.ctrl.step = static_cast<std::int32_t>(c->step);
            ev.u.ctrl.default_value = static_cast<std::int32_t>(c->defaultValue);
            m_pending[fd].push_back(ev);
        }
    }
}

void EmulControls::Closed(int fd) {
    m_subscribed.erase(fd);
    m_pending.erase(fd);
}

bool EmulControls::Pending(int fd) const {
    auto it = m_pending.find(fd);
    return it != m_pending.end() && !it->second.empty();
}
