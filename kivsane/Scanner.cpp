#include "kivsane/Scanner.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "kivds/camera/ButtonReader.h"
#include "kivds/image/ImageReference.h"
#include "kivds/platform/Log.h"

namespace kiv {
namespace sane {
namespace {

// The camera's formats as the options offer them: each type's distinct
// sizes, ascending by width.
bool OfferOf(const CUVCDeviceInfo& info, CameraOffer& offer) {
    for (int type : info.Types()) {
        std::vector<CResolution> sizes;
        for (const CResolution& size : info.Sizes(type))
            if (size.width > 0 && size.height > 0 &&
                std::none_of(sizes.begin(), sizes.end(), [&](const CResolution& s) { return s.SameSize(size); }))
                sizes.push_back(size);
        if (sizes.empty()) continue;
        std::stable_sort(sizes.begin(), sizes.end());
        offer.formatTypes.push_back(type);
        offer.sizes.push_back(std::move(sizes));
    }
    offer.defaultFormat = info.currentFormat;
    offer.hasButtons = ButtonReadOfModel(info.friendlyName) != ButtonRead::None;
    return !offer.formatTypes.empty();
}

void FillParameters(std::int32_t width, std::int32_t height, bool gray, SANE_Parameters& params) {
    params.format = gray ? SANE_FRAME_GRAY : SANE_FRAME_RGB;
    params.last_frame = SANE_TRUE;
    params.depth = 8;
    params.pixels_per_line = width;
    params.lines = height;
    params.bytes_per_line = width * (gray ? 1 : 3);
}

}  // namespace

Scanner::Scanner(const DeviceEntry& device) : m_device(device), m_camera(device) {}

Scanner::~Scanner() { EndScan(); }

SANE_Status Scanner::Open(const DeviceEntry& device, double fieldOfViewMm, std::unique_ptr<Scanner>& out) {
    std::unique_ptr<Scanner> scanner(new Scanner(device));
    const SANE_Status status = scanner->m_camera.Open();
    if (status != SANE_STATUS_GOOD) return status;
    CUVCDeviceInfo info;
    CameraOffer offer;
    if (!scanner->m_camera.DeviceInfo(info) || !OfferOf(info, offer)) {
        Log(LogLevel::Error, "sane.open", "%s offers no MJPEG or YUY2 frame size", device.name.c_str());
        return SANE_STATUS_IO_ERROR;
    }
    Scanner* self = scanner.get();
    scanner->m_options = std::make_unique<OptionSet>(std::move(offer), fieldOfViewMm, [self](CameraButtonState& state) {
        return self->m_camera.ReadButtons(state);
    });
    out = std::move(scanner);
    return SANE_STATUS_GOOD;
}

SANE_Status Scanner::GetParameters(SANE_Parameters& params) const {
    if (m_scanning) {
        FillParameters(m_still->Width(), m_still->Height(), m_gray, params);
        return SANE_STATUS_GOOD;
    }
    const ScanRequest request = m_options->Request();
    FillParameters(request.crop.width, request.crop.height, request.gray, params);
    return SANE_STATUS_GOOD;
}

void Scanner::EndScan() {
    m_still.reset();
    m_select.Close();
    m_scanning = false;
}

SANE_Status Scanner::Start() {
    EndScan();  // a start in the middle of a scan begins the next one
    m_cancel.Clear();
    const ScanRequest request = m_options->Request();
    GrabRequest grab;
    grab.formatType = request.formatType;
    grab.frame = request.frame;
    grab.zoom = request.zoom;
    grab.settleMs = request.settleMs;
    grab.keepSeconds = request.keepSeconds;
    std::unique_ptr<CImageReference> still;
    const SANE_Status status = m_camera.Grab(grab, m_cancel, still);
    if (status != SANE_STATUS_GOOD) return status;

    // The camera may stream another size than asked (a driver adjusts it):
    // the cut then keeps to the frame it got.
    SourceRect crop = request.crop;
    if (still->Width() != request.frame.width || still->Height() != request.frame.height) {
        Log(LogLevel::Info, "sane.start", "%s streams %dx%d, not %dx%d", m_device.name.c_str(), still->Width(),
            still->Height(), request.frame.width, request.frame.height);
        crop.left = std::min(crop.left, still->Width() - 1);
        crop.top = std::min(crop.top, still->Height() - 1);
        crop.width = std::min(crop.width, still->Width() - crop.left);
        crop.height = std::min(crop.height, still->Height() - crop.top);
    }
    if (!still->Cut(crop.left, crop.top, crop.width, crop.height)) {
        Log(LogLevel::Error, "sane.start", "%s: cannot cut %dx%d at %d,%d from the still", m_device.name.c_str(),
            crop.width, crop.height, crop.left, crop.top);
        return SANE_STATUS_NO_MEM;
    }
    m_gray = request.gray;
    const std::size_t rowBytes = static_cast<std::size_t>(still->Width()) * (m_gray ? 1 : 3);
    m_row.resize(rowBytes);
    m_offset = 0;
    m_total = static_cast<std::uint64_t>(rowBytes) * static_cast<std::uint64_t>(still->Height());
    m_still = std::move(still);
    m_select.OpenReadable();  // without it sane_get_select_fd is unsupported
    m_scanning = true;
    return SANE_STATUS_GOOD;
}

SANE_Status Scanner::Read(SANE_Byte* data, SANE_Int maxLength, SANE_Int& length) {
    length = 0;
    if (m_cancel.Raised()) {
        EndScan();
        return SANE_STATUS_CANCELLED;
    }
    if (!m_scanning) return SANE_STATUS_EOF;
    if (!data || maxLength < 0) return SANE_STATUS_INVAL;
    if (m_offset == m_total) {
        EndScan();
        return SANE_STATUS_EOF;
    }
    const std::size_t rowBytes = m_row.size();
    const std::size_t max = static_cast<std::size_t>(maxLength);
    const std::uint64_t rows = m_total / rowBytes;
    std::size_t n = 0;
    while (n < max && m_offset < m_total) {
        const std::uint64_t row = m_offset / rowBytes;
        const std::size_t inRow = static_cast<std::size_t>(m_offset % rowBytes);
        if (inRow == 0 && max - n >= rowBytes) {
            const std::uint64_t count = std::min<std::uint64_t>((max - n) / rowBytes, rows - row);
            if (!m_still->CopyRowsTopDownPacked(static_cast<std::uint32_t>(row), static_cast<std::uint32_t>(count),
                                                m_gray, data + n))
                return SANE_STATUS_NO_MEM;
            n += static_cast<std::size_t>(count) * rowBytes;
            m_offset += count * rowBytes;
            continue;
        }
        if (inRow == 0 && !m_still->CopyRowsTopDownPacked(static_cast<std::uint32_t>(row), 1, m_gray, m_row.data()))
            return SANE_STATUS_NO_MEM;
        const std::size_t part = std::min(rowBytes - inRow, max - n);
        std::memcpy(data + n, m_row.data() + inRow, part);
        n += part;
        m_offset += part;
    }
    if (m_offset == m_total) m_select.Close();  // the next read gives EOF
    length = static_cast<SANE_Int>(n);
    return SANE_STATUS_GOOD;
}

SANE_Status Scanner::SetIoMode(SANE_Bool nonBlocking) {
    if (!m_scanning) return SANE_STATUS_INVAL;
    if (nonBlocking != SANE_TRUE && nonBlocking != SANE_FALSE) return SANE_STATUS_INVAL;
    // Reads never wait: the still is complete before Start returns.
    return SANE_STATUS_GOOD;
}

SANE_Status Scanner::GetSelectFd(SANE_Int& fd) const {
    if (!m_scanning) return SANE_STATUS_INVAL;
    if (m_select.Fd() < 0) return m_offset == m_total ? SANE_STATUS_INVAL : SANE_STATUS_UNSUPPORTED;
    fd = m_select.Fd();
    return SANE_STATUS_GOOD;
}

}  // namespace sane
}  // namespace kiv
