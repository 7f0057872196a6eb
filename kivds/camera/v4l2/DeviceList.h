// The capture nodes of the system's UVC cameras, found through sysfs
// (/sys/class/video4linux) and VIDIOC_QUERYCAP, each with a stable device path
// in the Windows style the model rules read:
//   usb#vid_xxxx&pid_xxxx&mi_NN#<instance>#<index>
// <instance> is sn_<serial> (characters outside [A-Za-z0-9._-] become '_') or,
// without a serial, port_<bus-port path>; <index> is the node's sysfs index.
// uvcvideo's metadata nodes (same name, no VIDEO_CAPTURE in device_caps) are
// never listed. Any thread; each call reads the system afresh.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kiv {
namespace v4l2 {

struct CaptureNode {
    std::string node;       // "/dev/videoN"
    std::wstring path;      // the device path above
    std::wstring name;      // the node's sysfs name (the friendly name)
    std::string usbDevice;  // the USB device's sysfs directory (holds `descriptors`)
    bool readable = true;   // false: the node could not be opened to be asked
};

// The capture nodes in the order of their node numbers. Nodes whose sysfs
// pieces cannot be read (not a USB device, no ids) are left out.
std::vector<CaptureNode> ListCaptureNodes();

// The node of the device with that path now (after a renumbering its node may
// have changed); empty when it is gone.
std::optional<CaptureNode> FindCaptureNode(const std::wstring& path);

// Building blocks, for the listing and its tests.
std::string SanitiseSerial(const std::string& serial);
// Empty when a piece is malformed (ids not four hex digits, interface not two).
std::string BuildDevicePath(const std::string& idVendor, const std::string& idProduct,
                            const std::string& interfaceNumber, const std::string& serial, const std::string& port,
                            const std::string& index);

}  // namespace v4l2
}  // namespace kiv
