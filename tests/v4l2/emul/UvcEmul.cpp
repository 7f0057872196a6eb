// The emulated UVC camera: an interposer preloaded into a test process. It
// answers the system calls the V4L2 backend makes for the emulated
// /dev/videoN nodes the way uvcvideo does, and points /sys/... at a fake sysfs
// tree it writes under a temporary directory. Everything else passes through
// to the C library.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/usb/video.h>
#include <linux/uvcvideo.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <turbojpeg.h>

#include "kivds/camera/ExtensionUnit.h"
#include "kivds/camera/sim/VirtualDevice.h"
#include "support/SimPattern.h"
#include "v4l2/emul/EmulControls.h"
#include "v4l2/emul/UvcEmulApi.h"

#define EMUL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

template <typename F>
F Real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using OpenFn = int (*)(const char*, int, ...);
using OpenatFn = int (*)(int, const char*, int, ...);
using CloseFn = int (*)(int);
using IoctlFn = int (*)(int, unsigned long, ...);
using MmapFn = void* (*)(void*, size_t, int, int, int, off_t);
using MunmapFn = int (*)(void*, size_t);
using PollFn = int (*)(pollfd*, nfds_t, int);
using OpendirFn = DIR* (*)(const char*);
using RealpathFn = char* (*)(const char*, char*);

// -- the fake sysfs root ----------------------------------------------------------

char g_root[256];
std::atomic<bool> g_rootSet{false};

// "/sys/..." under the fake root while cameras exist; other paths unchanged.
std::string MapPath(const char* path) {
    if (!path || !g_rootSet.load() || std::strncmp(path, "/sys/", 5) != 0) return path ? path : "";
    return std::string(g_root) + path;
}

// -- the cameras --------------------------------------------------------------------

constexpr std::uint32_t kOffsetStep = 1u << 24;

struct Buffer {
    std::uint8_t* memory = nullptr;
    std::size_t length = 0;
    int mapped = 0;
    bool queued = false;
};

struct Camera {
    UvcEmulCamera config;
    // The device behind the node: its extension unit, buttons and removal.
    std::unique_ptr<kiv::sim::VirtualDevice> device;
    std::map<std::uint8_t, std::uint64_t> queries;  // UVCIOC_CTRL_QUERY by query code
    int captureNode = 0, metadataNode = 0;
    bool unplugged = false;
    int unplugHow = kEmulUnplugHangUp;
    bool busy = false;
    bool denyOpen = false;
    std::vector<std::uint8_t> descriptors;
    int frameMode = kEmulFramesGood;
    std::uint8_t lastSelector = 0;
    std::vector<std::uint8_t> lastSet;
    EmulControls controls;  // the device's V4L2 controls and their events

    std::vector<Buffer> buffers;
    int bufferOwner = -1;
    std::deque<std::uint32_t> queue;
    bool streaming = false;
    Clock::time_point nextFrame;
    std::uint64_t frames = 0;
    std::vector<std::uint8_t> frame;  // the payload for the current format
    std::uint32_t frameFor[3] = {};   // fourcc, width, height the payload was made for
    int frameShiftFor = 0;            // and the brightness
    int frameModeFor = -1;

    // The current format, which the device keeps.
    std::uint32_t Fourcc() const;
    std::uint32_t Width() const { return static_cast<std::uint32_t>(device->Width()); }
    std::uint32_t Height() const { return static_cast<std::uint32_t>(device->Height()); }
    std::uint32_t BytesPerLine() const {
        return Fourcc() == V4L2_PIX_FMT_YUYV ? Width() * 2 + config.yuyvRowPadding : 0;
    }
    std::uint32_t SizeImage() const {
        return Fourcc() == V4L2_PIX_FMT_YUYV ? BytesPerLine() * Height() : Width() * Height() * 2 + 4096;
    }
};

struct OpenNode {
    int camera = 0;
    bool metadata = false;
    bool nonBlocking = false;
};

std::mutex g_mutex;
std::vector<std::unique_ptr<Camera>> g_cameras;
std::map<int, OpenNode> g_open;
int g_nextNode = 0;

// V4L2's YUYV is the YUY2 of the capture formats; any other fourcc names its subtype.
kiv::Guid SubtypeOf(std::uint32_t fourcc) {
    if (fourcc == V4L2_PIX_FMT_YUYV) return kiv::MediaSubtypeYUY2;
    kiv::Guid subtype = kiv::MediaSubtypeMJPG;
    subtype.data1 = fourcc;
    return subtype;
}

std::uint32_t Camera::Fourcc() const {
    const kiv::Guid& subtype = device->Subtype();
    return subtype == kiv::MediaSubtypeYUY2 ? V4L2_PIX_FMT_YUYV : subtype.data1;
}

std::uint8_t Clamp(double v) { return static_cast<std::uint8_t>(std::min(255.0, std::max(0.0, v + 0.5))); }

// The virtual camera's pattern, every value moved by the brightness's shift.
std::vector<std::uint8_t> PatternRgb(std::uint32_t w, std::uint32_t h, int shift = 0) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
    const auto moved = [shift](std::uint8_t v) { return static_cast<std::uint8_t>(std::clamp(v + shift, 0, 255)); };
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            const kivtest::Rgb p = kivtest::SimPixel(static_cast<int>(x), static_cast<int>(y));
            std::uint8_t* o = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
            o[0] = moved(p.r);
            o[1] = moved(p.g);
            o[2] = moved(p.b);
        }
    return rgb;
}

