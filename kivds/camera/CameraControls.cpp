#include "kivds/camera/CameraControls.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "kivds/platform/AsciiCase.h"

namespace kiv {
namespace {

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::optional<std::int64_t> ParseInteger(const std::string& text) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || !end || *end != '\0' || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
    return static_cast<std::int64_t>(value);
}

const ControlMenuEntry* MenuEntry(const CameraControl& control, std::int64_t index) {
    for (const ControlMenuEntry& entry : control.menu) {
        if (entry.index == index) return &entry;
    }
    return nullptr;
}

const char* KindName(CameraControlKind kind) {
    switch (kind) {
        case CameraControlKind::Range: return "range";
        case CameraControlKind::Boolean: return "boolean";
        case CameraControlKind::Menu: return "menu";
        case CameraControlKind::IntegerMenu: return "integer menu";
        case CameraControlKind::Button: return "button";
    }
    return "range";
}

}  // namespace

bool CameraControl::operator==(const CameraControl& o) const {
    if (id != o.id || name != o.name || kind != o.kind || minimum != o.minimum || maximum != o.maximum ||
        step != o.step || defaultValue != o.defaultValue || value != o.value || readOnly != o.readOnly ||
        inactive != o.inactive || isVolatile != o.isVolatile || group != o.group || menu.size() != o.menu.size())
        return false;
    for (std::size_t i = 0; i < menu.size(); ++i) {
        if (menu[i].index != o.menu[i].index || menu[i].name != o.menu[i].name) return false;
    }
    return true;
}

std::optional<std::int64_t> AdjustControlValue(const CameraControl& control, std::int64_t requested) {
    switch (control.kind) {
        case CameraControlKind::Button: return requested;
        case CameraControlKind::Boolean: return requested != 0 ? 1 : 0;
        case CameraControlKind::Menu:
        case CameraControlKind::IntegerMenu: {
            const std::int64_t index = std::clamp(requested, control.minimum, control.maximum);
            if (!MenuEntry(control, index)) return std::nullopt;
            return index;
        }
        case CameraControlKind::Range: break;
    }
    if (control.maximum < control.minimum) return std::nullopt;
    const std::int64_t step = control.step > 0 ? control.step : 1;
    const std::int64_t clamped = std::clamp(requested, control.minimum, control.maximum);
    // The nearest step from the minimum, halves rounding up; a step past the
    // maximum falls back to the one below.
    std::int64_t offset = (clamped - control.minimum + step / 2) / step * step;
    if (control.minimum + offset > control.maximum) offset -= step;
    return control.minimum + offset;
}

const CameraControl* FindControl(const std::vector<CameraControl>& controls, const std::string& name) {
    const std::string wanted = Trimmed(name);
    for (const CameraControl& control : controls) {
        if (EqualsIgnoringAsciiCase(control.name, wanted)) return &control;
    }
    return nullptr;
}

std::optional<std::int64_t> ParseControlValue(const CameraControl& control, const std::string& text) {
    const std::string value = Trimmed(text);
    if (control.kind == CameraControlKind::Boolean) {
        for (const char* on : {"on", "true", "yes"}) {
            if (EqualsIgnoringAsciiCase(value, on)) return 1;
        }
        for (const char* off : {"off", "false", "no"}) {
            if (EqualsIgnoringAsciiCase(value, off)) return 0;
        }
    }
    if (control.kind == CameraControlKind::Menu || control.kind == CameraControlKind::IntegerMenu) {
        for (const ControlMenuEntry& entry : control.menu) {
            if (EqualsIgnoringAsciiCase(entry.name, value)) return entry.index;
        }
    }
    return ParseInteger(value);
}

std::string FormatControlValue(const CameraControl& control, std::int64_t value) {
    if (control.kind == CameraControlKind::Boolean) return value ? "on" : "off";
    if (control.kind == CameraControlKind::Menu || control.kind == CameraControlKind::IntegerMenu) {
        if (const ControlMenuEntry* entry = MenuEntry(control, value)) return entry->name;
    }
    return std::to_string(value);
}

