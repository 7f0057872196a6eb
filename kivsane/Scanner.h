// An open handle: the camera, its options and the scan in progress.
//
// A scan is synchronous up to the still: Start returns when the still is
// taken, so its data is ready from then on. Read writes its rows, top-down
// RGB or gray, straight from the camera's frame through the still's map
// into the frontend's buffer (a row that does not fit whole is finished from
// one row of scratch). Cancel is async-signal-safe; the next Read reports it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <sane/sane.h>

#include "kivsane/Options.h"
#include "kivsane/Signals.h"
#include "kivsane/StillCamera.h"

namespace kiv {

class CImageReference;

namespace sane {

class Scanner {
public:
    // GOOD with the handle, or the status of StillCamera::Open.
    static SANE_Status Open(const DeviceEntry& device, double fieldOfViewMm, std::unique_ptr<Scanner>& out);
    ~Scanner();
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    OptionSet& Options() { return *m_options; }
    const DeviceEntry& Device() const { return m_device; }

    SANE_Status GetParameters(SANE_Parameters& params) const;
    SANE_Status Start();
    SANE_Status Read(SANE_Byte* data, SANE_Int maxLength, SANE_Int& length);
    void Cancel() noexcept { m_cancel.Raise(); }
    SANE_Status SetIoMode(SANE_Bool nonBlocking);
    SANE_Status GetSelectFd(SANE_Int& fd) const;

private:
    explicit Scanner(const DeviceEntry& device);
    void EndScan();

    DeviceEntry m_device;
    StillCamera m_camera;
    std::unique_ptr<OptionSet> m_options;
    CancelFlag m_cancel;
    SelectFd m_select;

    // The scan in progress (m_still set from Start to its end).
    std::unique_ptr<CImageReference> m_still;
    bool m_gray = false;
    std::uint64_t m_offset = 0;  // bytes read so far
    std::uint64_t m_total = 0;
    std::vector<std::uint8_t> m_row;  // the row a short read began, whole
    bool m_scanning = false;          // between Start and EOF or a reported cancel
};

}  // namespace sane
}  // namespace kiv