std::vector<std::uint8_t> EncodeJpeg(const std::vector<std::uint8_t>& rgb, std::uint32_t w, std::uint32_t h) {
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    std::vector<std::uint8_t> jpeg;
    if (tjCompress2(tj, rgb.data(), static_cast<int>(w), 0, static_cast<int>(h), TJPF_RGB, &out, &size, TJSAMP_422, 92,
                    0) == 0)
        jpeg.assign(out, out + size);
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}

// The JPEG without its Huffman table segments (as many UVC cameras send it).
std::vector<std::uint8_t> StripHuffman(const std::vector<std::uint8_t>& jpeg) {
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
        const std::uint8_t marker = jpeg[at + 1];
        const std::size_t length = static_cast<std::size_t>(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (marker == 0xDA) break;  // scan data follows: copy the rest
        if (marker != 0xC4) out.insert(out.end(), jpeg.begin() + at, jpeg.begin() + at + 2 + length);
        at += 2 + length;
    }
    out.insert(out.end(), jpeg.begin() + at, jpeg.end());
    return out;
}

void MakeFrame(Camera& c) {
    const int shift = c.device->Controls().BrightnessShift();
    if (c.frameFor[0] == c.Fourcc() && c.frameFor[1] == c.Width() && c.frameFor[2] == c.Height() &&
        c.frameModeFor == c.frameMode && c.frameShiftFor == shift)
        return;
    c.frameShiftFor = shift;
    const std::vector<std::uint8_t> rgb = PatternRgb(c.Width(), c.Height(), shift);
    if (c.Fourcc() == V4L2_PIX_FMT_YUYV) {
        const std::uint32_t bpl = c.BytesPerLine();
        c.frame.assign(static_cast<std::size_t>(bpl) * c.Height(), 0);
        for (std::uint32_t y = 0; y < c.Height(); ++y)
            for (std::uint32_t x = 0; x + 1 < c.Width(); x += 2) {
                double yy[2], u = 0, v = 0;
                for (int k = 0; k < 2; ++k) {
                    const std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * c.Width() + x + k) * 3];
                    const double r = p[0], g = p[1], b = p[2];
                    yy[k] = 16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255;
                    u += 128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255;
                    v += 128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255;
                }
                std::uint8_t* o = &c.frame[static_cast<std::size_t>(y) * bpl + x * 2];
                o[0] = Clamp(yy[0]);
                o[1] = Clamp(u / 2);
                o[2] = Clamp(yy[1]);
                o[3] = Clamp(v / 2);
            }
    } else if (c.frameMode == kEmulFramesWrongSize) {
        c.frame = EncodeJpeg(PatternRgb(c.Width() / 2, c.Height() / 2), c.Width() / 2, c.Height() / 2);
    } else {
        c.frame = EncodeJpeg(rgb, c.Width(), c.Height());
        if (c.frameMode == kEmulFramesNoHuffman) c.frame = StripHuffman(c.frame);
        if (c.frameMode == kEmulFramesTruncated) c.frame.resize(c.frame.size() * 6 / 10);
        if (c.frameMode == kEmulFramesGarbage)
            for (std::size_t i = 0; i < c.frame.size(); ++i) c.frame[i] = static_cast<std::uint8_t>(i * 131 + 7);
    }
    c.frameFor[0] = c.Fourcc();
    c.frameFor[1] = c.Width();
    c.frameFor[2] = c.Height();
    c.frameModeFor = c.frameMode;
}

// Device descriptor, configuration, VideoControl interface with an
// extension unit, and an audio interface whose FEATURE_UNIT shares subtype 6.
std::vector<std::uint8_t> MakeDescriptors(const Camera& c) {
    std::vector<std::uint8_t> d = {18,
                                   1,
                                   0x00,
                                   0x02,
                                   0xEF,
                                   0x02,
                                   0x01,
                                   64,
                                   static_cast<std::uint8_t>(c.config.vendor),
                                   static_cast<std::uint8_t>(c.config.vendor >> 8),
                                   static_cast<std::uint8_t>(c.config.product),
                                   static_cast<std::uint8_t>(c.config.product >> 8),
                                   0x00,
                                   0x01,
                                   1,
                                   2,
                                   3,
                                   1};
    const std::uint8_t config[] = {9, 2, 0, 0, 3, 1, 0, 0x80, 250};
    d.insert(d.end(), config, config + 9);
    // An audio control interface first: its feature unit (subtype 6) must be passed over.
    const std::uint8_t audio[] = {9, 4, 3, 0, 0, 0x01, 0x01, 0, 0};
    d.insert(d.end(), audio, audio + 9);
    const std::uint8_t feature[] = {22,   0x24, 0x06, kEmulUnitId, 0x26, 0x52, 0x21, 0x5A, 0x89, 0x32, 0x56,
                                    0x41, 0x89, 0x4A, 0x5C,        0x55, 0x7C, 0xDF, 0x96, 0x64, 0,    0};
    d.insert(d.end(), feature, feature + sizeof feature);
    const std::uint8_t vc[] = {9, 4, static_cast<std::uint8_t>(c.config.interfaceNumber), 0, 1, 0x0E, 0x01, 0, 0};
    d.insert(d.end(), vc, vc + 9);
    if (c.config.unit == 1 || c.config.unit == 2) {
        static const std::uint8_t guidA[16] = {0x26, 0x52, 0x21, 0x5A, 0x89, 0x32, 0x56, 0x41,
                                               0x89, 0x4A, 0x5C, 0x55, 0x7C, 0xDF, 0x96, 0x64};
        static const std::uint8_t guidB[16] = {0x0A, 0x3E, 0x18, 0x74, 0x82, 0x54, 0x1A, 0x48,
                                               0xB4, 0x02, 0x48, 0xB8, 0xB8, 0xC4, 0x9C, 0xC8};
        std::vector<std::uint8_t> xu = {0, 0x24, 0x06, kEmulUnitId};
        const std::uint8_t* g = c.config.unit == 1 ? guidA : guidB;
        xu.insert(xu.end(), g, g + 16);
        const std::uint8_t tail[] = {16, 1, 2, 2, 0xFF, 0xFF, 0};  // controls, 1 pin (2), size 2, bitmap, iExtension
        xu.insert(xu.end(), tail, tail + sizeof tail);
        xu[0] = static_cast<std::uint8_t>(xu.size());
        d.insert(d.end(), xu.begin(), xu.end());
    }
    return d;
}

