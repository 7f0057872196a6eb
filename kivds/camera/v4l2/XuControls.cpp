#include "kivds/camera/v4l2/XuControls.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <linux/usb/video.h>
#include <linux/uvcvideo.h>

#include "kivds/camera/v4l2/Errno.h"
#include "kivds/camera/v4l2/UniqueFd.h"
#include "kivds/platform/Log.h"

namespace kiv {
namespace v4l2 {
namespace {

const char* QueryName(std::uint8_t query) {
    switch (query) {
        case UVC_GET_LEN: return "UVC_GET_LEN";
        case UVC_GET_CUR: return "UVC_GET_CUR";
        case UVC_SET_CUR: return "UVC_SET_CUR";
        case UVC_GET_DEF: return "UVC_GET_DEF";
        default: return "query";
    }
}

// One request; a failure is logged as the operation's (op) with the errno's reading.
PlatformResult Query(const char* op, int fd, const std::string& node, std::uint8_t unit, std::uint8_t selector,
                     std::uint8_t query, std::uint8_t* data, std::uint16_t size) {
    uvc_xu_control_query request{};
    request.unit = unit;
    request.selector = selector;
    request.query = query;
    request.size = size;
    request.data = data;
    if (Xioctl(fd, UVCIOC_CTRL_QUERY, &request) == 0) return PlatformResult::Ok;
    const int error = errno;
    char call[96];
    std::snprintf(call, sizeof call, "UVCIOC_CTRL_QUERY %s of unit %u selector %u (%u bytes)", QueryName(query),
                  static_cast<unsigned>(unit), static_cast<unsigned>(selector), static_cast<unsigned>(size));
    return ErrnoFailure(op, call, node, error);
}

}  // namespace

XuControls::Control* XuControls::Find(const char* op, int fd, const std::string& node, std::uint8_t unit,
                                      std::uint8_t selector, PlatformResult& result) {
    for (Control& control : m_controls)
        if (control.unit == unit && control.selector == selector) return &control;
    std::uint8_t answer[2] = {};  // UVC_GET_LEN: 2 bytes, little endian
    result = Query(op, fd, node, unit, selector, UVC_GET_LEN, answer, sizeof answer);
    if (result != PlatformResult::Ok) return nullptr;
    Control control;
    control.unit = unit;
    control.selector = selector;
    control.length = static_cast<std::uint16_t>(answer[0] | answer[1] << 8);
    if (control.length == 0) {
        Log(LogLevel::Error, op, "failed: unit %u selector %u has a length of 0 on %s", static_cast<unsigned>(unit),
            static_cast<unsigned>(selector), node.c_str());
        result = PlatformResult::Failed;  // nothing could be sent or read
        return nullptr;
    }
    m_controls.push_back(control);
    return &m_controls.back();
}

bool XuControls::Fits(Control& control, std::size_t length, const char* what) {
    if (length <= control.length) return true;
    if (!control.shortReported) {
        control.shortReported = true;
        std::fprintf(stderr,
                     "kivds: extension unit %u selector %u has a length of %u, a %s of %zu bytes does not fit: "
                     "not sent\n",
                     static_cast<unsigned>(control.unit), static_cast<unsigned>(control.selector),
                     static_cast<unsigned>(control.length), what, length);
        std::fflush(stderr);
    }
    if (LogEnabled(LogLevel::Error))
        Log(LogLevel::Error, what[0] == 'r' ? "v4l2.xuget" : "v4l2.xuset",
            "failed: unit %u selector %u has a length of %u, the %s of %zu bytes is not sent",
            static_cast<unsigned>(control.unit), static_cast<unsigned>(control.selector),
            static_cast<unsigned>(control.length), what, length);
    return false;
}

PlatformResult XuControls::Get(int fd, const std::string& node, std::uint8_t unit, std::uint8_t selector,
                               std::uint8_t* data, std::size_t length) {
    if (!data || length == 0) return PlatformResult::Failed;
    PlatformResult result = PlatformResult::Ok;
    Control* control = Find("v4l2.xuget", fd, node, unit, selector, result);
    if (!control) return result;
    if (!Fits(*control, length, "read")) return PlatformResult::Failed;
    std::vector<std::uint8_t> bytes(control->length);
    result = Query("v4l2.xuget", fd, node, unit, selector, UVC_GET_CUR, bytes.data(), control->length);
    if (result == PlatformResult::Ok) std::memcpy(data, bytes.data(), length);
    return result;
}

PlatformResult XuControls::Set(int fd, const std::string& node, std::uint8_t unit, std::uint8_t selector,
                               const std::uint8_t* data, std::size_t length) {
    if (!data || length == 0) return PlatformResult::Failed;
    PlatformResult result = PlatformResult::Ok;
    Control* control = Find("v4l2.xuset", fd, node, unit, selector, result);
    if (!control) return result;
    if (!Fits(*control, length, "write")) return PlatformResult::Failed;
    std::vector<std::uint8_t> bytes(control->length);
    // The bytes beyond the request are the control's defaults. Not its
    // current bytes: a read may be a step of the device's protocol (model A
    // answers a read of its register with the status and ends the selection).
    if (length < control->length) {
        result = Query("v4l2.xuset", fd, node, unit, selector, UVC_GET_DEF, bytes.data(), control->length);
        if (result != PlatformResult::Ok) return result;
    }
    std::memcpy(bytes.data(), data, length);
    return Query("v4l2.xuset", fd, node, unit, selector, UVC_SET_CUR, bytes.data(), control->length);
}

}  // namespace v4l2
}  // namespace kiv
