// The eighteen capabilities of the data source. Each is one row of constants
// (id, item type, MSG_GET container kind, message mask, allowed values, the
// value that starts as current and default) turned into a class by one of
// three small templates, one per typed container. Only the physical size
// (asks the camera for its widest frame) and CAP_DEVICEONLINE (probes the
// camera on every query) add code of their own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "kivds/caps/KIVContainer.h"
#include "kivds/protocol/Fix32.h"
#include "kivds/protocol/Twain.h"

namespace kiv {

class CUVCDeviceInfo;
class CResolution;

constexpr std::size_t kMaxCapabilityValues = 17;

struct CapabilityRow {
    twain::TW_UINT16 id;
    twain::TW_UINT16 itemType;
    twain::TW_UINT16 getConType;                            // MSG_GET answer for an application without DF_APP2
    twain::TW_UINT16 mask;                                  // TWQC_ bits
    std::size_t count;                                      // allowed values used from `values`
    std::array<std::int32_t, kMaxCapabilityValues> values;  // Fix32 rows: whole pixels
    int current;                                            // index made current and default; -1 for none
};

namespace rows {
using namespace twain;
constexpr TW_UINT16 kRW = TWQC_GET | TWQC_SET | TWQC_GETDEFAULT | TWQC_GETCURRENT | TWQC_RESET;  // 0x1F
constexpr TW_UINT16 kRO = TWQC_GET | TWQC_GETDEFAULT | TWQC_GETCURRENT;                          // 0x0D

// clang-format off
//                                     id                    item type     MSG_GET           mask      n  values                          current
inline constexpr CapabilityRow XferCount       {CAP_XFERCOUNT,        TWTY_INT16,  TWON_ONEVALUE,    kRW,      2, {1, -1},                         1};
inline constexpr CapabilityRow Compression     {ICAP_COMPRESSION,     TWTY_UINT16, TWON_ONEVALUE,    kRO,      1, {TWCP_NONE},                     0};
inline constexpr CapabilityRow PixelType       {ICAP_PIXELTYPE,       TWTY_UINT16, TWON_ONEVALUE,    kRW,      1, {TWPT_RGB},                      0};
inline constexpr CapabilityRow Units           {ICAP_UNITS,           TWTY_UINT16, TWON_ONEVALUE,    kRW,      1, {TWUN_PIXELS},                   0};
inline constexpr CapabilityRow XferMech        {ICAP_XFERMECH,        TWTY_UINT16, TWON_ENUMERATION, kRW,      3, {TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY}, 0};
inline constexpr CapabilityRow SupportedCaps   {CAP_SUPPORTEDCAPS,    TWTY_UINT16, TWON_ARRAY,       TWQC_GET, 17,
    {ICAP_XFERMECH, ICAP_PIXELFLAVOR, ICAP_PLANARCHUNKY, ICAP_COMPRESSION, ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT,
     ICAP_UNITS, CAP_DEVICEONLINE, ICAP_PIXELTYPE, ICAP_BITDEPTH, ICAP_BITORDER, ICAP_XRESOLUTION, ICAP_YRESOLUTION,
     CAP_XFERCOUNT, ICAP_IMAGEFILEFORMAT, CAP_UICONTROLLABLE, ICAP_SUPPORTEDSIZES},                                   -1};
inline constexpr CapabilityRow UIControllable  {CAP_UICONTROLLABLE,   TWTY_BOOL,   TWON_ONEVALUE,    kRO,      2, {1, 0},                          0};
inline constexpr CapabilityRow DeviceOnline    {CAP_DEVICEONLINE,     TWTY_BOOL,   TWON_ONEVALUE,    kRO,      2, {1, 0},                          0};
inline constexpr CapabilityRow ImageFileFormat {ICAP_IMAGEFILEFORMAT, TWTY_UINT16, TWON_ENUMERATION, kRW,      2, {TWFF_BMP, TWFF_TIFF},           0};
inline constexpr CapabilityRow PhysicalWidth   {ICAP_PHYSICALWIDTH,   TWTY_FIX32,  TWON_ONEVALUE,    kRO,      0, {},                             -1};
inline constexpr CapabilityRow PhysicalHeight  {ICAP_PHYSICALHEIGHT,  TWTY_FIX32,  TWON_ONEVALUE,    kRO,      0, {},                             -1};
inline constexpr CapabilityRow XResolution     {ICAP_XRESOLUTION,     TWTY_FIX32,  TWON_ONEVALUE,    kRW,      1, {1},                             0};
inline constexpr CapabilityRow YResolution     {ICAP_YRESOLUTION,     TWTY_FIX32,  TWON_ONEVALUE,    kRW,      1, {1},                             0};
inline constexpr CapabilityRow BitOrder        {ICAP_BITORDER,        TWTY_UINT16, TWON_ONEVALUE,    kRW,      1, {TWBO_MSBFIRST},                 0};
inline constexpr CapabilityRow PixelFlavor     {ICAP_PIXELFLAVOR,     TWTY_UINT16, TWON_ENUMERATION, kRW,      2, {TWPF_CHOCOLATE, TWPF_VANILLA},  0};
inline constexpr CapabilityRow PlanarChunky    {ICAP_PLANARCHUNKY,    TWTY_UINT16, TWON_ONEVALUE,    kRO,      1, {TWPC_CHUNKY},                   0};
inline constexpr CapabilityRow SupportedSizes  {ICAP_SUPPORTEDSIZES,  TWTY_UINT16, TWON_ONEVALUE,    kRW,      1, {TWSS_NONE},                     0};
inline constexpr CapabilityRow BitDepth        {ICAP_BITDEPTH,        TWTY_UINT16, TWON_ONEVALUE,    kRW,      1, {24},                            0};
// clang-format on
}  // namespace rows

// Integer capabilities: values and kinds straight from the row.
template <const CapabilityRow& Row>
class CKIVIntCapability : public CKIVContainerInt {
public:
    explicit CKIVIntCapability(twain::TW_INT32 appIsTwain2)
        : CKIVContainerInt(Row.id, Row.itemType, Row.mask, Row.getConType, appIsTwain2) {}
    twain::TW_UINT16 Initialize() override {
        for (std::size_t i = 0; i < Row.count; ++i) AddValue(Row.values[i], static_cast<int>(i) == Row.current ? 1 : 0);
        return 0;
    }
};

// Bool capabilities answer MSG_GET with a TW_ENUMERATION to TWAIN 2 applications.
template <const CapabilityRow& Row>
class CKIVBoolCapability : public CKIVContainerBool {
public:
    explicit CKIVBoolCapability(twain::TW_INT32 appIsTwain2) : CKIVContainerBool(Row.id, appIsTwain2) {
        m_supportedMsgs = Row.mask;
        m_getConType = appIsTwain2 == 1 ? twain::TWON_ENUMERATION : Row.getConType;
    }
    twain::TW_UINT16 Initialize() override {
        for (std::size_t i = 0; i < Row.count; ++i)
            AddValue(static_cast<twain::TW_UINT16>(Row.values[i]), static_cast<int>(i) == Row.current ? 1 : 0);
        return 0;
    }
};

// Fix32 capabilities: the row's whole numbers become TW_FIX32 values.
template <const CapabilityRow& Row>
class CKIVFix32Capability : public CKIVContainerFix32 {
public:
    explicit CKIVFix32Capability(twain::TW_INT32 appIsTwain2) : CKIVContainerFix32(Row.id, Row.mask, appIsTwain2) {}
    twain::TW_UINT16 Initialize() override {
        for (std::size_t i = 0; i < Row.count; ++i)
            AddValue(PixelsToFix32(Row.values[i]), static_cast<int>(i) == Row.current ? 1 : 0);
        return 0;
    }
};

#define KIV_TABLE_CAPABILITY(Name, Template, Row)   \
    class Name final : public Template<rows::Row> { \
    public:                                         \
        using Template<rows::Row>::Template;        \
    }

KIV_TABLE_CAPABILITY(CKIVCapXferCount, CKIVIntCapability, XferCount);
KIV_TABLE_CAPABILITY(CKIVICapCompression, CKIVIntCapability, Compression);
KIV_TABLE_CAPABILITY(CKIVICapPixelType, CKIVIntCapability, PixelType);
KIV_TABLE_CAPABILITY(CKIVICapUnits, CKIVIntCapability, Units);
KIV_TABLE_CAPABILITY(CKIVICapXferMech, CKIVIntCapability, XferMech);
KIV_TABLE_CAPABILITY(CKIVICapSupportedCaps, CKIVIntCapability, SupportedCaps);
KIV_TABLE_CAPABILITY(CKIVICapImageFileFormat, CKIVIntCapability, ImageFileFormat);
KIV_TABLE_CAPABILITY(CKIVICapBitOrder, CKIVIntCapability, BitOrder);
KIV_TABLE_CAPABILITY(CKIVICapPixelFlavor, CKIVIntCapability, PixelFlavor);
KIV_TABLE_CAPABILITY(CKIVICapPlanarChunky, CKIVIntCapability, PlanarChunky);
KIV_TABLE_CAPABILITY(CKIVICapSupportedSizes, CKIVIntCapability, SupportedSizes);
KIV_TABLE_CAPABILITY(CKIVCapBitDepth, CKIVIntCapability, BitDepth);
KIV_TABLE_CAPABILITY(CKIVCapUIControllable, CKIVBoolCapability, UIControllable);
KIV_TABLE_CAPABILITY(CKIVICapXResolution, CKIVFix32Capability, XResolution);
KIV_TABLE_CAPABILITY(CKIVICapYResolution, CKIVFix32Capability, YResolution);

#undef KIV_TABLE_CAPABILITY

// The widest frame size of the camera's current format type; when several
// share that width, the tallest of them. False when the type lists no size.
bool WidestFrame(const CUVCDeviceInfo& info, CResolution& widest);

// The widest frame of the open camera, as TW_FIX32 pixels. False when there
// is no camera facade, no device information or no frame size.
bool GetFrameExtent(twain::TW_FIX32& width, twain::TW_FIX32& height);

class CKIVICapPhysicalWidth final : public CKIVFix32Capability<rows::PhysicalWidth> {
public:
    using CKIVFix32Capability::CKIVFix32Capability;
    twain::TW_UINT16 Initialize() override;  // 1 when the camera gives no frame size
};

class CKIVICapPhysicalHeight final : public CKIVFix32Capability<rows::PhysicalHeight> {
public:
    using CKIVFix32Capability::CKIVFix32Capability;
    twain::TW_UINT16 Initialize() override;
};

// Re-probes the camera (no preview window, run, stop) before every MSG_GET,
// MSG_GETCURRENT and MSG_GETDEFAULT; the current value is TRUE only when all
// three succeed. A missing or busy camera is an answer (FALSE), not an error.
class CKIVCapDeviceOnline final : public CKIVBoolCapability<rows::DeviceOnline> {
public:
    using CKIVBoolCapability::CKIVBoolCapability;
    twain::TW_HANDLE Get(twain::TW_UINT16 msg, twain::TW_UINT16* conType) override;
};

}  // namespace kiv
