// The camera's own controls (focus, exposure, white balance, ...) as its
// driver offers them: a list of controls with their kinds, ranges, values and
// flags, and the operations a settings window, a SANE front end or a command
// line needs (list, set, reset to defaults, follow what the camera changes
// itself). No dialog, TWAIN or platform type: any client may use it.
//
// A backend (V4L2, the virtual camera) implements CameraControlsBase, which
// decides once what a request may do (the control exists, is writable and
// active; the value is clamped and stepped as a V4L2 driver adjusts it) and
// reports what changed to one listener.
//
// Threads: every operation may be called from any thread; calls are
// serialised inside. The listener is called on the calling thread of the
// operation that saw the change, or on a backend's thread that watches the
// device's events, without the model's lock (it may call in again); once
// SetListener returns, the listener it replaced is not running nor called.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kiv {

enum class CameraControlKind {
    Range,        // an integer from minimum to maximum in steps
    Boolean,      // 0 or 1
    Menu,         // an index into named entries (the driver may leave holes)
    IntegerMenu,  // an index into entries that are numbers
    Button,       // an action: any write triggers it, nothing to read
};

struct ControlMenuEntry {
    std::int64_t index = 0;  // the control's value that selects the entry
    std::string name;        // the driver's text; an integer menu's number as text
};

struct CameraControl {
    std::uint32_t id = 0;  // the driver's id of the control
    std::string name;      // the driver's name ("Focus, Absolute")
    CameraControlKind kind = CameraControlKind::Range;
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
    std::int64_t step = 1;
    std::int64_t defaultValue = 0;
    std::int64_t value = 0;              // the current value (0 for a button)
    std::vector<ControlMenuEntry> menu;  // the entries the driver lists, by index
    bool readOnly = false;               // the camera reports it, nobody sets it
    bool inactive = false;               // an automatic mode owns it for now
    bool isVolatile = false;             // the camera changes it by itself
    std::string group;                   // as the driver groups them ("Camera Controls")

    bool Writable() const { return !readOnly && !inactive; }
    bool operator==(const CameraControl& other) const;
    bool operator!=(const CameraControl& other) const { return !(*this == other); }
};

enum class ControlStatus {
    Ok,
    NoSuchControl,
    ReadOnly,
    Inactive,
    InvalidValue,  // not a value of the control (a menu index it does not list)
    Busy,          // the driver refused it for now (EBUSY: streaming)
    Refused,       // the driver refused it otherwise (EINVAL, ERANGE, EACCES, ...)
    Gone,          // the camera is gone
};

// The outcome of a request: the value the control has now, and a message
// naming the control and the reason when it failed.
struct ControlOutcome {
    ControlStatus status = ControlStatus::Ok;
    std::int64_t value = 0;
    std::string message;
    bool Ok() const { return status == ControlStatus::Ok; }
};

// The value a driver makes of `requested`: a range is clamped and rounded to
// the nearest step from its minimum (within the range), a boolean is 0 or 1,
// a menu index is clamped and must be one of its entries (nothing when it is
// not), a button takes anything.
std::optional<std::int64_t> AdjustControlValue(const CameraControl& control, std::int64_t requested);

// The control named `name` (ASCII case ignored, surrounding spaces too); null when none is.
const CameraControl* FindControl(const std::vector<CameraControl>& controls, const std::string& name);

// A value as a user writes it: a decimal number, for booleans also
// on/off/true/false/yes/no, for menus an entry's name (case ignored) or its
// index. Nothing when the text is none of these.
std::optional<std::int64_t> ParseControlValue(const CameraControl& control, const std::string& text);

// The value as a user reads it: a menu entry's name, "on"/"off", a number.
std::string FormatControlValue(const CameraControl& control, std::int64_t value);

// One line about the control: name, kind, range or entries, default, value, flags.
std::string DescribeControl(const CameraControl& control);

class ICameraControls;
// Sets the control called `name` to the value `text` (FindControl,
// ParseControlValue, then Set): how a script, a command line or a front end
// that knows controls by name sets one. The outcome names the control (or
// the name) and the reason when it fails.
ControlOutcome SetControlByName(ICameraControls& controls, const std::string& name, const std::string& text);

// "NAME=VALUE" assignments as a command line or KIVDS_CONTROLS writes them,
// separated by ';' (the value follows the last '='); false with the bad
// one in `error` when one has no '=' or no name.
using ControlAssignments = std::vector<std::pair<std::string, std::string>>;
bool ParseControlAssignments(const std::string& text, ControlAssignments& out, std::string& error);
// One assignment "NAME=VALUE"; false when it is not one.
bool ParseControlAssignment(const std::string& text, std::pair<std::string, std::string>& out);

// The reason in words ("inactive: an automatic mode owns it").
const char* ControlStatusText(ControlStatus status);

class ICameraControls {
public:
    virtual ~ICameraControls() = default;

    // The controls in the driver's order, as they are now.
    virtual std::vector<CameraControl> List() = 0;
    // Sets control `id` to `value`, adjusted as AdjustControlValue says;
    // refused for a read-only or inactive control, a value the control does
    // not have, or by the driver (the outcome names the control and why).
    virtual ControlOutcome Set(std::uint32_t id, std::int64_t value) = 0;
    // Every writable control back to its default (read-only, inactive and
    // button controls are left alone); the first failure is reported, the
    // other controls are reset all the same.
    virtual ControlOutcome ResetToDefaults() = 0;
    // Takes in what the camera changed by itself (its control events, the
    // values of volatile controls); the listener hears of each changed
    // control. True when anything changed.
    virtual bool Refresh() = 0;
    // Called with each control whose value or flags changed, by a request
    // or by the camera. Empty: nobody listens.
    using Listener = std::function<void(const CameraControl& control)>;
    virtual void SetListener(Listener listener) = 0;

protected:
    ICameraControls() = default;
    ICameraControls(const ICameraControls&) = default;
    ICameraControls& operator=(const ICameraControls&) = default;
};

// The decisions of every backend, over what it reads and writes.
class CameraControlsBase : public ICameraControls {
public:
    std::vector<CameraControl> List() override;
    ControlOutcome Set(std::uint32_t id, std::int64_t value) override;
    ControlOutcome ResetToDefaults() override;
    bool Refresh() override;
    void SetListener(Listener listener) override;

protected:
    // What the device says of a write that it refused.
    struct WriteResult {
        ControlStatus status = ControlStatus::Ok;
        std::string reason;  // the driver's words (an errno's name), may be empty
    };
    // Every control with its value and flags, in the driver's order; an
    // empty list when the device cannot be read. Called under the lock.
    virtual std::vector<CameraControl> ReadControls() = 0;
    // Writes an adjusted value of a writable control. Called under the lock.
    virtual WriteResult WriteControl(const CameraControl& control, std::int64_t value) = 0;
    // True when the device reported changes since the last call (events).
    // Called under the lock.
    virtual bool TakeDeviceChanges() = 0;

private:
    using Changes = std::vector<CameraControl>;
    // Reads the controls anew; the ones that differ from before go to `changes`.
    void Reread(Changes& changes);
    ControlOutcome SetLocked(std::uint32_t id, std::int64_t value, Changes& changes);
    void Notify(const Changes& changes);

    std::mutex m_mutex;
    // Held while the listener runs (it may call in again), so that
    // SetListener can wait for it.
    std::recursive_mutex m_notifyMutex;
    bool m_read = false;
    std::vector<CameraControl> m_controls;
    Listener m_listener;
};

}  // namespace kiv