// The device as the virtual camera describes it: model A's unit for unit 1,
// model B's for unit 2 (their controls, lengths and protocol are the model's).
// Its formats are the discrete sizes of each pixel format, in device order.
std::unique_ptr<kiv::sim::VirtualDevice> MakeDevice(const UvcEmulCamera& config) {
    kiv::sim::SimDevice description;
    description.name = kiv::sim::WidenUtf8(config.name);
    description.unit = config.unit == 1   ? kiv::sim::SimUnit::A
                       : config.unit == 2 ? kiv::sim::SimUnit::B
                                          : kiv::sim::SimUnit::None;
    description.caps.clear();
    for (std::uint32_t i = 0; i < config.formatCount && i < 2; ++i) {
        const UvcEmulFormat& format = config.formats[i];
        for (std::uint32_t k = 0; !format.stepwise && k < format.count && k < 8; ++k)
            description.caps.push_back({SubtypeOf(format.fourcc), true, static_cast<std::int32_t>(format.width[k]),
                                        static_cast<std::int32_t>(format.height[k])});
    }
    auto device = std::make_unique<kiv::sim::VirtualDevice>(std::move(description));
    const UvcEmulFormat& first = config.formats[0];
    device->SetCurrent(SubtypeOf(config.currentFourcc ? config.currentFourcc : first.fourcc),
                       static_cast<std::int32_t>(config.currentWidth ? config.currentWidth : first.width[0]),
                       static_cast<std::int32_t>(config.currentHeight ? config.currentHeight : first.height[0]));
    return device;
}

// The unit's GUID in the descriptors (none: a GUID no unit has).
kiv::Guid UnitGuid(const Camera& c) {
    return c.config.unit == 1   ? kiv::kExtensionUnitModelA
           : c.config.unit == 2 ? kiv::kExtensionUnitModelB
                                : kiv::Guid{};
}

// The device's answer as uvcvideo reports it.
int XuErrno(kiv::sim::XuAnswer answer) {
    switch (answer) {
        case kiv::sim::XuAnswer::Ok: return 0;
        case kiv::sim::XuAnswer::NoControl: return ENOENT;
        case kiv::sim::XuAnswer::WrongLength: return ENOBUFS;
        case kiv::sim::XuAnswer::Unsupported: return EBADRQC;
        case kiv::sim::XuAnswer::Gone: return ENODEV;
        default: return EPIPE;  // the control transfer stalled
    }
}

void WriteFile(const fs::path& file, const void* data, std::size_t size) {
    FILE* f = std::fopen(file.c_str(), "wb");
    if (!f) return;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
}

void WriteText(const fs::path& file, const std::string& text) {
    const std::string line = text + "\n";
    WriteFile(file, line.data(), line.size());
}

// Writes the whole fake sysfs tree from the cameras (caller holds g_mutex).
void RebuildSysfs() {
    if (!g_rootSet.load()) return;
    const fs::path root = fs::path(g_root) / "sys";
    std::error_code ec;
    fs::remove_all(root, ec);
    fs::create_directories(root / "class" / "video4linux", ec);
    for (const auto& cam : g_cameras) {
        const Camera& c = *cam;
        const fs::path usb = root / "devices" / "pci0000:00" / "0000:00:14.0" / "usb1" / c.config.port;
        char iface[64];
        std::snprintf(iface, sizeof iface, "%s:1.%u", c.config.port, c.config.interfaceNumber);
        const fs::path interface = usb / iface;
        fs::create_directories(interface, ec);
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04x", c.config.vendor);
        WriteText(usb / "idVendor", hex);
        std::snprintf(hex, sizeof hex, "%04x", c.config.product);
        WriteText(usb / "idProduct", hex);
        if (c.config.serial[0]) WriteText(usb / "serial", c.config.serial);
        WriteFile(usb / "descriptors", c.descriptors.data(), c.descriptors.size());
        std::snprintf(hex, sizeof hex, "%02x", c.config.interfaceNumber);
        WriteText(interface / "bInterfaceNumber", hex);
        WriteText(interface / "bInterfaceClass", "0e");
        WriteText(interface / "bInterfaceSubClass", "01");
        const int nodes[2] = {c.captureNode, c.metadataNode};
        for (int i = 0; i < 2; ++i) {
            const std::string node = "video" + std::to_string(nodes[i]);
            const fs::path dir = interface / "video4linux" / node;
            fs::create_directories(dir, ec);
            WriteText(dir / "name", c.config.name);
            WriteText(dir / "index", std::to_string(i));
            fs::create_symlink(interface, dir / "device", ec);
            fs::create_symlink(dir, root / "class" / "video4linux" / node, ec);
        }
    }
}