std::string DescribeControl(const CameraControl& c) {
    std::string line = c.name + " [" + KindName(c.kind) + "]";
    if (c.kind == CameraControlKind::Range) {
        line += " " + std::to_string(c.minimum) + ".." + std::to_string(c.maximum) + " step " + std::to_string(c.step);
    } else if (c.kind == CameraControlKind::Menu || c.kind == CameraControlKind::IntegerMenu) {
        line += " {";
        for (std::size_t i = 0; i < c.menu.size(); ++i) {
            line += (i ? ", " : "") + std::to_string(c.menu[i].index) + ": " + c.menu[i].name;
        }
        line += "}";
    }
    if (c.kind != CameraControlKind::Button) {
        line += " default " + FormatControlValue(c, c.defaultValue) + " value " + FormatControlValue(c, c.value);
    }
    if (c.readOnly) line += " read-only";
    if (c.inactive) line += " inactive";
    if (c.isVolatile) line += " volatile";
    return line;
}

const char* ControlStatusText(ControlStatus status) {
    switch (status) {
        case ControlStatus::Ok: return "ok";
        case ControlStatus::NoSuchControl: return "no such control";
        case ControlStatus::ReadOnly: return "read-only";
        case ControlStatus::Inactive: return "inactive: an automatic mode owns it";
        case ControlStatus::InvalidValue: return "not a value of this control";
        case ControlStatus::Busy: return "the camera is busy";
        case ControlStatus::Refused: return "the camera refused it";
        case ControlStatus::Gone: return "the camera is gone";
    }
    return "failed";
}

ControlOutcome SetControlByName(ICameraControls& controls, const std::string& name, const std::string& text) {
    const std::vector<CameraControl> all = controls.List();
    const CameraControl* control = FindControl(all, name);
    ControlOutcome out;
    if (!control) {
        out.status = ControlStatus::NoSuchControl;
        out.message = Trimmed(name) + ": " + ControlStatusText(out.status);
        return out;
    }
    const std::optional<std::int64_t> value = ParseControlValue(*control, text);
    if (!value) {
        out.status = ControlStatus::InvalidValue;
        out.value = control->value;
        out.message = control->name + ": " + ControlStatusText(out.status) + " (" + Trimmed(text) + ")";
        return out;
    }
    return controls.Set(control->id, *value);
}

bool ParseControlAssignment(const std::string& text, std::pair<std::string, std::string>& out) {
    const std::size_t eq = text.rfind('=');
    if (eq == std::string::npos || Trimmed(text.substr(0, eq)).empty()) return false;
    out = {Trimmed(text.substr(0, eq)), Trimmed(text.substr(eq + 1))};
    return true;
}

bool ParseControlAssignments(const std::string& text, ControlAssignments& out, std::string& error) {
    out.clear();
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(start, end - start);
        start = end + 1;
        if (Trimmed(part).empty()) continue;
        std::pair<std::string, std::string> assignment;
        if (!ParseControlAssignment(part, assignment)) {
            error = "not NAME=VALUE: '" + part + "'";
            return false;
        }
        out.push_back(std::move(assignment));
    }
    return true;
}

// -- the decisions of every backend --------------------------------------------------

std::vector<CameraControl> CameraControlsBase::List() {
    Changes changes;
    std::vector<CameraControl> controls;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_read || TakeDeviceChanges()) Reread(changes);
        controls = m_controls;
    }
    Notify(changes);
    return controls;
}

void CameraControlsBase::Reread(Changes& changes) {
    std::vector<CameraControl> now = ReadControls();
    if (m_read) {
        for (const CameraControl& control : now) {
            auto before = std::find_if(m_controls.begin(), m_controls.end(),
                                       [&](const CameraControl& c) { return c.id == control.id; });
            if (before == m_controls.end() || *before != control) changes.push_back(control);
        }
    }
    m_controls = std::move(now);
    m_read = true;
}

