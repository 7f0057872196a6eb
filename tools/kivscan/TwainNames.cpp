#include "tools/kivscan/TwainNames.h"

#include <cstdio>

namespace kiv {
namespace scan {

using namespace twain;

namespace {

struct Named {
    std::uint32_t value;
    const char* name;
};

template <std::size_t N>
std::string Lookup(const Named (&table)[N], std::uint32_t value) {
    for (const Named& entry : table)
        if (entry.value == value) return entry.name;
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(value));
    return hex;
}

constexpr Named kGroups[] = {{DG_CONTROL, "DG_CONTROL"}, {DG_IMAGE, "DG_IMAGE"}, {DG_AUDIO, "DG_AUDIO"}};

constexpr Named kDats[] = {
    {DAT_NULL, "DAT_NULL"},
    {DAT_CAPABILITY, "DAT_CAPABILITY"},
    {DAT_EVENT, "DAT_EVENT"},
    {DAT_IDENTITY, "DAT_IDENTITY"},
    {DAT_PARENT, "DAT_PARENT"},
    {DAT_PENDINGXFERS, "DAT_PENDINGXFERS"},
    {DAT_SETUPMEMXFER, "DAT_SETUPMEMXFER"},
    {DAT_SETUPFILEXFER, "DAT_SETUPFILEXFER"},
    {DAT_STATUS, "DAT_STATUS"},
    {DAT_USERINTERFACE, "DAT_USERINTERFACE"},
    {DAT_XFERGROUP, "DAT_XFERGROUP"},
    {0x0010, "DAT_CALLBACK"},
    {DAT_IMAGEINFO, "DAT_IMAGEINFO"},
    {DAT_IMAGELAYOUT, "DAT_IMAGELAYOUT"},
    {DAT_IMAGEMEMXFER, "DAT_IMAGEMEMXFER"},
    {DAT_IMAGENATIVEXFER, "DAT_IMAGENATIVEXFER"},
    {DAT_IMAGEFILEXFER, "DAT_IMAGEFILEXFER"},
    {DAT_EXTIMAGEINFO, "DAT_EXTIMAGEINFO"},
    {DAT_ENTRYPOINT, "DAT_ENTRYPOINT"},
};

constexpr Named kMsgs[] = {
    {MSG_NULL, "MSG_NULL"},
    {MSG_GET, "MSG_GET"},
    {MSG_GETCURRENT, "MSG_GETCURRENT"},
    {MSG_GETDEFAULT, "MSG_GETDEFAULT"},
    {MSG_GETFIRST, "MSG_GETFIRST"},
    {MSG_GETNEXT, "MSG_GETNEXT"},
    {MSG_SET, "MSG_SET"},
    {MSG_RESET, "MSG_RESET"},
    {MSG_QUERYSUPPORT, "MSG_QUERYSUPPORT"},
    {MSG_RESETALL, "MSG_RESETALL"},
    {MSG_XFERREADY, "MSG_XFERREADY"},
    {MSG_CLOSEDSREQ, "MSG_CLOSEDSREQ"},
    {MSG_CLOSEDSOK, "MSG_CLOSEDSOK"},
    {MSG_DEVICEEVENT, "MSG_DEVICEEVENT"},
    {MSG_OPENDSM, "MSG_OPENDSM"},
    {MSG_CLOSEDSM, "MSG_CLOSEDSM"},
    {MSG_OPENDS, "MSG_OPENDS"},
    {MSG_CLOSEDS, "MSG_CLOSEDS"},
    {MSG_USERSELECT, "MSG_USERSELECT"},
    {MSG_DISABLEDS, "MSG_DISABLEDS"},
    {MSG_ENABLEDS, "MSG_ENABLEDS"},
    {MSG_ENABLEDSUIONLY, "MSG_ENABLEDSUIONLY"},
    {MSG_PROCESSEVENT, "MSG_PROCESSEVENT"},
    {MSG_ENDXFER, "MSG_ENDXFER"},
    {MSG_STOPFEEDER, "MSG_STOPFEEDER"},
    {0x0902, "MSG_REGISTER_CALLBACK"},
};

constexpr Named kReturnCodes[] = {
    {TWRC_SUCCESS, "TWRC_SUCCESS"},   {TWRC_FAILURE, "TWRC_FAILURE"},     {TWRC_CHECKSTATUS, "TWRC_CHECKSTATUS"},
    {TWRC_CANCEL, "TWRC_CANCEL"},     {TWRC_DSEVENT, "TWRC_DSEVENT"},     {TWRC_NOTDSEVENT, "TWRC_NOTDSEVENT"},
    {TWRC_XFERDONE, "TWRC_XFERDONE"}, {TWRC_ENDOFLIST, "TWRC_ENDOFLIST"},
};

constexpr Named kConditionCodes[] = {
    {TWCC_SUCCESS, "TWCC_SUCCESS"},
    {TWCC_BUMMER, "TWCC_BUMMER"},
    {TWCC_LOWMEMORY, "TWCC_LOWMEMORY"},
    {TWCC_NODS, "TWCC_NODS"},
    {TWCC_MAXCONNECTIONS, "TWCC_MAXCONNECTIONS"},
    {TWCC_OPERATIONERROR, "TWCC_OPERATIONERROR"},
    {TWCC_BADCAP, "TWCC_BADCAP"},
    {TWCC_BADPROTOCOL, "TWCC_BADPROTOCOL"},
    {TWCC_BADVALUE, "TWCC_BADVALUE"},
    {TWCC_SEQERROR, "TWCC_SEQERROR"},
    {TWCC_BADDEST, "TWCC_BADDEST"},
    {TWCC_CAPUNSUPPORTED, "TWCC_CAPUNSUPPORTED"},
    {TWCC_CAPBADOPERATION, "TWCC_CAPBADOPERATION"},
    {TWCC_CAPSEQERROR, "TWCC_CAPSEQERROR"},
    {TWCC_DENIED, "TWCC_DENIED"},
    {TWCC_FILEEXISTS, "TWCC_FILEEXISTS"},
    {TWCC_FILENOTFOUND, "TWCC_FILENOTFOUND"},
    {TWCC_NOTEMPTY, "TWCC_NOTEMPTY"},
    {TWCC_PAPERJAM, "TWCC_PAPERJAM"},
    {TWCC_PAPERDOUBLEFEED, "TWCC_PAPERDOUBLEFEED"},
    {TWCC_FILEWRITEERROR, "TWCC_FILEWRITEERROR"},
    {TWCC_CHECKDEVICEONLINE, "TWCC_CHECKDEVICEONLINE"},
    {CC_CAMERA_DISCONNECTED, "CC_CAMERA_DISCONNECTED"},
    {CC_CAMERA_IN_USE, "CC_CAMERA_IN_USE"},
    {CC_OTHER_ERROR, "CC_OTHER_ERROR"},
};

constexpr Named kCapabilities[] = {
    {CAP_XFERCOUNT, "CAP_XFERCOUNT"},
    {ICAP_COMPRESSION, "ICAP_COMPRESSION"},
    {ICAP_PIXELTYPE, "ICAP_PIXELTYPE"},
    {ICAP_UNITS, "ICAP_UNITS"},
    {ICAP_XFERMECH, "ICAP_XFERMECH"},
    {CAP_SUPPORTEDCAPS, "CAP_SUPPORTEDCAPS"},
    {CAP_INDICATORS, "CAP_INDICATORS"},
    {CAP_UICONTROLLABLE, "CAP_UICONTROLLABLE"},
    {CAP_DEVICEONLINE, "CAP_DEVICEONLINE"},
    {ICAP_IMAGEFILEFORMAT, "ICAP_IMAGEFILEFORMAT"},
    {ICAP_PHYSICALWIDTH, "ICAP_PHYSICALWIDTH"},
    {ICAP_PHYSICALHEIGHT, "ICAP_PHYSICALHEIGHT"},
    {ICAP_XNATIVERESOLUTION, "ICAP_XNATIVERESOLUTION"},
    {ICAP_YNATIVERESOLUTION, "ICAP_YNATIVERESOLUTION"},
    {ICAP_XRESOLUTION, "ICAP_XRESOLUTION"},
    {ICAP_YRESOLUTION, "ICAP_YRESOLUTION"},
    {ICAP_BITDEPTH, "ICAP_BITDEPTH"},
    {ICAP_BITORDER, "ICAP_BITORDER"},
    {ICAP_PIXELFLAVOR, "ICAP_PIXELFLAVOR"},
    {ICAP_PLANARCHUNKY, "ICAP_PLANARCHUNKY"},
    {ICAP_SUPPORTEDSIZES, "ICAP_SUPPORTEDSIZES"},
};

constexpr Named kItemTypes[] = {
    {TWTY_INT8, "TWTY_INT8"},     {TWTY_INT16, "TWTY_INT16"},     {TWTY_INT32, "TWTY_INT32"},
    {TWTY_UINT8, "TWTY_UINT8"},   {TWTY_UINT16, "TWTY_UINT16"},   {TWTY_UINT32, "TWTY_UINT32"},
    {TWTY_BOOL, "TWTY_BOOL"},     {TWTY_FIX32, "TWTY_FIX32"},     {TWTY_FRAME, "TWTY_FRAME"},
    {TWTY_STR32, "TWTY_STR32"},   {TWTY_STR64, "TWTY_STR64"},     {TWTY_STR128, "TWTY_STR128"},
    {TWTY_STR255, "TWTY_STR255"}, {TWTY_STR1024, "TWTY_STR1024"}, {TWTY_UNI512, "TWTY_UNI512"},
};

constexpr Named kContainers[] = {{TWON_ARRAY, "TWON_ARRAY"},
                                 {TWON_ENUMERATION, "TWON_ENUMERATION"},
                                 {TWON_ONEVALUE, "TWON_ONEVALUE"},
                                 {TWON_RANGE, "TWON_RANGE"}};

// Value names of the capabilities whose values TWAIN names.
struct ValueName {
    TW_UINT16 cap;
    std::int64_t value;
    const char* name;
};

constexpr ValueName kValues[] = {
    {ICAP_XFERMECH, TWSX_NATIVE, "TWSX_NATIVE"},      {ICAP_XFERMECH, TWSX_FILE, "TWSX_FILE"},
    {ICAP_XFERMECH, TWSX_MEMORY, "TWSX_MEMORY"},      {ICAP_IMAGEFILEFORMAT, TWFF_TIFF, "TWFF_TIFF"},
    {ICAP_IMAGEFILEFORMAT, TWFF_PICT, "TWFF_PICT"},   {ICAP_IMAGEFILEFORMAT, TWFF_BMP, "TWFF_BMP"},
    {ICAP_IMAGEFILEFORMAT, TWFF_JFIF, "TWFF_JFIF"},   {ICAP_PIXELTYPE, TWPT_BW, "TWPT_BW"},
    {ICAP_PIXELTYPE, TWPT_GRAY, "TWPT_GRAY"},         {ICAP_PIXELTYPE, TWPT_RGB, "TWPT_RGB"},
    {ICAP_COMPRESSION, TWCP_NONE, "TWCP_NONE"},       {ICAP_UNITS, TWUN_INCHES, "TWUN_INCHES"},
    {ICAP_UNITS, TWUN_PIXELS, "TWUN_PIXELS"},         {ICAP_PLANARCHUNKY, TWPC_CHUNKY, "TWPC_CHUNKY"},
    {ICAP_PLANARCHUNKY, TWPC_PLANAR, "TWPC_PLANAR"},  {ICAP_BITORDER, TWBO_LSBFIRST, "TWBO_LSBFIRST"},
    {ICAP_BITORDER, TWBO_MSBFIRST, "TWBO_MSBFIRST"},  {ICAP_PIXELFLAVOR, TWPF_CHOCOLATE, "TWPF_CHOCOLATE"},
    {ICAP_PIXELFLAVOR, TWPF_VANILLA, "TWPF_VANILLA"}, {ICAP_SUPPORTEDSIZES, TWSS_NONE, "TWSS_NONE"},
};

}  // namespace

std::string DataGroupName(TW_UINT32 dg) { return Lookup(kGroups, dg); }
std::string DatName(TW_UINT16 dat) { return Lookup(kDats, dat); }
std::string MsgName(TW_UINT16 msg) { return Lookup(kMsgs, msg); }
std::string ReturnCodeName(TW_UINT16 rc) { return Lookup(kReturnCodes, rc); }
std::string ConditionCodeName(TW_UINT16 cc) { return Lookup(kConditionCodes, cc); }
std::string CapabilityName(TW_UINT16 cap) { return Lookup(kCapabilities, cap); }
std::string ItemTypeName(TW_UINT16 itemType) { return Lookup(kItemTypes, itemType); }
std::string ContainerName(TW_UINT16 conType) { return Lookup(kContainers, conType); }

std::string TripletName(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) {
    return DataGroupName(dg) + " / " + DatName(dat) + " / " + MsgName(msg);
}

std::string CapabilityValueName(TW_UINT16 cap, std::int64_t value) {
    if (cap == CAP_SUPPORTEDCAPS && value >= 0 && value <= 0xFFFF) {
        std::string name = CapabilityName(static_cast<TW_UINT16>(value));
        return name.rfind("0x", 0) == 0 ? std::string() : name;
    }
    for (const ValueName& entry : kValues)
        if (entry.cap == cap && entry.value == value) return entry.name;
    return {};
}

std::string SupportedMessagesText(TW_UINT32 mask) {
    static constexpr Named kBits[] = {{TWQC_GET, "GET"},
                                      {TWQC_SET, "SET"},
                                      {TWQC_GETDEFAULT, "GETDEFAULT"},
                                      {TWQC_GETCURRENT, "GETCURRENT"},
                                      {TWQC_RESET, "RESET"}};
    std::string text;
    for (const Named& bit : kBits) {
        if ((mask & bit.value) == 0) continue;
        if (!text.empty()) text += ' ';
        text += bit.name;
    }
    return text.empty() ? "none" : text;
}

}  // namespace scan
}  // namespace kiv