// For demos and manual runs (LD_PRELOAD=libuvcemul.so UVCEMUL_CAMERA=mjpeg
// kivscan ...): one camera of model B, streaming MJPEG or YUYV at 640x480,
// added on the first look at the devices.
void AddCameraFromEnvironment();
void EnsureEnvironmentCamera() {
    static std::once_flag once;
    std::call_once(once, AddCameraFromEnvironment);
}

Camera* CameraOfNode(const char* path, bool& metadata) {
    if (std::strncmp(path, "/dev/video", 10) != 0) return nullptr;
    char* end = nullptr;
    const long n = std::strtol(path + 10, &end, 10);
    if (end == path + 10 || *end) return nullptr;
    for (auto& c : g_cameras) {
        if (c->captureNode == n || c->metadataNode == n) {
            metadata = c->metadataNode == n;
            return c.get();
        }
    }
    return nullptr;
}

int EmulatedOpen(const char* path, int flags, bool& handled) {
    handled = false;
    // Only device nodes take the lock: the sysfs writer opens files under it.
    if (!path || std::strncmp(path, "/dev/video", 10) != 0) return -1;
    EnsureEnvironmentCamera();
    std::lock_guard<std::mutex> lock(g_mutex);
    bool metadata = false;
    Camera* c = CameraOfNode(path, metadata);
    if (!c) {
        if (std::strncmp(path, "/dev/video", 10) != 0) return -1;
        handled = true;
        errno = ENOENT;
        return -1;
    }
    handled = true;
    if (c->unplugged || c->denyOpen) {
        errno = c->unplugged ? ENODEV : EACCES;
        return -1;
    }
    const int fd = Real<OpenFn>("open")("/dev/null", O_RDWR | (flags & O_CLOEXEC));
    if (fd < 0) return -1;
    for (std::size_t i = 0; i < g_cameras.size(); ++i)
        if (g_cameras[i].get() == c) g_open[fd] = {static_cast<int>(i), metadata, (flags & O_NONBLOCK) != 0};
    return fd;
}

void FreeBuffers(Camera& c) {
    for (Buffer& b : c.buffers) Real<MunmapFn>("munmap")(b.memory, b.length);
    c.buffers.clear();
    c.queue.clear();
    c.bufferOwner = -1;
    c.streaming = false;
}

bool FrameReady(const Camera& c) { return c.streaming && !c.queue.empty() && Clock::now() >= c.nextFrame; }

int Fail(int error) {
    errno = error;
    return -1;
}

