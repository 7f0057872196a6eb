// The extension-unit controls of one open capture node, asked the way
// uvcvideo answers UVCIOC_CTRL_QUERY: a request's size must equal the
// control's length (what the device reports to UVC_GET_LEN), for GET and SET
// alike; any other size fails with ENOBUFS.
//
// The callers speak the cameras' protocol, whose byte counts need not be the
// control's length, so every request is fitted to it:
// - a GET reads the whole control and keeps its first `length` bytes;
// - a SET of fewer bytes than the control holds sends them followed by the
//   rest of the control's default bytes (UVC_GET_DEF just before; a
//   UVC_GET_CUR could be a step of the device's protocol);
// - a control shorter than the request is refused (Failed) without being
//   sent, and reported once per open in one line on standard error.
// Each control's length is asked once and kept until Forget.
//
// Owner thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kivds/camera/IVideoPlatform.h"

namespace kiv {
namespace v4l2 {

class XuControls {
public:
    // Forgets every length (the node was closed, or another device bound).
    void Forget() { m_controls.clear(); }

    // fd: the open capture node (not owned), node its name (for the log).
    // The result of a failed request is its errno read by FromErrno
    // (Errno.h): NotFound for no such unit or selector, or a device that is
    // gone; every failure is logged.
    PlatformResult Get(int fd, const std::string& node, std::uint8_t unit, std::uint8_t selector, std::uint8_t* data,
                       std::size_t length);
    PlatformResult Set(int fd, const std::string& node, std::uint8_t unit, std::uint8_t selector,
                       const std::uint8_t* data, std::size_t length);

private:
    struct Control {
        std::uint8_t unit = 0;
        std::uint8_t selector = 0;
        std::uint16_t length = 0;
        bool shortReported = false;  // the refusal of a longer request was reported
    };

    // The control's entry, its length asked of the device the first time;
    // null with `result` set when the device does not answer.
    Control* Find(const char* op, int fd, const std::string& node, std::uint8_t unit, std::uint8_t selector,
                  PlatformResult& result);
    // Fails the request when the control is shorter than it.
    bool Fits(Control& control, std::size_t length, const char* what);

    std::vector<Control> m_controls;
};

}  // namespace v4l2
}  // namespace kiv
