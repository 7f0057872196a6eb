// Records the camera layer hands to its users: frame sizes, formats, the bound
// device with its formats, graph event state and the button state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kivds/camera/Guid.h"

namespace kiv {

constexpr int UVCFMT_MJPEG = 1;
constexpr int UVCFMT_YUY2 = 2;

// The media subtype of a format type (MJPG for 1, YUY2 for 2); false for any
// other type.
bool SubtypeOfFormatType(int type, Guid& subtype);
// The format type of a media subtype; 0 for subtypes the source does not use.
int FormatTypeOfSubtype(const Guid& subtype);

// A frame size. Sizes order by width alone.
class CResolution {
public:
    CResolution() = default;
    CResolution(std::int32_t w, std::int32_t h, int isDefaultFlag = 0)
        : width(w), height(h), isDefault(isDefaultFlag) {}
    virtual ~CResolution() = default;
    CResolution(const CResolution&) = default;
    CResolution& operator=(const CResolution&) = default;

    bool SameSize(const CResolution& other) const { return width == other.width && height == other.height; }
    friend bool operator<(const CResolution& a, const CResolution& b) { return a.width < b.width; }

    std::int32_t width = 0;
    std::int32_t height = 0;
    int isDefault = 0;  // the camera's current size when read, or the size chosen at open
};

// An encoding with a frame size. Equality ignores the default flag.
class CUVCMediaFormat {
public:
    CUVCMediaFormat() = default;
    CUVCMediaFormat(const Guid& sub, int formatType, const CResolution& size)
        : subtype(sub), type(formatType), resolution(size) {}
    virtual ~CUVCMediaFormat() = default;
    CUVCMediaFormat(const CUVCMediaFormat&) = default;
    CUVCMediaFormat& operator=(const CUVCMediaFormat&) = default;

    friend bool operator==(const CUVCMediaFormat& a, const CUVCMediaFormat& b) {
        return a.subtype == b.subtype && a.type == b.type && a.resolution.SameSize(b.resolution);
    }
    friend bool operator!=(const CUVCMediaFormat& a, const CUVCMediaFormat& b) { return !(a == b); }

    Guid subtype = MediaSubtypeMJPG;
    int type = UVCFMT_MJPEG;
    CResolution resolution;
};

// The bound camera: its distinct formats in enumeration order, the format
// applied at open, the model name and the device path.
class CUVCDeviceInfo {
public:
    CUVCDeviceInfo() = default;
    virtual ~CUVCDeviceInfo() = default;
    CUVCDeviceInfo(const CUVCDeviceInfo&) = default;
    CUVCDeviceInfo& operator=(const CUVCDeviceInfo&) = default;

    std::wstring ModelName() const { return friendlyName; }
    std::wstring DevicePath() const { return devicePath; }
    // Empties the list and both strings and resets the current format.
    void Clear();

    // Appends the format unless an equal one is listed already.
    void AddFormat(const CUVCMediaFormat& format);
    // The distinct format types, in order of first appearance.
    std::vector<int> Types() const;
    // The size of every listed format of the type, in list order.
    std::vector<CResolution> Sizes(int type) const;

    std::vector<CUVCMediaFormat> formats;
    CUVCMediaFormat currentFormat;
    std::wstring friendlyName;  // the normalised model name
    std::wstring devicePath;
};

// Outcome of draining the graph events.
class CUVCState {
public:
    static constexpr int NoEvent = 100;
    static constexpr int CameraRemoved = 1;

    CUVCState() = default;
    virtual ~CUVCState() = default;
    CUVCState(const CUVCState&) = default;
    CUVCState& operator=(const CUVCState&) = default;

    int state = NoEvent;
};

// The camera's buttons as read by PollButtons.
struct CameraButtonState {
    std::uint8_t status = 0xFF;  // the status byte; 0xFF when nothing was read
    int zoomIn = 0;
    int zoomOut = 0;
    int thirdButton = 0;
    int unitMissing = 0;  // model A's extension unit was not found
};

}  // namespace kiv