int CaptureIoctl(int fd, Camera& c, unsigned long request, void* arg) {
    if (c.unplugged) {
        if (request == VIDIOC_DQBUF && c.unplugHow == kEmulUnplugBuffers) {
            if (c.queue.empty()) return Fail(EIO);
            auto* b = static_cast<v4l2_buffer*>(arg);
            b->index = c.queue.front();
            c.queue.pop_front();
            c.buffers[b->index].queued = false;
            b->flags = V4L2_BUF_FLAG_ERROR;
            b->bytesused = 0;
            return 0;
        }
        return Fail(ENODEV);
    }
    bool control = false;
    const int answered = c.controls.Ioctl(fd, c.device->Controls(), request, arg, c.busy, control);
    if (control) return answered;
    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* cap = static_cast<v4l2_capability*>(arg);
            std::memset(cap, 0, sizeof *cap);
            std::snprintf(reinterpret_cast<char*>(cap->driver), sizeof cap->driver, "uvcvideo");
            std::snprintf(reinterpret_cast<char*>(cap->card), sizeof cap->card, "%.31s", c.config.name);
            cap->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING |
                                V4L2_CAP_DEVICE_CAPS;
            cap->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* d = static_cast<v4l2_fmtdesc*>(arg);
            if (d->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || d->index >= c.config.formatCount) return Fail(EINVAL);
            d->pixelformat = c.config.formats[d->index].fourcc;
            d->flags = d->pixelformat == V4L2_PIX_FMT_MJPEG ? V4L2_FMT_FLAG_COMPRESSED : 0;
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* s = static_cast<v4l2_frmsizeenum*>(arg);
            for (std::uint32_t i = 0; i < c.config.formatCount; ++i) {
                const UvcEmulFormat& f = c.config.formats[i];
                if (f.fourcc != s->pixel_format) continue;
                if (f.stepwise) {
                    if (s->index > 0) return Fail(EINVAL);
                    s->type = V4L2_FRMSIZE_TYPE_STEPWISE;
                    s->stepwise = {16, 1920, 16, 16, 1080, 16};
                    return 0;
                }
                if (s->index >= f.count) return Fail(EINVAL);
                s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                s->discrete.width = f.width[s->index];
                s->discrete.height = f.height[s->index];
                return 0;
            }
            return Fail(EINVAL);
        }
        case VIDIOC_G_FMT:
        case VIDIOC_S_FMT: {
            auto* f = static_cast<v4l2_format*>(arg);
            if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return Fail(EINVAL);
            if (request == VIDIOC_S_FMT) {
                if (c.busy || !c.buffers.empty()) return Fail(EBUSY);
                const UvcEmulFormat* format = &c.config.formats[0];
                for (std::uint32_t i = 0; i < c.config.formatCount; ++i)
                    if (c.config.formats[i].fourcc == f->fmt.pix.pixelformat) format = &c.config.formats[i];
                // The nearest size the format has.
                std::uint32_t best = 0;
                long bestDistance = -1;
                const std::uint32_t streamable = format->streamable ? std::min(format->streamable, format->count)
                                                                    : format->count;
                for (std::uint32_t i = 0; i < streamable; ++i) {
                    const long d =
                        std::labs(static_cast<long>(format->width[i]) - static_cast<long>(f->fmt.pix.width)) +
                        std::labs(static_cast<long>(format->height[i]) - static_cast<long>(f->fmt.pix.height));
                    if (bestDistance < 0 || d < bestDistance) best = i, bestDistance = d;
                }
                // As the driver: the nearest size, or the size as it is for a format without discrete sizes.
                c.device->SetCurrent(SubtypeOf(format->fourcc),
                                     static_cast<std::int32_t>(format->count ? format->width[best] : c.Width()),
                                     static_cast<std::int32_t>(format->count ? format->height[best] : c.Height()));
            }
            std::memset(&f->fmt.pix, 0, sizeof f->fmt.pix);
            f->fmt.pix.width = c.Width();
            f->fmt.pix.height = c.Height();
            f->fmt.pix.pixelformat = c.Fourcc();
            f->fmt.pix.field = V4L2_FIELD_NONE;
            f->fmt.pix.bytesperline = c.BytesPerLine();
            f->fmt.pix.sizeimage = c.SizeImage();
            f->fmt.pix.colorspace = V4L2_COLORSPACE_SRGB;
            return 0;
        }
        case VIDIOC_REQBUFS: {
            auto* r = static_cast<v4l2_requestbuffers*>(arg);
            if (r->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || r->memory != V4L2_MEMORY_MMAP) return Fail(EINVAL);
            if (c.busy || (c.bufferOwner >= 0 && c.bufferOwner != fd)) return Fail(EBUSY);
            if (r->count == 0) {
                for (const Buffer& b : c.buffers)
                    if (b.mapped) return Fail(EBUSY);
                FreeBuffers(c);
                return 0;
            }
            if (!c.buffers.empty()) return Fail(EBUSY);
            r->count = std::min<std::uint32_t>(r->count, 8);
            const std::size_t length = (c.SizeImage() + 4095) & ~std::size_t{4095};
            for (std::uint32_t i = 0; i < r->count; ++i) {
                void* m = Real<MmapFn>("mmap")(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1,
                                               0);
                if (m == MAP_FAILED) return Fail(ENOMEM);
                c.buffers.push_back({static_cast<std::uint8_t*>(m), length, 0, false});
            }
            c.bufferOwner = fd;
            MakeFrame(c);
            return 0;
        }
        case VIDIOC_QUERYBUF:
        case VIDIOC_QBUF: {
            auto* b = static_cast<v4l2_buffer*>(arg);
            if (fd != c.bufferOwner || b->index >= c.buffers.size()) return Fail(EINVAL);
            Buffer& buffer = c.buffers[b->index];
            if (request == VIDIOC_QUERYBUF) {
                b->length = static_cast<std::uint32_t>(buffer.length);
                b->m.offset = b->index * kOffsetStep;
                b->flags = buffer.queued ? V4L2_BUF_FLAG_QUEUED : 0;
                return 0;
            }
            if (buffer.queued) return Fail(EINVAL);
            buffer.queued = true;
            c.queue.push_back(b->index);
            return 0;
        }
        case VIDIOC_DQBUF: {
            auto* b = static_cast<v4l2_buffer*>(arg);
            if (fd != c.bufferOwner || !c.streaming) return Fail(EINVAL);
            if (!FrameReady(c)) return Fail(EAGAIN);
            const std::uint32_t index = c.queue.front();
            c.queue.pop_front();
            Buffer& buffer = c.buffers[index];
            buffer.queued = false;
            MakeFrame(c);
            const std::size_t size = std::min(c.frame.size(), buffer.length);
            std::memcpy(buffer.memory, c.frame.data(), size);
            b->index = index;
            b->bytesused = static_cast<std::uint32_t>(size);
            b->flags = c.frameMode == kEmulFramesErrorFlag ? V4L2_BUF_FLAG_ERROR : 0;
            b->sequence = static_cast<std::uint32_t>(c.frames);
            b->field = V4L2_FIELD_NONE;
            ++c.frames;
            c.nextFrame = Clock::now() + std::chrono::microseconds(c.config.frameIntervalUs);
            return 0;
        }
        case VIDIOC_STREAMON:
            if (c.busy) return Fail(EBUSY);
            if (fd != c.bufferOwner || c.buffers.empty()) return Fail(EINVAL);
            c.streaming = true;
            c.nextFrame = Clock::now();
            return 0;
        case VIDIOC_STREAMOFF:
            if (fd != c.bufferOwner) return Fail(EINVAL);
            c.streaming = false;
            c.queue.clear();
            for (Buffer& b : c.buffers) b.queued = false;
            return 0;
        case UVCIOC_CTRL_QUERY: {
            // As uvcvideo's uvc_xu_ctrl_query: the unit and selector must exist,
            // the size must be the control's length (2 for GET_LEN, 1 for
            // GET_INFO), and the control must support the request.
            auto* q = static_cast<uvc_xu_control_query*>(arg);
            ++c.queries[q->query];
            if (q->unit != kEmulUnitId) return Fail(ENOENT);
            const kiv::Guid unit = UnitGuid(c);
            std::size_t length = 0;
            bool get = false, set = false;
            if (!c.device->DescribeControl(unit, q->selector, length, get, set)) return Fail(ENOENT);
            if (q->query == UVC_GET_LEN || q->query == UVC_GET_INFO) {
                if (q->size != (q->query == UVC_GET_LEN ? 2 : 1)) return Fail(ENOBUFS);
                if (!q->data) return Fail(EFAULT);
                if (q->query == UVC_GET_INFO) {
                    q->data[0] = static_cast<std::uint8_t>((get ? UVC_CONTROL_CAP_GET : 0) |
                                                           (set ? UVC_CONTROL_CAP_SET : 0));
                } else {
                    q->data[0] = static_cast<std::uint8_t>(length);
                    q->data[1] = static_cast<std::uint8_t>(length >> 8);
                }
                return 0;
            }
            if (q->query != UVC_GET_CUR && q->query != UVC_SET_CUR && q->query != UVC_GET_DEF)
                return Fail(EINVAL);  // GET_MIN/MAX/RES: not modelled
            if (q->size != length) return Fail(ENOBUFS);
            if (!q->data) return Fail(EFAULT);
            kiv::sim::XuAnswer answer;
            if (q->query == UVC_GET_DEF) {
                answer = c.device->Default(unit, q->selector, q->data, q->size);
            } else if (q->query == UVC_GET_CUR) {
                answer = c.device->Get(unit, q->selector, q->data, q->size, kiv::sim::XuLength::Control);
            } else {
                answer = c.device->Set(unit, q->selector, q->data, q->size, kiv::sim::XuLength::Control);
                if (answer == kiv::sim::XuAnswer::Ok) {
                    c.lastSelector = q->selector;
                    c.lastSet.assign(q->data, q->data + q->size);
                }
            }
            const int error = XuErrno(answer);
            return error ? Fail(error) : 0;
        }
        default: return Fail(ENOTTY);
    }
}

