#include "kivds/camera/v4l2/DeviceList.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>

#include "kivds/camera/v4l2/UniqueFd.h"

namespace kiv {
namespace v4l2 {
namespace {

const char kClassDir[] = "/sys/class/video4linux";

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// A small sysfs attribute, trailing white space removed; empty when unreadable.
std::optional<std::string> ReadAttribute(const std::string& file) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) return std::nullopt;
    std::string text;
    char buffer[256];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > 4096) return std::nullopt;  // not an attribute
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text;
}

std::optional<std::string> RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
}

std::string Parent(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return (slash == std::string::npos || slash == 0) ? std::string() : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsHex(const std::string& text, std::size_t digits) {
    return text.size() == digits &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Latin-1 widening is enough for sysfs names and our paths (UTF-8 names keep
// their bytes as code units and still compare equal to themselves).
std::wstring Widen(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (unsigned char c : text) wide.push_back(static_cast<wchar_t>(c));
    return wide;
}

// The node number of "videoN"; -1 for anything else.
long NodeNumber(const char* entry) {
    if (std::string(entry).rfind("video", 0) != 0 || !entry[5]) return -1;
    char* end = nullptr;
    const long n = std::strtol(entry + 5, &end, 10);
    return (*end == '\0' && n >= 0 && n < INT_MAX) ? n : -1;
}

// What the node answers to QUERYCAP: capture, other (metadata, output...), or
// nothing (it could not be opened).
enum class NodeKind { Capture, Other, Unopenable };

NodeKind AskNode(const std::string& node) {
    UniqueFd fd(::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) return NodeKind::Unopenable;
    v4l2_capability cap{};
    if (Xioctl(fd.Get(), VIDIOC_QUERYCAP, &cap) != 0) return NodeKind::Other;
    const std::uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) ? NodeKind::Capture : NodeKind::Other;
}

std::optional<CaptureNode> ReadNode(const std::string& entry) {
    const std::string classEntry = std::string(kClassDir) + "/" + entry;
    const std::optional<std::string> iface = RealPath(classEntry + "/device");
    if (!iface) return std::nullopt;
    const std::string usb = Parent(*iface);
    if (usb.empty()) return std::nullopt;
    const auto vendor = ReadAttribute(usb + "/idVendor");
    const auto product = ReadAttribute(usb + "/idProduct");
    const auto number = ReadAttribute(*iface + "/bInterfaceNumber");
    const auto index = ReadAttribute(classEntry + "/index");
    const auto name = ReadAttribute(classEntry + "/name");
    if (!vendor || !product || !number || !index || !name) return std::nullopt;
    const std::string serial = ReadAttribute(usb + "/serial").value_or(std::string());
    const std::string path = BuildDevicePath(*vendor, *product, *number, serial, BaseName(usb), *index);
    if (path.empty()) return std::nullopt;

    CaptureNode node;
    node.node = "/dev/" + entry;
    node.path = Widen(path);
    node.name = Widen(*name);
    node.usbDevice = usb;
    switch (AskNode(node.node)) {
        case NodeKind::Capture: return node;
        case NodeKind::Other: return std::nullopt;
        case NodeKind::Unopenable:
            // Without QUERYCAP only the index tells: uvcvideo's capture node is 0.
            if (*index != "0") return std::nullopt;
            node.readable = false;
            return node;
    }
    return std::nullopt;
}

}  // namespace

std::string SanitiseSerial(const std::string& serial) {
    std::string out = serial;
    for (char& c : out) {
        const unsigned char u = static_cast<unsigned char>(c);
        const bool keep = (u < 0x80 && std::isalnum(u)) || c == '.' || c == '_' || c == '-';
        if (!keep) c = '_';
    }
    return out;
}

std::string BuildDevicePath(const std::string& idVendor, const std::string& idProduct,
                            const std::string& interfaceNumber, const std::string& serial, const std::string& port,
                            const std::string& index) {
    if (!IsHex(idVendor, 4) || !IsHex(idProduct, 4) || !IsHex(interfaceNumber, 2)) return std::string();
    if (index.empty() || !std::all_of(index.begin(), index.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::string();
    const std::string instance = serial.empty() ? "port_" + SanitiseSerial(port) : "sn_" + SanitiseSerial(serial);
    if (serial.empty() && port.empty()) return std::string();
    return "usb#vid_" + Lower(idVendor) + "&pid_" + Lower(idProduct) + "&mi_" + Lower(interfaceNumber) + "#" +
           instance + "#" + index;
}

std::vector<CaptureNode> ListCaptureNodes() {
    std::vector<std::pair<long, std::string>> entries;
    {
        std::unique_ptr<DIR, DirCloser> dir(::opendir(kClassDir));
        if (!dir) return {};
        while (const dirent* e = ::readdir(dir.get())) {
            const long n = NodeNumber(e->d_name);
            if (n >= 0) entries.emplace_back(n, e->d_name);
        }
    }
    std::sort(entries.begin(), entries.end());
    std::vector<CaptureNode> nodes;
    for (const auto& entry : entries)
        if (auto node = ReadNode(entry.second)) nodes.push_back(std::move(*node));
    return nodes;
}

std::optional<CaptureNode> FindCaptureNode(const std::wstring& path) {
    for (CaptureNode& node : ListCaptureNodes())
        if (node.path == path) return std::move(node);
    return std::nullopt;
}

}  // namespace v4l2
}  // namespace kiv
