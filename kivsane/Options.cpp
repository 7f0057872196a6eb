#include "kivsane/Options.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

#include <sane/saneopts.h>

#include "kivds/camera/DigitalZoom.h"
#include "kivds/platform/AsciiCase.h"

namespace kiv {
namespace sane {
namespace {

constexpr SANE_Int kSoft = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
constexpr SANE_Int kAdvanced = kSoft | SANE_CAP_ADVANCED;
constexpr SANE_Int kSensor = SANE_CAP_SOFT_DETECT | SANE_CAP_HARD_SELECT | SANE_CAP_ADVANCED;
constexpr SANE_Int kParams = SANE_INFO_RELOAD_PARAMS;
constexpr SANE_Int kAll = SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;

// The options in the order frontends show them. Rows for the camera's own
// controls (brightness, contrast, focus, ...) join as a group of their own
// before the sensors.
const OptionRow kRows[] = {
    {SANE_NAME_NUM_OPTIONS, SANE_TITLE_NUM_OPTIONS, SANE_DESC_NUM_OPTIONS, SANE_TYPE_INT, SANE_UNIT_NONE,
     SANE_CAP_SOFT_DETECT, Limit::None, 0, Field::Count},
    {"", SANE_TITLE_SCAN_MODE, "", SANE_TYPE_GROUP, SANE_UNIT_NONE, 0, Limit::None, 0, Field::Group},
    {SANE_NAME_SCAN_MODE, SANE_TITLE_SCAN_MODE, SANE_DESC_SCAN_MODE, SANE_TYPE_STRING, SANE_UNIT_NONE, kSoft,
     Limit::StringList, kParams, Field::Mode},
    {SANE_NAME_SCAN_RESOLUTION, SANE_TITLE_SCAN_RESOLUTION,
     "Nominal resolution over the field of view; each value is one frame size of the camera.", SANE_TYPE_INT,
     SANE_UNIT_DPI, kSoft, Limit::WordList, kAll, Field::Resolution},
    {SANE_NAME_PREVIEW, SANE_TITLE_PREVIEW, SANE_DESC_PREVIEW, SANE_TYPE_BOOL, SANE_UNIT_NONE, kSoft, Limit::None,
     kParams, Field::Preview},
    {"", "Geometry", "", SANE_TYPE_GROUP, SANE_UNIT_NONE, 0, Limit::None, 0, Field::Group},
    {SANE_NAME_SCAN_TL_X, SANE_TITLE_SCAN_TL_X, SANE_DESC_SCAN_TL_X, SANE_TYPE_FIXED, SANE_UNIT_MM, kSoft, Limit::Range,
     kParams, Field::TlX},
    {SANE_NAME_SCAN_TL_Y, SANE_TITLE_SCAN_TL_Y, SANE_DESC_SCAN_TL_Y, SANE_TYPE_FIXED, SANE_UNIT_MM, kSoft, Limit::Range,
     kParams, Field::TlY},
    {SANE_NAME_SCAN_BR_X, SANE_TITLE_SCAN_BR_X, SANE_DESC_SCAN_BR_X, SANE_TYPE_FIXED, SANE_UNIT_MM, kSoft, Limit::Range,
     kParams, Field::BrX},
    {SANE_NAME_SCAN_BR_Y, SANE_TITLE_SCAN_BR_Y, SANE_DESC_SCAN_BR_Y, SANE_TYPE_FIXED, SANE_UNIT_MM, kSoft, Limit::Range,
     kParams, Field::BrY},
    {"", "Advanced", "", SANE_TYPE_GROUP, SANE_UNIT_NONE, SANE_CAP_ADVANCED, Limit::None, 0, Field::Group},
    {"frame-format", "Frame format", "The encoding the camera streams.", SANE_TYPE_STRING, SANE_UNIT_NONE, kAdvanced,
     Limit::StringList, kAll, Field::FrameFormat},
    {"zoom", "Digital zoom", "Digital zoom of the still; the scan surface shrinks by it.", SANE_TYPE_FIXED,
     SANE_UNIT_NONE, kAdvanced, Limit::Range, kAll, Field::Zoom},
    {"settle-time", "Settle time (ms)", "Milliseconds of streaming before the still, for the exposure.", SANE_TYPE_INT,
     SANE_UNIT_NONE, kAdvanced, Limit::Range, 0, Field::SettleTime},
    {"keep-streaming", "Keep streaming (s)", "Seconds the camera stays on after a scan, so the next one is quick.",
     SANE_TYPE_INT, SANE_UNIT_NONE, kAdvanced, Limit::Range, 0, Field::KeepStreaming},
    {"", "Sensors", "", SANE_TYPE_GROUP, SANE_UNIT_NONE, SANE_CAP_ADVANCED, Limit::None, 0, Field::Group},
    {"zoom-in", "Zoom in button", "The camera's zoom-in button is pressed.", SANE_TYPE_BOOL, SANE_UNIT_NONE, kSensor,
     Limit::None, 0, Field::ZoomInButton},
    {"zoom-out", "Zoom out button", "The camera's zoom-out button is pressed.", SANE_TYPE_BOOL, SANE_UNIT_NONE, kSensor,
     Limit::None, 0, Field::ZoomOutButton},
};

const SANE_String_Const kModes[] = {SANE_VALUE_SCAN_MODE_COLOR, SANE_VALUE_SCAN_MODE_GRAY};

constexpr SANE_Range kZoomRange{SANE_FIX(kMinZoom), SANE_FIX(kMaxZoom), SANE_FIX(kZoomStep)};
constexpr SANE_Range kSettleRange{0, 10000, 1};
constexpr SANE_Range kKeepRange{0, 3600, 1};
constexpr SANE_Word kDefaultSettleMs = 500;
constexpr SANE_Word kDefaultKeepSeconds = 10;

bool IsWord(SANE_Value_Type type) { return type == SANE_TYPE_BOOL || type == SANE_TYPE_INT || type == SANE_TYPE_FIXED; }

bool IsBottomRight(Field field) { return field == Field::BrX || field == Field::BrY; }

}  // namespace

const char* FormatName(int type) { return type == UVCFMT_YUY2 ? "YUY2" : "MJPEG"; }

OptionSet::OptionSet(CameraOffer offer, double fieldOfViewMm, ButtonReader readButtons)
    : m_offer(std::move(offer)),
      m_fieldOfViewMm(fieldOfViewMm),
      m_readButtons(std::move(readButtons)),
      m_rows(std::begin(kRows), std::end(kRows)) {
    const std::size_t n = m_rows.size();
    m_values.assign(n, 0);
    m_ranges.assign(n, SANE_Range{0, 0, 0});
    m_wordLists.assign(n, {});
    m_stringLists.assign(n, {});
    for (std::size_t i = 0; i < n; ++i) m_values[i] = DefaultValue(m_rows[i].field);
    m_stringLists[Find(Field::Mode)] = {kModes[0], kModes[1], nullptr};
    auto& formats = m_stringLists[Find(Field::FrameFormat)];
    for (int type : m_offer.formatTypes) formats.push_back(FormatName(type));
    formats.push_back(nullptr);
    m_ranges[Find(Field::Zoom)] = kZoomRange;
    m_ranges[Find(Field::SettleTime)] = kSettleRange;
    m_ranges[Find(Field::KeepStreaming)] = kKeepRange;
    const std::vector<CResolution>& sizes = Sizes();
    m_sizeIndex = sizes.size() - 1;
    for (std::size_t i = 0; i < sizes.size(); ++i)
        if (sizes[i].SameSize(m_offer.defaultFormat.resolution)) m_sizeIndex = i;
    Refresh();
}

SANE_Word OptionSet::DefaultValue(Field field) const {
    switch (field) {
        case Field::Count: return static_cast<SANE_Word>(m_rows.size());
        case Field::Zoom: return SANE_FIX(1.0);
        case Field::SettleTime: return kDefaultSettleMs;
        case Field::KeepStreaming: return kDefaultKeepSeconds;
        case Field::FrameFormat: {
            const auto& types = m_offer.formatTypes;
            const auto it = std::find(types.begin(), types.end(), m_offer.defaultFormat.type);
            return it == types.end() ? 0 : static_cast<SANE_Word>(it - types.begin());
        }
        default: return 0;
    }
}

std::size_t OptionSet::Find(Field field) const {
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].field == field) return i;
    std::abort();  // every field the engine names has its row
}

