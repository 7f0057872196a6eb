#include "kivds/camera/CameraRecords.h"

#include <algorithm>

namespace kiv {

bool SubtypeOfFormatType(int type, Guid& subtype) {
    if (type == UVCFMT_MJPEG) subtype = MediaSubtypeMJPG;
    else if (type == UVCFMT_YUY2) subtype = MediaSubtypeYUY2;
    else return false;
    return true;
}

int FormatTypeOfSubtype(const Guid& subtype) {
    if (subtype == MediaSubtypeMJPG) return UVCFMT_MJPEG;
    if (subtype == MediaSubtypeYUY2) return UVCFMT_YUY2;
    return 0;
}

void CUVCDeviceInfo::Clear() {
    formats.clear();
    currentFormat = CUVCMediaFormat();
    friendlyName.clear();
    devicePath.clear();
}

void CUVCDeviceInfo::AddFormat(const CUVCMediaFormat& format) {
    if (std::find(formats.begin(), formats.end(), format) == formats.end()) formats.push_back(format);
}

std::vector<int> CUVCDeviceInfo::Types() const {
    std::vector<int> types;
    for (const CUVCMediaFormat& f : formats)
        if (std::find(types.begin(), types.end(), f.type) == types.end()) types.push_back(f.type);
    return types;
}

std::vector<CResolution> CUVCDeviceInfo::Sizes(int type) const {
    std::vector<CResolution> sizes;
    for (const CUVCMediaFormat& f : formats)
        if (f.type == type) sizes.push_back(f.resolution);
    return sizes;
}

}  // namespace kiv