int MetadataIoctl(Camera& c, unsigned long request, void* arg) {
    if (c.unplugged) return Fail(ENODEV);
    if (request != VIDIOC_QUERYCAP) return request == UVCIOC_CTRL_QUERY ? Fail(ENOTTY) : Fail(EINVAL);
    auto* cap = static_cast<v4l2_capability*>(arg);
    std::memset(cap, 0, sizeof *cap);
    std::snprintf(reinterpret_cast<char*>(cap->driver), sizeof cap->driver, "uvcvideo");
    std::snprintf(reinterpret_cast<char*>(cap->card), sizeof cap->card, "%.31s", c.config.name);
    cap->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_DEVICE_CAPS;
    cap->device_caps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    return 0;
}

// As a V4L2 node answers poll: POLLPRI while control events wait for the
// descriptor; the buffer queue's answer only when POLLIN is asked for.
short EmulatedRevents(const Camera& c, int fd, bool metadata, short events) {
    if (c.unplugged) {
        if (!metadata && c.unplugHow == kEmulUnplugBuffers && !c.queue.empty()) return POLLIN & events;
        return POLLERR | POLLHUP;
    }
    const short pri = !metadata && c.controls.Pending(fd) ? (POLLPRI & events) : 0;
    if (!(events & POLLIN)) return pri;
    if (metadata || !c.streaming) return static_cast<short>(POLLERR | pri);
    return static_cast<short>((FrameReady(c) ? (POLLIN & events) : 0) | pri);
}

}  // namespace

// -- interposed calls ---------------------------------------------------------------

EMUL_EXPORT int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, mode_t);
        va_end(ap);
    }
    bool handled = false;
    const int fd = EmulatedOpen(path, flags, handled);
    if (handled) return fd;
    return Real<OpenFn>("open")(MapPath(path).c_str(), flags, mode);
}

EMUL_EXPORT int open64(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, mode_t);
        va_end(ap);
    }
    bool handled = false;
    const int fd = EmulatedOpen(path, flags, handled);
    if (handled) return fd;
    return Real<OpenFn>("open64")(MapPath(path).c_str(), flags, mode);
}

EMUL_EXPORT int openat(int dirfd, const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, mode_t);
        va_end(ap);
    }
    bool handled = false;
    const int fd = EmulatedOpen(path, flags, handled);
    if (handled) return fd;
    return Real<OpenatFn>("openat")(dirfd, MapPath(path).c_str(), flags, mode);
}

EMUL_EXPORT int close(int fd) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_open.find(fd);
        if (it != g_open.end()) {
            Camera& c = *g_cameras[static_cast<std::size_t>(it->second.camera)];
            // As the driver: the last close of the owner frees what is not mapped.
            if (c.bufferOwner == fd) {
                c.streaming = false;
                bool mapped = false;
                for (const Buffer& b : c.buffers) mapped = mapped || b.mapped;
                if (!mapped) FreeBuffers(c);
                else c.bufferOwner = -2;  // orphaned: a leak the tests see
            }
            c.controls.Closed(fd);
            g_open.erase(it);
        }
    }
    return Real<CloseFn>("close")(fd);
}

EMUL_EXPORT int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            auto it = g_open.find(fd);
            if (it == g_open.end()) break;
            Camera& c = *g_cameras[static_cast<std::size_t>(it->second.camera)];
            if (it->second.metadata) return MetadataIoctl(c, request, arg);
            const int r = CaptureIoctl(fd, c, request, arg);
            // A blocking DQBUF waits for the next frame.
            if (!(r == -1 && errno == EAGAIN && request == VIDIOC_DQBUF && !it->second.nonBlocking)) return r;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return Real<IoctlFn>("ioctl")(fd, request, arg);
}