const std::vector<CResolution>& OptionSet::Sizes() const {
    return m_offer.sizes[static_cast<std::size_t>(ValueOf(Field::FrameFormat))];
}

Surface OptionSet::CurrentSurface() const {
    return ScanSurface(m_fieldOfViewMm, SANE_UNFIX(ValueOf(Field::Zoom)), Sizes()[m_sizeIndex]);
}

void OptionSet::Refresh() {
    const Surface surface = CurrentSurface();
    // One resolution a frame size; sizes of the same width share the first's.
    const std::vector<CResolution>& sizes = Sizes();
    std::vector<SANE_Word>& dpis = m_wordLists[Find(Field::Resolution)];
    dpis.assign(1, 0);
    SANE_Word chosen = 0;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const SANE_Word dpi = NominalDpi(sizes[i].width, surface.widthMm);
        if (std::find(dpis.begin() + 1, dpis.end(), dpi) == dpis.end()) dpis.push_back(dpi);
        if (i == m_sizeIndex) chosen = dpi;
    }
    dpis[0] = static_cast<SANE_Word>(dpis.size() - 1);
    Value(Field::Resolution) = chosen;

    for (Field field : {Field::TlX, Field::TlY, Field::BrX, Field::BrY}) {
        const std::size_t i = Find(field);
        const bool across = field == Field::TlX || field == Field::BrX;
        const SANE_Word max = SANE_FIX(across ? surface.widthMm : surface.heightMm);
        // A bottom-right edge at the end of the surface stays at its end.
        if (IsBottomRight(field) && m_values[i] >= m_ranges[i].max) m_values[i] = max;
        m_values[i] = std::clamp(m_values[i], 0, max);
        m_ranges[i] = SANE_Range{0, max, 0};
    }
    BuildDescriptors();
}

