// The control interface of the emulated UVC camera (libuvcemul.so, preloaded
// into a test process). The library serves open/close/ioctl/mmap/munmap/poll
// for the emulated /dev/videoN nodes and maps /sys/... to a fake sysfs tree it
// writes itself; a test drives it through these functions, found with dlsym.
// All functions are thread safe.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

struct UvcEmulFormat {
    std::uint32_t fourcc = 0;  // V4L2_PIX_FMT_MJPEG or V4L2_PIX_FMT_YUYV
    std::uint32_t count = 0;   // sizes listed
    std::uint32_t width[8] = {};
    std::uint32_t height[8] = {};
    int stepwise = 0;              // ENUM_FRAMESIZES answers a stepwise range instead
    std::uint32_t streamable = 0;  // S_FMT picks among the first n sizes only (0: all)
};

struct UvcEmulCamera {
    char name[64] = "ORVAN KIVCAMB";
    std::uint16_t vendor = 0x1a3c;
    std::uint16_t product = 0x0b21;
    char serial[64] = "";   // empty: no serial attribute
    char port[32] = "1-2";  // the USB device's directory name
    std::uint32_t interfaceNumber = 0;
    int unit = 0;  // extension unit: 0 none, 1 model A, 2 model B (controls below)
    std::uint32_t formatCount = 0;
    UvcEmulFormat formats[2];
    std::uint32_t currentFourcc = 0, currentWidth = 0, currentHeight = 0;
    std::uint32_t yuyvRowPadding = 0;  // bytes added to each YUYV row (bytesperline)
    std::uint32_t frameIntervalUs = 2000;
    int metadataFirst = 0;  // the metadata node gets the lower number
    // One control more: an exposure bias as an integer menu, as sensor
    // drivers list it (uvcvideo maps no UVC control to one).
    int integerMenu = 0;
};

// The integer menu's id and its entries' values (index 2 is a hole).
constexpr std::uint32_t kEmulIntegerMenuId = 0x009a0913;  // V4L2_CID_AUTO_EXPOSURE_BIAS
constexpr std::int64_t kEmulIntegerMenuValues[] = {-2000, -1000, 0, 1000, 2000};

enum UvcEmulFrameMode {
    kEmulFramesGood = 0,
    kEmulFramesNoHuffman = 1,  // MJPEG without its DHT segments
    kEmulFramesTruncated = 2,  // MJPEG cut short
    kEmulFramesGarbage = 3,    // not a JPEG at all
    kEmulFramesErrorFlag = 4,  // every buffer flagged V4L2_BUF_FLAG_ERROR
    kEmulFramesWrongSize = 5,  // MJPEG of half the negotiated size
};

enum UvcEmulUnplug {
    kEmulUnplugHangUp = 0,   // poll reports POLLERR | POLLHUP at once
    kEmulUnplugBuffers = 1,  // queued buffers come back flagged, QBUF fails with ENODEV
};

// The unit id the emulated extension unit has in the descriptors.
constexpr std::uint8_t kEmulUnitId = 4;

// Removes every camera and the fake sysfs tree.
void uvcemul_reset();
// Adds a camera (a capture and a metadata node); returns its number.
int uvcemul_add(const UvcEmulCamera* camera);
void uvcemul_unplug(int camera, int how);
// "In use": REQBUFS, S_FMT and STREAMON fail with EBUSY.
void uvcemul_set_busy(int camera, int busy);
// Gives every node a number `by` higher (as after replugging other devices).
void uvcemul_renumber(int by);
// Opening the camera's nodes fails with EACCES (no permission).
void uvcemul_deny_open(int camera, int deny);
// Replaces the USB device's descriptors file.
void uvcemul_set_descriptors(int camera, const std::uint8_t* bytes, std::size_t size);
// The extension unit answers UVCIOC_CTRL_QUERY as uvcvideo does: ENOENT for
// another unit or selector, ENOBUFS unless the size is the control's length
// (GET_LEN: 2, GET_INFO: 1), EBADRQC for a request the control does not
// support, EPIPE (a stall) for one out of the device's protocol. The device is
// the virtual camera's (kivds/camera/sim/VirtualDevice.h): model B selector
// 10 (2 bytes, GET only, the status first); model A selector 1 (1 byte, the
// mode) and selector 2 (2 bytes: the address written after the mode, then
// one GET_CUR with the status first). SET_CUR stores the control's bytes,
// GET_CUR answers them, GET_DEF answers the defaults.
//
// Gives the control `selector` a length of `length` bytes holding `current`,
// its defaults too (a new control supports GET and SET; the status control
// stays one).
void uvcemul_set_control(int camera, std::uint8_t selector, const std::uint8_t* current, std::size_t length);
// UVCIOC_CTRL_QUERY requests with this query code made so far, answered or not.
std::uint64_t uvcemul_queries(int camera, std::uint8_t query);
// Status bytes returned by successive GET_CUR of the status control (the last
// repeats; none: the buttons rest, model A 0x42, model B 0) in the control's
// first byte.
void uvcemul_script_status(int camera, const std::uint8_t* bytes, std::size_t count);
void uvcemul_set_frame_mode(int camera, int mode);
// The last SET_CUR: selector and data; returns the data length (0: none yet).
std::size_t uvcemul_last_set(int camera, std::uint8_t* selector, std::uint8_t* data, std::size_t capacity);
// Emulated descriptors open now, and buffers mapped now (all cameras).
int uvcemul_open_count();
int uvcemul_mapped_count();
// Frames delivered by DQBUF so far.
std::uint64_t uvcemul_frames(int camera);
// The MJPEG frame the camera sends for its current size (empty when none).
std::size_t uvcemul_jpeg(int camera, std::uint8_t* data, std::size_t capacity);
// The camera's V4L2 controls (the virtual device's DeviceControls, answered
// as uvcvideo does: class headers, one compound control, menus with holes,
// EACCES for a read-only or inactive control, EBUSY while "in use", control
// events to every other subscribed descriptor). Another program sets
// control `id` (0, or -1 when the device refuses); the device's value.
int uvcemul_set_camera_control(int camera, std::uint32_t id, std::int64_t value);
std::int64_t uvcemul_camera_control(int camera, std::uint32_t id);
}
