// The options of an open camera: one table of rows (kivsane/Options.cpp)
// and the one engine that answers sane_get_option_descriptor and
// sane_control_option over it. A row says what the option is (name, type,
// unit, capabilities), which constraint it has and what a change of it
// reloads; the engine checks the action, constrains the value (INEXACT when
// it had to), stores it and recomputes the constraints that depend on it.
//
// Values are SANE words (string options store the index of their string).
// Constraint lists and descriptors stay valid until the next change that
// reports SANE_INFO_RELOAD_OPTIONS. Not thread-safe: the frontend's calls on
// one handle.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <sane/sane.h>

#include "kivds/camera/CameraRecords.h"
#include "kivsane/Geometry.h"

namespace kiv {
namespace sane {

// What an option's value sets.
enum class Field {
    Count,
    Group,
    Mode,
    Resolution,
    Preview,
    TlX,
    TlY,
    BrX,
    BrY,
    FrameFormat,
    Zoom,
    SettleTime,
    KeepStreaming,
    ZoomInButton,
    ZoomOutButton,
};

enum class Limit { None, Range, WordList, StringList };

struct OptionRow {
    const char* name;
    const char* title;
    const char* desc;
    SANE_Value_Type type;
    SANE_Unit unit;
    SANE_Int cap;
    Limit limit;
    SANE_Int effect;  // SANE_INFO_RELOAD_* a change gives
    Field field;
};

// What the camera has, as the options need it.
struct CameraOffer {
    std::vector<int> formatTypes;                 // UVCFMT_* in the camera's order, not empty
    std::vector<std::vector<CResolution>> sizes;  // per type, ascending width, not empty
    CUVCMediaFormat defaultFormat;                // the format the camera opened with
    bool hasButtons = false;                      // models A and B
};

// The scan the options describe.
struct ScanRequest {
    int formatType = UVCFMT_MJPEG;
    CResolution frame;  // the frame size streamed
    double zoom = 1.0;
    SourceRect crop;  // in pixels of the frame
    bool gray = false;
    int settleMs = 0;
    int keepSeconds = 0;
};

class OptionSet {
public:
    using ButtonReader = std::function<bool(CameraButtonState&)>;

    OptionSet(CameraOffer offer, double fieldOfViewMm, ButtonReader readButtons);

    SANE_Int Count() const { return static_cast<SANE_Int>(m_rows.size()); }
    // Null outside 0 .. Count() - 1.
    const SANE_Option_Descriptor* Descriptor(SANE_Int option) const;
    SANE_Status Control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info);

    ScanRequest Request() const;

private:
    SANE_Status Get(std::size_t option, void* value);
    SANE_Status Set(std::size_t option, void* value, SANE_Int& info);
    SANE_Status SetAuto(std::size_t option, SANE_Int& info);
    // The constrained value; INEXACT in info when it differs.
    SANE_Status Constrain(std::size_t option, SANE_Word& word, SANE_Int& info) const;
    // After a change: the size list, the resolutions, the surface's ranges.
    void Refresh();
    void BuildDescriptors();
    std::size_t Find(Field field) const;
    SANE_Word& Value(Field field) { return m_values[Find(field)]; }
    SANE_Word ValueOf(Field field) const { return m_values[Find(field)]; }
    const std::vector<CResolution>& Sizes() const;
    Surface CurrentSurface() const;
    SANE_Word DefaultValue(Field field) const;

    CameraOffer m_offer;
    double m_fieldOfViewMm;
    ButtonReader m_readButtons;
    std::vector<OptionRow> m_rows;
    std::vector<SANE_Word> m_values;
    std::size_t m_sizeIndex = 0;  // the chosen frame size in Sizes()
    // Constraint storage per option (only the kind its row names is used).
    std::vector<SANE_Range> m_ranges;
    std::vector<std::vector<SANE_Word>> m_wordLists;            // element 0 the count
    std::vector<std::vector<SANE_String_Const>> m_stringLists;  // null-terminated
    std::vector<SANE_Option_Descriptor> m_descriptors;
};

// The frame-format names ("MJPEG", "YUY2") of a format type.
const char* FormatName(int type);

}  // namespace sane
}  // namespace kiv
