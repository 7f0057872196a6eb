// One simulated camera as a device: what every test camera answers, whatever
// its platform's words. The virtual camera (SimVideoPlatform), the Wine test
// camera (a DirectShow capture filter) and the emulated UVC camera (a V4L2
// node) are adapters over it; each turns its API's requests into these calls
// and the answers into its API's codes.
//
// It holds the description (SimConfig.h) and the state a device keeps:
// - its formats in device order and the current one;
// - its button status script;
// - its extension unit: the controls with their lengths and model A's
//   register protocol (see SimConfig.h for the requests it answers);
// - its camera controls and their rules (DeviceControls.h);
// - whether it was removed, and the faults the description injects.
//
// Extension-unit requests come in two sizes. A UVC driver sends the
// control's whole length (what GET_LEN reports) and refuses anything else;
// kernel streaming, as the cameras' requests are tabled, passes the
// protocol's byte count, which may be less than the control holds (model A's
// status is read as 1 byte of its 2-byte register control). The adapter says
// which rule applies; any other size is refused before the device sees it.
//
// Not thread safe: each adapter keeps it under its own lock. No platform
// header: the adapters speak DirectShow or V4L2, this speaks neither.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kivds/camera/ExtensionUnit.h"
#include "kivds/camera/Guid.h"
#include "kivds/camera/IVideoPlatform.h"
#include "kivds/camera/sim/DeviceControls.h"
#include "kivds/camera/sim/SimConfig.h"

namespace kiv {
namespace sim {

// The answer of the device to one extension-unit request.
enum class XuAnswer {
    Ok,
    NoControl,    // no such unit or selector
    WrongLength,  // the size does not fit the rule; nothing reached the device
    Unsupported,  // the control does not take this direction (model B's SET)
    Stall,        // the device refused it (out of protocol); what was set is dropped
    Gone,         // the device was removed
    Injected,     // a fault of the description (fail=xu / xuget / xuset)
};

enum class XuLength {
    Control,   // the request's size is the control's length (UVC)
    Protocol,  // the request's size is the cameras' byte count for it (kernel streaming)
};

class VirtualDevice {
public:
    explicit VirtualDevice(SimDevice description);

    const SimDevice& Description() const { return m_description; }
    PlatformResult Failure(SimOp op) const { return m_description.Failure(op); }

    // -- formats -------------------------------------------------------------
    const std::vector<StreamCapability>& Caps() const { return m_description.caps; }
    bool HasCurrent() const { return m_hasCurrent; }
    const Guid& Subtype() const { return m_subtype; }
    std::int32_t Width() const { return m_width; }
    std::int32_t Height() const { return m_height; }
    // Sets the first capability of that subtype and size; false when none
    // matches (nothing changes).
    bool SetFormat(const Guid& subtype, std::int32_t width, std::int32_t height);
    // Sets the format a driver settled on when it adjusted a request (V4L2
    // S_FMT), capability or not.
    void SetCurrent(const Guid& subtype, std::int32_t width, std::int32_t height);
    // The size the device streams: the current one, else the first
    // capability's, else 640 x 480.
    void StreamSize(std::int32_t& width, std::int32_t& height) const;

    // -- removal ---------------------------------------------------------------
    bool Lost() const { return m_lost; }
    void Lose() { m_lost = true; }
    // The description removes the device once it has sent this many frames.
    bool LosesAfter(std::uint64_t frames) const {
        return m_description.loseAfterFrames && frames >= *m_description.loseAfterFrames;
    }

    // -- the camera controls ---------------------------------------------------
    DeviceControls& Controls() { return m_cameraControls; }
    const DeviceControls& Controls() const { return m_cameraControls; }

    // -- the extension unit ----------------------------------------------------
    SimUnit Unit() const { return m_description.unit; }
    // The device carries that unit and is still attached.
    bool HasUnit(const Guid& unit) const;
    // The control's length (UVC GET_LEN) and whether it takes GET and SET
    // (UVC GET_INFO); false for no such control.
    bool DescribeControl(const Guid& unit, std::uint32_t selector, std::size_t& length, bool& get, bool& set) const;
    // The control's default bytes (UVC GET_DEF), `length` of them under the control rule.
    XuAnswer Default(const Guid& unit, std::uint32_t selector, std::uint8_t* data, std::size_t length) const;
    XuAnswer Get(const Guid& unit, std::uint32_t selector, std::uint8_t* data, std::size_t length, XuLength rule);
    XuAnswer Set(const Guid& unit, std::uint32_t selector, const std::uint8_t* data, std::size_t length, XuLength rule);
    // Gives a control a length and bytes of its own (current and default),
    // as another firmware would; a new selector takes GET and SET.
    void ReshapeControl(std::uint32_t selector, const std::uint8_t* bytes, std::size_t length);
    // Replaces the status script (the last byte repeats; empty: the buttons rest).
    void ScriptButtons(const std::vector<std::uint8_t>& bytes);
    // Status bytes the device has answered so far.
    std::size_t ButtonReads() const { return m_buttonReads; }

private:
    struct Control {
        std::uint32_t selector = 0;
        bool get = false, set = false;
        std::size_t getBytes = 0, setBytes = 0;  // the cameras' byte counts (0: not used)
        bool status = false;                     // reads answer the status script in byte 0
        std::vector<std::uint8_t> current;       // its length is the control's
        std::vector<std::uint8_t> defaults;
    };
    Control* Find(const Guid& unit, std::uint32_t selector);
    const Control* Find(const Guid& unit, std::uint32_t selector) const;
    // The control a request may reach; null with the refusal otherwise.
    Control* Admit(const Guid& unit, std::uint32_t selector, XuDirection direction, bool hasData, std::size_t length,
                   XuLength rule, XuAnswer& refused);
    static bool Fits(std::size_t size, std::size_t protocolBytes, const Control& control, XuLength rule);
    std::uint8_t NextStatus();
    XuAnswer Refuse();  // a stall drops model A's mode and selection

    SimDevice m_description;
    bool m_hasCurrent = true;
    Guid m_subtype;
    std::int32_t m_width = 0, m_height = 0;
    bool m_lost = false;
    DeviceControls m_cameraControls;
    std::vector<Control> m_controls;
    std::vector<std::uint8_t> m_script;
    std::size_t m_scriptAt = 0;  // the next script byte
    std::size_t m_buttonReads = 0;
    // Model A: SET 1 (0x02) enables register access, SET 2 (0x84, 0x01)
    // selects the button register, GET 2 reads it and consumes both.
    bool m_registerMode = false;
    bool m_registerSelected = false;
};

}  // namespace sim
}  // namespace kiv
