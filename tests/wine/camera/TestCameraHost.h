// The test camera as the tests see it: loads kivtestcam.dll from beside the
// test, registers its classes (what regsvr32 does; idempotent) and lists the
// devices of a KIVDS_SIM description in the video input category. The
// destructor takes the listing and the classes out of the registry again, so
// other programs in the shared Wine prefix see no camera.
#pragma once

#include <windows.h>

#include <string>

namespace kivtest {

// Device paths of the maker's models A and B (same USB ids, other instances)
// as the video input category lists them.
inline constexpr char kModelAPath[] =
    "\\\\?\\usb#vid_1a3c&pid_0b21&mi_00#6&1f2e3d4c&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
inline constexpr char kModelBPath[] =
    "\\\\?\\usb#vid_1a3c&pid_0b21&mi_00#6&2a2b2c2d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";

class TestCameraHost {
public:
    // Sets KIVDS_SIM to description and lists its devices (slots 0, 1, ...).
    explicit TestCameraHost(const std::string& description);
    ~TestCameraHost();
    TestCameraHost(const TestCameraHost&) = delete;
    TestCameraHost& operator=(const TestCameraHost&) = delete;

    bool Ready() const { return ready_; }
    // The COM objects of the camera module alive now.
    long LiveObjects() const;
    // Of those, the decoders the graph builder inserted.
    long LiveDecoders() const;
    // Property pages shown in a property frame so far.
    long PagesActivated() const;
    // Queries for the filters' topology (each button read makes one).
    long TopologyQueries() const;
    // Probes sent to the extension-unit nodes (finding a unit's node sends them).
    long UnitProbes() const;
    // Status bytes read from the extension unit of a slot.
    long ButtonReads(int slot) const;
    // The device of a slot goes: its filters raise EC_DEVICE_LOST, and it
    // leaves the video input category.
    void Unplug(int slot);

private:
    void Unlist();

    HMODULE module_ = nullptr;
    bool ready_ = false;
    int listed_ = 0;
};

// Makes a device path such as "\\?\usb#...#{...}\global" open with
// CreateFileW, as the path of a plugged-in camera does: Wine looks names
// under "\\?\" up in the prefix's dosdevices folder, where this creates
// the folder and the file ("global") the path names. The destructor removes
// them again. Needs WINEPREFIX in the environment (Wine passes it on).
class OpenableDevicePath {
public:
    explicit OpenableDevicePath(const std::string& path);
    ~OpenableDevicePath();
    OpenableDevicePath(const OpenableDevicePath&) = delete;
    OpenableDevicePath& operator=(const OpenableDevicePath&) = delete;

    bool Ready() const { return ready_; }
    // The path opens now (what the backend asks before a button read).
    static bool Opens(const std::string& path);

private:
    std::wstring folder_, file_;
    bool ready_ = false;
};

}  // namespace kivtest