EMUL_EXPORT void* mmap(void* address, size_t length, int prot, int flags, int fd, off_t offset) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_open.find(fd);
        if (it != g_open.end()) {
            Camera& c = *g_cameras[static_cast<std::size_t>(it->second.camera)];
            const std::size_t index = static_cast<std::size_t>(offset) / kOffsetStep;
            if (it->second.metadata || c.unplugged || fd != c.bufferOwner || offset % kOffsetStep != 0 ||
                index >= c.buffers.size() || length > c.buffers[index].length || !(flags & MAP_SHARED)) {
                errno = EINVAL;
                return MAP_FAILED;
            }
            ++c.buffers[index].mapped;
            return c.buffers[index].memory;
        }
    }
    return Real<MmapFn>("mmap")(address, length, prot, flags, fd, offset);
}

EMUL_EXPORT void* mmap64(void* address, size_t length, int prot, int flags, int fd, off_t offset) {
    return mmap(address, length, prot, flags, fd, offset);
}

EMUL_EXPORT int munmap(void* address, size_t length) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (auto& c : g_cameras)
            for (Buffer& b : c->buffers)
                if (b.memory == address && b.mapped > 0) {
                    --b.mapped;
                    return 0;
                }
    }
    return Real<MunmapFn>("munmap")(address, length);
}

EMUL_EXPORT int poll(pollfd* fds, nfds_t count, int timeoutMs) {
    bool any = false;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (nfds_t i = 0; i < count; ++i) any = any || g_open.count(fds[i].fd) != 0;
    }
    if (!any) return Real<PollFn>("poll")(fds, count, timeoutMs);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::vector<pollfd> others;
    std::vector<bool> emulated(count);
    for (;;) {
        int ready = 0;
        others.clear();
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            for (nfds_t i = 0; i < count; ++i) {
                auto it = g_open.find(fds[i].fd);
                emulated[i] = it != g_open.end();
                if (!emulated[i]) {
                    others.push_back(fds[i]);
                    continue;
                }
                const Camera& c = *g_cameras[static_cast<std::size_t>(it->second.camera)];
                fds[i].revents = EmulatedRevents(c, fds[i].fd, it->second.metadata, fds[i].events);
                if (fds[i].revents) ++ready;
            }
        }
        if (!others.empty() && Real<PollFn>("poll")(others.data(), others.size(), 0) > 0) {
            std::size_t k = 0;
            for (nfds_t i = 0; i < count; ++i) {
                if (emulated[i]) continue;
                fds[i].revents = others[k++].revents;
                if (fds[i].revents) ++ready;
            }
        }
        if (ready > 0) return ready;
        if (timeoutMs >= 0 && Clock::now() >= deadline) return 0;
        // Frames come every few milliseconds; a wait for events alone may idle longer.
        bool frames = false;
        for (nfds_t i = 0; i < count; ++i) frames = frames || (emulated[i] && (fds[i].events & POLLIN));
        std::this_thread::sleep_for(std::chrono::microseconds(frames ? 200 : 2000));
    }
}

EMUL_EXPORT DIR* opendir(const char* path) {
    if (std::strncmp(path, "/sys/", 5) == 0) EnsureEnvironmentCamera();
    return Real<OpendirFn>("opendir")(MapPath(path).c_str());
}

EMUL_EXPORT char* realpath(const char* path, char* resolved) {
    char* r = Real<RealpathFn>("realpath")(MapPath(path).c_str(), resolved);
    if (r && g_rootSet.load() && path && std::strncmp(path, "/sys/", 5) == 0) {
        const std::size_t root = std::strlen(g_root);
        if (std::strncmp(r, g_root, root) == 0) std::memmove(r, r + root, std::strlen(r + root) + 1);
    }
    return r;
}

// -- the control interface ----------------------------------------------------------

EMUL_EXPORT void uvcemul_reset() {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto& c : g_cameras) FreeBuffers(*c);
    g_cameras.clear();
    g_open.clear();  // descriptors still open stay plain /dev/null ones
    g_nextNode = 0;
    if (g_rootSet.load()) {
        std::error_code ec;
        fs::remove_all(fs::path(g_root) / "sys", ec);
    }
}

EMUL_EXPORT int uvcemul_add(const UvcEmulCamera* config) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_rootSet.load()) {
        char temp[] = "/tmp/uvcemul.XXXXXX";
        if (!mkdtemp(temp)) return -1;
        std::snprintf(g_root, sizeof g_root, "%s", temp);
        g_rootSet.store(true);
    }
    auto c = std::make_unique<Camera>();
    c->config = *config;
    if (c->config.metadataFirst) {
        c->metadataNode = g_nextNode++;
        c->captureNode = g_nextNode++;
    } else {
        c->captureNode = g_nextNode++;
        c->metadataNode = g_nextNode++;
    }
    c->device = MakeDevice(*config);
    if (config->integerMenu) {
        kiv::CameraControl bias;
        bias.id = kEmulIntegerMenuId;
        bias.name = "Auto Exposure, Bias";
        bias.kind = kiv::CameraControlKind::IntegerMenu;
        bias.maximum = static_cast<std::int64_t>(std::size(kEmulIntegerMenuValues)) - 1;
        bias.defaultValue = bias.value = 3;
        for (std::int64_t i = 0; i <= bias.maximum; ++i) {
            if (i != 2) bias.menu.push_back({i, std::to_string(kEmulIntegerMenuValues[i])});
        }
        bias.group = "Camera Controls";
        c->device->Controls().Add(std::move(bias));
    }
    c->descriptors = MakeDescriptors(*c);
    g_cameras.push_back(std::move(c));
    RebuildSysfs();
    return static_cast<int>(g_cameras.size() - 1);
}