ControlOutcome CameraControlsBase::SetLocked(std::uint32_t id, std::int64_t value, Changes& changes) {
    if (!m_read) Reread(changes);
    auto it = std::find_if(m_controls.begin(), m_controls.end(), [id](const CameraControl& c) { return c.id == id; });
    ControlOutcome out;
    if (it == m_controls.end()) {
        out.status = ControlStatus::NoSuchControl;
        out.message = "control " + std::to_string(id) + ": " + ControlStatusText(out.status);
        return out;
    }
    const CameraControl control = *it;
    out.value = control.value;
    const std::optional<std::int64_t> adjusted = AdjustControlValue(control, value);
    if (control.readOnly) out.status = ControlStatus::ReadOnly;
    else if (control.inactive) out.status = ControlStatus::Inactive;
    else if (!adjusted) out.status = ControlStatus::InvalidValue;
    if (out.status == ControlStatus::Ok) {
        const WriteResult written = WriteControl(control, *adjusted);
        out.status = written.status;
        // What the write changed, here and in the controls that depend on it.
        Reread(changes);
        auto now = std::find_if(m_controls.begin(), m_controls.end(),
                                [id](const CameraControl& c) { return c.id == id; });
        out.value = now != m_controls.end() ? now->value : *adjusted;
        if (!out.Ok()) {
            out.message = control.name + ": " + ControlStatusText(out.status) +
                          (written.reason.empty() ? "" : " (" + written.reason + ")");
        }
        return out;
    }
    out.message = control.name + ": " + ControlStatusText(out.status);
    if (out.status == ControlStatus::InvalidValue) out.message += " (" + std::to_string(value) + ")";
    return out;
}

ControlOutcome CameraControlsBase::Set(std::uint32_t id, std::int64_t value) {
    Changes changes;
    ControlOutcome out;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        out = SetLocked(id, value, changes);
    }
    Notify(changes);
    return out;
}

ControlOutcome CameraControlsBase::ResetToDefaults() {
    Changes changes;
    ControlOutcome first;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_read) Reread(changes);
        // In the driver's order, reading the flags anew after each write: a
        // control that an earlier reset made active gets its default too,
        // one that an automatic mode took over is left alone.
        std::vector<std::uint32_t> ids;
        for (const CameraControl& control : m_controls) ids.push_back(control.id);
        for (std::uint32_t id : ids) {
            auto it = std::find_if(m_controls.begin(), m_controls.end(),
                                   [id](const CameraControl& c) { return c.id == id; });
            if (it == m_controls.end() || !it->Writable() || it->kind == CameraControlKind::Button ||
                it->value == it->defaultValue)
                continue;
            const ControlOutcome out = SetLocked(id, it->defaultValue, changes);
            if (!out.Ok() && first.Ok()) first = out;
        }
    }
    Notify(changes);
    return first;
}

bool CameraControlsBase::Refresh() {
    Changes changes;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        bool volatileOnes = false;
        for (const CameraControl& control : m_controls) volatileOnes = volatileOnes || control.isVolatile;
        if (TakeDeviceChanges() || volatileOnes || !m_read) Reread(changes);
    }
    Notify(changes);
    return !changes.empty();
}

void CameraControlsBase::SetListener(Listener listener) {
    // Waits for a notification running on another thread: the old listener
    // is not called any more once this returns.
    std::lock_guard<std::recursive_mutex> notifying(m_notifyMutex);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::swap(m_listener, listener);
    }
}

void CameraControlsBase::Notify(const Changes& changes) {
    if (changes.empty()) return;
    std::lock_guard<std::recursive_mutex> notifying(m_notifyMutex);
    Listener listener;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        listener = m_listener;
    }
    if (!listener) return;
    for (const CameraControl& control : changes) listener(control);
}

}  // namespace kiv