void OptionSet::BuildDescriptors() {
    m_descriptors.assign(m_rows.size(), SANE_Option_Descriptor{});
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const OptionRow& row = m_rows[i];
        SANE_Option_Descriptor& d = m_descriptors[i];
        d.name = row.name;
        d.title = row.title;
        d.desc = row.desc;
        d.type = row.type;
        d.unit = row.unit;
        d.cap = row.cap;
        d.size = IsWord(row.type) ? static_cast<SANE_Int>(sizeof(SANE_Word)) : 0;
        const bool sensor = row.field == Field::ZoomInButton || row.field == Field::ZoomOutButton;
        if (sensor && !m_offer.hasButtons) d.cap |= SANE_CAP_INACTIVE;
        switch (row.limit) {
            case Limit::None: d.constraint_type = SANE_CONSTRAINT_NONE; break;
            case Limit::Range:
                d.constraint_type = SANE_CONSTRAINT_RANGE;
                d.constraint.range = &m_ranges[i];
                break;
            case Limit::WordList:
                d.constraint_type = SANE_CONSTRAINT_WORD_LIST;
                d.constraint.word_list = m_wordLists[i].data();
                break;
            case Limit::StringList: {
                d.constraint_type = SANE_CONSTRAINT_STRING_LIST;
                d.constraint.string_list = m_stringLists[i].data();
                std::size_t longest = 0;
                for (SANE_String_Const s : m_stringLists[i])
                    if (s) longest = std::max(longest, std::strlen(s));
                d.size = static_cast<SANE_Int>(longest + 1);
                break;
            }
        }
    }
}

const SANE_Option_Descriptor* OptionSet::Descriptor(SANE_Int option) const {
    if (option < 0 || option >= Count()) return nullptr;
    return &m_descriptors[static_cast<std::size_t>(option)];
}

SANE_Status OptionSet::Control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info) {
    if (info) *info = 0;
    if (option < 0 || option >= Count()) return SANE_STATUS_INVAL;
    const std::size_t i = static_cast<std::size_t>(option);
    const SANE_Option_Descriptor& d = m_descriptors[i];
    if (d.type == SANE_TYPE_GROUP || !SANE_OPTION_IS_ACTIVE(d.cap)) return SANE_STATUS_INVAL;
    SANE_Int flags = 0;
    SANE_Status status = SANE_STATUS_INVAL;
    switch (action) {
        case SANE_ACTION_GET_VALUE:
            if (value) status = Get(i, value);
            break;
        case SANE_ACTION_SET_VALUE:
            if (value && SANE_OPTION_IS_SETTABLE(d.cap)) status = Set(i, value, flags);
            break;
        case SANE_ACTION_SET_AUTO:
            if (d.cap & SANE_CAP_AUTOMATIC) status = SetAuto(i, flags);
            break;
    }
    if (info && status == SANE_STATUS_GOOD) *info = flags;
    return status;
}

SANE_Status OptionSet::Get(std::size_t option, void* value) {
    const OptionRow& row = m_rows[option];
    if (row.type == SANE_TYPE_STRING) {
        const SANE_String_Const s = m_stringLists[option][static_cast<std::size_t>(m_values[option])];
        std::memcpy(value, s, std::strlen(s) + 1);
        return SANE_STATUS_GOOD;
    }
    SANE_Word word = m_values[option];
    if (row.field == Field::ZoomInButton || row.field == Field::ZoomOutButton) {
        CameraButtonState state;
        if (!m_readButtons || !m_readButtons(state)) return SANE_STATUS_IO_ERROR;
        word = (row.field == Field::ZoomInButton ? state.zoomIn : state.zoomOut) ? SANE_TRUE : SANE_FALSE;
    }
    std::memcpy(value, &word, sizeof word);
    return SANE_STATUS_GOOD;
}