namespace {
Camera* At(int camera) {
    return camera >= 0 && static_cast<std::size_t>(camera) < g_cameras.size() ? g_cameras[camera].get() : nullptr;
}
}  // namespace

EMUL_EXPORT void uvcemul_unplug(int camera, int how) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Camera* c = At(camera);
    if (!c) return;
    c->unplugged = true;
    c->unplugHow = how;
    c->device->Lose();
    if (how == kEmulUnplugHangUp) c->queue.clear();
    // The nodes leave /dev and sysfs with the device.
    c->captureNode = c->metadataNode = -1000 - camera;
    RebuildSysfs();
}

EMUL_EXPORT void uvcemul_set_busy(int camera, int busy) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (Camera* c = At(camera)) c->busy = busy != 0;
}

EMUL_EXPORT void uvcemul_deny_open(int camera, int deny) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (Camera* c = At(camera)) c->denyOpen = deny != 0;
}

EMUL_EXPORT void uvcemul_renumber(int by) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto& c : g_cameras) {
        if (c->unplugged) continue;
        c->captureNode += by;
        c->metadataNode += by;
    }
    g_nextNode += by;
    RebuildSysfs();
}

EMUL_EXPORT void uvcemul_set_descriptors(int camera, const std::uint8_t* bytes, std::size_t size) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (Camera* c = At(camera)) {
        c->descriptors.assign(bytes, bytes + size);
        RebuildSysfs();
    }
}

EMUL_EXPORT void uvcemul_script_status(int camera, const std::uint8_t* bytes, std::size_t count) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (Camera* c = At(camera)) c->device->ScriptButtons(std::vector<std::uint8_t>(bytes, bytes + count));
}

EMUL_EXPORT void uvcemul_set_frame_mode(int camera, int mode) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (Camera* c = At(camera)) c->frameMode = mode;
}

EMUL_EXPORT std::size_t uvcemul_last_set(int camera, std::uint8_t* selector, std::uint8_t* data, std::size_t capacity) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Camera* c = At(camera);
    if (!c || c->lastSet.empty()) return 0;
    *selector = c->lastSelector;
    std::memcpy(data, c->lastSet.data(), std::min(capacity, c->lastSet.size()));
    return c->lastSet.size();
}

EMUL_EXPORT void uvcemul_set_control(int camera, std::uint8_t selector, const std::uint8_t* current,
                                     std::size_t length) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Camera* c = At(camera);
    if (!c || length == 0 || length > 0xFFFF) return;
    c->device->ReshapeControl(selector, current, length);
}

EMUL_EXPORT std::uint64_t uvcemul_queries(int camera, std::uint8_t query) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Camera* c = At(camera);
    if (!c) return 0;
    const auto found = c->queries.find(query);
    return found == c->queries.end() ? 0 : found->second;
}

EMUL_EXPORT int uvcemul_open_count() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<int>(g_open.size());
}

EMUL_EXPORT int uvcemul_mapped_count() {
    std::lock_guard<std::mutex> lock(g_mutex);
    int mapped = 0;
    for (auto& c : g_cameras)
        for (const Buffer& b : c->buffers) mapped += b.mapped;
    return mapped;
}

EMUL_EXPORT std::uint64_t uvcemul_frames(int camera) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Camera* c = At(camera);
    return c ? c->frames : 0;
}

EMUL_EXPORT std::size_t uvcemul_jpeg(int camera, std::uint8_t* data, std::size_t capacity) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Camera* c = At(camera);
    if (!c || c->Fourcc() != V4L2_PIX_FMT_MJPEG) return 0;
    MakeFrame(*c);
    std::memcpy(data, c->frame.data(), std::min(capacity, c->frame.size()));
    return c->frame.size();
}

namespace {
void AddCameraFromEnvironment() {
    const char* kind = std::getenv("UVCEMUL_CAMERA");
    if (!kind || (std::strcmp(kind, "mjpeg") != 0 && std::strcmp(kind, "yuyv") != 0)) return;
    UvcEmulCamera c;
    c.unit = 2;
    c.formatCount = 1;
    c.formats[0].fourcc = std::strcmp(kind, "mjpeg") == 0 ? V4L2_PIX_FMT_MJPEG : V4L2_PIX_FMT_YUYV;
    c.formats[0].count = 2;
    c.formats[0].width[0] = 640, c.formats[0].height[0] = 480;
    c.formats[0].width[1] = 320, c.formats[0].height[1] = 240;
    c.frameIntervalUs = 33333;
    uvcemul_add(&c);
}
}  // namespace

EMUL_EXPORT int uvcemul_set_camera_control(int camera, std::uint32_t id, std::int64_t value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Camera* c = At(camera);
    return c ? c->controls.SetFromElsewhere(c->device->Controls(), id, value) : -1;
}

EMUL_EXPORT std::int64_t uvcemul_camera_control(int camera, std::uint32_t id) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Camera* c = At(camera);
    const kiv::CameraControl* control = c ? c->device->Controls().Find(id) : nullptr;
    return control ? control->value : -1;
}
