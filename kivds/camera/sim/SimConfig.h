// The virtual camera's description, read from KIVDS_SIM:
//
//   KIVDS_SIM = "none" | device *( "|" device )     ("none" or empty: no device)
//   device    = field *( ";" field )
//   field     = "name=" TEXT | "path=" TEXT
//             | "caps=" ENC ":" W "x" H *( "," ENC ":" W "x" H )   ENC: mjpeg, yuy2, nv12
//             | "current=" W "x" H | "current=none"
//             | "fail=" OP ":" KIND *( "," OP ":" KIND )
//             | "lose=" N | "xu=" ("a" | "b" | "none")
//             | "buttons=" HEX *( "," HEX ) | "fps=" N
//             | "controls=" ("standard" | "none")   (none: it lists no controls)
//
// Keywords are matched without regard to ASCII case. When KIVDS_SIM is not
// set at all, one device with every default is simulated.
//
// fail= operations: bind, caps, setformat, connect, run, stop, grab, preview,
// sourcerect, propertypages; xu (every extension-unit request, finding the
// unit included: the unit looks absent with "notfound"), xuget and xuset (the
// unit is found, only its GET or SET requests fail); stream (the streaming
// thread cannot make its frames, as when memory runs out: no frame arrives).
//
// lose=N: the device is removed after N frames: it leaves the device list,
// its path no longer opens and its extension unit is gone.
//
// Extension units. xu= chooses the unit the device carries; without it the
// name decides ("KIVCAMA": a, "ORVAN KIVCAMB": b, any other: none). The units
// (VirtualDevice.h, for every test camera) answer only the requests the
// cameras answer; anything else fails (a stall):
//   b: GET selector 10, 2 bytes: the status byte, then 0. SETs fail.
//   a: SET selector 1 with the byte 02 enables register access; SET selector
//      2 with 84 01, only after that, selects the button register; GET
//      selector 2, 1 byte, reads the status. A read consumes the selection,
//      so each read needs both SETs again; a read without them, or a SET out
//      of order or with other bytes, fails and drops what was set.
// These byte counts are the requests' as the camera logic makes them; the
// device's control may be longer (the Linux backend fits each request to the
// control's length, see v4l2/XuControls.h, and the emulated UVC camera makes
// model A's register control 2 bytes long).
// buttons= gives the status bytes of successive successful reads, the last
// repeating; without it the buttons rest (b: 00, a: 42, both zoom bits up).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kivds/camera/IVideoPlatform.h"

namespace kiv {
namespace sim {

// Operations whose platform result can be injected with "fail=".
enum class SimOp {
    Bind,
    Caps,
    SetFormat,
    Connect,
    Run,
    Stop,
    Grab,
    Preview,
    SourceRect,
    PropertyPages,
    Xu,      // every extension-unit request, finding the unit included
    XuGet,   // GET requests only (the unit is found)
    XuSet,   // SET requests only (the unit is found)
    Stream,  // the streaming thread cannot make its frames (as an allocation
             // failure would): no frame arrives
    Count
};

enum class SimUnit { None, A, B };

// The keywords of "fail=": "run", "busy" (the kind of a failure; "ok" for Ok).
const char* SimOpName(SimOp op);
const char* SimFailureName(PlatformResult result);

constexpr const wchar_t* kDefaultName = L"KIVCAMA";
constexpr const wchar_t* kDefaultPath =
    L"\\\\?\\usb#vid_1a3c&pid_0b21&mi_00#6&1f2e3d4c&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
constexpr std::int32_t kMaxDimension = 8192;
constexpr unsigned kMaxFps = 1000;

struct SimDevice {
    SimDevice();

    std::wstring name = kDefaultName;
    std::wstring path = kDefaultPath;
    std::vector<StreamCapability> caps;  // device order
    bool hasCurrent = true;              // false: "current=none"
    std::int32_t currentWidth = 0;       // defaults to the first capability's size
    std::int32_t currentHeight = 0;
    std::array<PlatformResult, static_cast<std::size_t>(SimOp::Count)> failures;  // Ok: no failure
    std::optional<std::uint64_t> loseAfterFrames;
    SimUnit unit = SimUnit::A;
    std::vector<std::uint8_t> buttons;  // successive status bytes, the last repeating
    unsigned fps = 30;
    bool controls = true;  // the standard controls (DeviceControls.h), or none

    PlatformResult Failure(SimOp op) const { return failures[static_cast<std::size_t>(op)]; }
};

struct SimConfig {
    std::vector<SimDevice> devices;  // enumeration order
};

// Parses a KIVDS_SIM value. On a malformed value returns false, leaves
// config empty and describes the bad field in error.
bool ParseSimConfig(const std::string& text, SimConfig& config, std::string& error);

// KIVDS_SIM as it is now: unset gives one default device; a malformed value
// is reported in one line on standard error and gives no device.
SimConfig LoadSimConfig();

// UTF-8 to a wide string (UTF-16 where wchar_t has 16 bits); invalid bytes
// become U+FFFD.
std::wstring WidenUtf8(const std::string& text);

}  // namespace sim
}  // namespace kiv