SANE_Status OptionSet::Constrain(std::size_t option, SANE_Word& word, SANE_Int& info) const {
    const SANE_Word asked = word;
    const OptionRow& row = m_rows[option];
    if (row.type == SANE_TYPE_BOOL && word != SANE_TRUE && word != SANE_FALSE) return SANE_STATUS_INVAL;
    if (row.limit == Limit::Range) {
        const SANE_Range& r = m_ranges[option];
        word = std::clamp(word, r.min, r.max);
        if (r.quant > 0) {
            const long long steps = std::llround(static_cast<double>(word - r.min) / r.quant);
            word = static_cast<SANE_Word>(std::min<long long>(r.min + steps * r.quant, r.max));
        }
    } else if (row.limit == Limit::WordList) {
        const std::vector<SANE_Word>& list = m_wordLists[option];
        SANE_Word best = list[1];
        for (std::size_t k = 1; k < list.size(); ++k)
            if (std::llabs(static_cast<long long>(list[k]) - asked) < std::llabs(static_cast<long long>(best) - asked))
                best = list[k];
        word = best;
    }
    if (word != asked) info |= SANE_INFO_INEXACT;
    return SANE_STATUS_GOOD;
}

SANE_Status OptionSet::Set(std::size_t option, void* value, SANE_Int& info) {
    const OptionRow& row = m_rows[option];
    SANE_Word word = 0;
    if (row.type == SANE_TYPE_STRING) {
        const char* asked = static_cast<const char*>(value);
        const std::vector<SANE_String_Const>& list = m_stringLists[option];
        std::size_t k = 0;
        while (list[k] && !EqualsIgnoringAsciiCase(std::string_view(list[k]), std::string_view(asked))) ++k;
        if (!list[k]) return SANE_STATUS_INVAL;
        if (std::strcmp(list[k], asked) != 0) {
            std::memcpy(value, list[k], std::strlen(list[k]) + 1);  // the list's spelling
            info |= SANE_INFO_INEXACT;
        }
        word = static_cast<SANE_Word>(k);
    } else {
        std::memcpy(&word, value, sizeof word);
        const SANE_Status status = Constrain(option, word, info);
        if (status != SANE_STATUS_GOOD) return status;
        if (info & SANE_INFO_INEXACT) std::memcpy(value, &word, sizeof word);
    }
    if (word == m_values[option]) return SANE_STATUS_GOOD;

    if (row.field == Field::Resolution) {
        const Surface surface = CurrentSurface();
        const std::vector<CResolution>& sizes = Sizes();
        for (std::size_t k = 0; k < sizes.size(); ++k)
            if (NominalDpi(sizes[k].width, surface.widthMm) == word) {
                m_sizeIndex = k;
                break;
            }
    } else if (row.field == Field::FrameFormat) {
        // The new format's size closest in width to the one chosen now.
        const std::int32_t width = Sizes()[m_sizeIndex].width;
        m_values[option] = word;
        const std::vector<CResolution>& sizes = Sizes();
        m_sizeIndex = 0;
        for (std::size_t k = 1; k < sizes.size(); ++k)
            if (std::abs(sizes[k].width - width) <= std::abs(sizes[m_sizeIndex].width - width)) m_sizeIndex = k;
    }
    m_values[option] = word;
    info |= row.effect;
    if (row.effect & (SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS)) Refresh();
    return SANE_STATUS_GOOD;
}

SANE_Status OptionSet::SetAuto(std::size_t option, SANE_Int& info) {
    SANE_Word word = DefaultValue(m_rows[option].field);
    return Set(option, &word, info);
}

ScanRequest OptionSet::Request() const {
    ScanRequest request;
    const std::size_t format = static_cast<std::size_t>(ValueOf(Field::FrameFormat));
    request.formatType = m_offer.formatTypes[format];
    const std::vector<CResolution>& sizes = Sizes();
    request.frame = ValueOf(Field::Preview) ? PreviewSize(sizes) : sizes[m_sizeIndex];
    request.frame.isDefault = 0;
    request.zoom = SANE_UNFIX(ValueOf(Field::Zoom));
    const Surface surface = CurrentSurface();
    request.crop = MmToPixels(SANE_UNFIX(ValueOf(Field::TlX)), SANE_UNFIX(ValueOf(Field::TlY)),
                              SANE_UNFIX(ValueOf(Field::BrX)), SANE_UNFIX(ValueOf(Field::BrY)), request.frame,
                              surface.widthMm);
    request.gray = ValueOf(Field::Mode) == 1;
    request.settleMs = ValueOf(Field::SettleTime);
    request.keepSeconds = ValueOf(Field::KeepStreaming);
    return request;
}

}  // namespace sane
}  // namespace kiv
