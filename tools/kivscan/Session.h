// One conversation with a data source, from opening it to closing it: every
// triplet goes through Call(), which asks DAT_STATUS after each failure,
// collects the message the source printed, logs the triplet when verbose,
// and keeps track of the TWAIN state.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

#include "kivds/protocol/Twain.h"
#include "tools/kivscan/Picture.h"
#include "tools/kivscan/PictureFiles.h"
#include "tools/kivscan/TwainLink.h"

namespace kiv {
namespace scan {

struct CallResult {
    twain::TW_UINT16 rc = twain::TWRC_FAILURE;
    std::optional<twain::TW_UINT16> condition;  // after a failure, when DAT_STATUS answered
    std::string sourceMessage;                  // what the source printed during the call, trimmed
};

// A failure that ends the run: what failed, the condition code and the
// source's own message when there are any.
class ScanError : public std::runtime_error {
public:
    explicit ScanError(const std::string& what, std::optional<twain::TW_UINT16> condition = std::nullopt,
                       std::string sourceMessage = {})
        : std::runtime_error(what), condition_(condition), sourceMessage_(std::move(sourceMessage)) {}
    ScanError(const std::string& what, std::optional<twain::TW_UINT16> condition, std::string sourceMessage,
              bool twainFailure)
        : ScanError(what, condition, std::move(sourceMessage)) {
        twainFailure_ = twainFailure;
    }
    std::optional<twain::TW_UINT16> Condition() const { return condition_; }
    // A TWAIN call failed (as opposed to kivscan's own checks).
    bool IsTwainFailure() const { return twainFailure_; }
    const std::string& SourceMessage() const { return sourceMessage_; }

private:
    std::optional<twain::TW_UINT16> condition_;
    std::string sourceMessage_;
    bool twainFailure_ = false;
};

class Session {
public:
    struct Settings {
        bool verbose = false;
        bool captureSourceOutput = false;  // the source prints its messages on standard error
    };

    Session(TwainLink& link, std::ostream& out, std::ostream& err, Settings settings);
    ~Session();  // best effort back to a closed source and an unloaded library
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Loads, opens the source manager role and the source: state 4.
    void Open();
    const twain::TW_IDENTITY& Source() const { return source_; }
    int State() const { return state_; }

    // A triplet for the source. Never throws.
    CallResult Call(twain::TW_UINT32 dg, twain::TW_UINT16 dat, twain::TW_UINT16 msg, void* data);
    // The same, throwing ScanError unless the return code is `expected` (or `also`).
    CallResult Require(twain::TW_UINT32 dg, twain::TW_UINT16 dat, twain::TW_UINT16 msg, void* data,
                       twain::TW_UINT16 expected = twain::TWRC_SUCCESS, twain::TW_UINT16 also = twain::TWRC_SUCCESS);

    // MSG_SET of a TW_ONEVALUE; throws on failure.
    void SetCapability(twain::TW_UINT16 cap, twain::TW_UINT16 itemType, twain::TW_UINT32 value);
    // DAT_CAPABILITY / `msg` for the table: the container handle (the
    // caller frees it with FreeContainer) or null, and its kind.
    twain::TW_HANDLE QueryCapability(twain::TW_UINT16 cap, twain::TW_UINT16 msg, twain::TW_UINT16& conType);
    TwainLink& Link() { return link_; }

    void SetLayout(const std::array<std::int32_t, 4>& frame);

    // MSG_ENABLEDS; without the dialog it prints a progress line while the
    // source starts the camera.
    void Enable(bool showUi);
    enum class Event { TransferReady, CloseRequested };
    // Waits for the source's MSG_XFERREADY or MSG_CLOSEDSREQ (state 6 after
    // the first). Without the dialog the source has announced its picture
    // before MSG_ENABLEDS returned; a source that does not is an error after
    // `patienceMs`.
    Event WaitForEvent(bool showUi, unsigned patienceMs = 10000);

    twain::TW_IMAGEINFO ImageInfo();
    RgbPicture NativeTransfer();
    // `strip` is told about each strip: (index, first row, rows).
    RgbPicture MemoryTransfer(const twain::TW_IMAGEINFO& info,
                              const std::function<void(unsigned, unsigned, unsigned)>& strip);
    void FileTransfer(const std::string& path, FileFormat format);
    // MSG_ENDXFER; returns the pending count.
    twain::TW_UINT16 EndTransfer();
    void ResetTransfers();
    void Disable();
    // Back to state 3 and the library unloaded; throws on a failing MSG_CLOSEDS.
    void Close();

private:
    CallResult Send(bool toManager, twain::TW_UINT32 dg, twain::TW_UINT16 dat, twain::TW_UINT16 msg, void* data,
                    bool quiet = false);
    [[noreturn]] void Fail(const std::string& what, const CallResult& result);
    void Shutdown();
    bool ProcessEvent(void* nativeEvent);

    TwainLink& link_;
    std::ostream& out_;
    std::ostream& err_;
    Settings settings_;
    twain::TW_IDENTITY app_{};
    twain::TW_IDENTITY source_{};
    int state_ = 1;
};

}  // namespace scan
}  // namespace kiv
