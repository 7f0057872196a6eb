#include "tools/kivscan/Session.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/kivscan/ScanPlatform.h"
#include "tools/kivscan/TwainNames.h"

namespace kiv {
namespace scan {

using namespace twain;

namespace {

void CopyName(TW_STR32 to, const char* from) {
    std::strncpy(to, from, sizeof(TW_STR32) - 1);
    to[sizeof(TW_STR32) - 1] = '\0';
}

std::string Trim(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string IdentityText(const TW_IDENTITY& id) {
    auto field = [](const TW_STR32 s) { return std::string(s, strnlen(s, sizeof(TW_STR32))); };
    return "\"" + field(id.ProductName) + "\" " + std::to_string(id.Version.MajorNum) + "." +
           std::to_string(id.Version.MinorNum) + " by " + field(id.Manufacturer) + ", protocol " +
           std::to_string(id.ProtocolMajor) + "." + std::to_string(id.ProtocolMinor);
}

// Prints a second count while the calling thread is blocked in MSG_ENABLEDS.
class Ticker {
public:
    explicit Ticker(std::ostream& out) : out_(out), thread_([this] { Run(); }) {}
    ~Ticker() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    void Run() {
        std::unique_lock<std::mutex> guard(lock_);
        for (int second = 1;; ++second) {
            if (wake_.wait_for(guard, std::chrono::seconds(1), [this] { return stop_; })) return;
            out_ << ' ' << second << 's' << std::flush;
        }
    }

    std::ostream& out_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

Session::Session(TwainLink& link, std::ostream& out, std::ostream& err, Settings settings)
    : link_(link), out_(out), err_(err), settings_(settings) {
    if (settings_.verbose) link_.SetLog([this](const std::string& line) { out_ << "  " << line << '\n'; });
    app_.Id = 1;
    app_.Version.MajorNum = 2;
    app_.Version.MinorNum = 0;
    app_.Version.Language = TWLG_ENGLISH;
    app_.Version.Country = TWCY_USA;
    CopyName(app_.Version.Info, "kivscan 2.0");
    app_.ProtocolMajor = 2;
    app_.ProtocolMinor = 4;
    app_.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    CopyName(app_.Manufacturer, "kivds project");
    CopyName(app_.ProductFamily, "Tools");
    CopyName(app_.ProductName, "kivscan");
}

Session::~Session() {
    Shutdown();
    link_.SetLog(nullptr);
}

CallResult Session::Send(bool toManager, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data, bool quiet) {
    CallResult result;
    std::unique_ptr<StderrCapture> capture;
    if (settings_.captureSourceOutput) capture = std::make_unique<StderrCapture>();
    result.rc = toManager ? link_.ToManager(dg, dat, msg, data) : link_.ToSource(dg, dat, msg, data);
    if (result.rc == TWRC_FAILURE) {
        TW_STATUS status{};
        const TW_UINT16 statusRc = toManager ? link_.ToManager(DG_CONTROL, DAT_STATUS, MSG_GET, &status)
                                             : link_.ToSource(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
        if (statusRc == TWRC_SUCCESS) result.condition = status.ConditionCode;
    }
    std::string printed = capture ? Trim(capture->Finish()) : std::string();
    if (result.rc == TWRC_FAILURE) {
        result.sourceMessage = printed;
    } else if (!printed.empty()) {
        err_ << printed << '\n';
    }
    if (settings_.verbose && !quiet) {
        out_ << "  " << TripletName(dg, dat, msg);
        if (dat == DAT_CAPABILITY && data)
            out_ << " (" << CapabilityName(static_cast<TW_CAPABILITY*>(data)->Cap) << ')';
        out_ << " -> " << ReturnCodeName(result.rc);
        if (result.rc == TWRC_FAILURE)
            out_ << ", " << (result.condition ? ConditionCodeName(*result.condition) : "DAT_STATUS unanswered");
        out_ << '\n';
        if (!result.sourceMessage.empty()) out_ << "  source: " << result.sourceMessage << '\n';
    }
    return result;
}

CallResult Session::Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    return Send(false, dg, dat, msg, data);
}

void Session::Fail(const std::string& what, const CallResult& result) {
    std::string text = what;
    if (result.rc != TWRC_FAILURE) text += " (" + ReturnCodeName(result.rc) + ")";
    throw ScanError(text, result.condition, result.sourceMessage, true);
}

CallResult Session::Require(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data, TW_UINT16 expected,
                            TW_UINT16 also) {
    CallResult result = Call(dg, dat, msg, data);
    if (result.rc != expected && result.rc != also) Fail(TripletName(dg, dat, msg) + " failed", result);
    return result;
}

void Session::Open() {
    std::string error;
    Mailbox::Instance().Clear();
    if (!link_.Start(app_, error)) throw ScanError(error);
    state_ = 3;
    if (!link_.FindSource(source_, error)) throw ScanError(error);
    out_ << "Source: " << IdentityText(source_) << '\n';
    CallResult opened = Send(true, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_);
    // The source answers DAT_STATUS while still closed: Send has asked it why.
    if (opened.rc != TWRC_SUCCESS) Fail(TripletName(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS) + " failed", opened);
    state_ = 4;
    link_.SourceOpened();
}

void Session::SetCapability(TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 value) {
    TW_HANDLE handle = link_.Allocate(sizeof(TW_ONEVALUE));
    if (!handle) throw ScanError("out of memory for a capability container");
    struct Freer {
        TwainLink& link;
        TW_HANDLE handle;
        ~Freer() { link.Free(handle); }
    } freer{link_, handle};
    {
        auto* bytes = static_cast<std::uint8_t*>(link_.Lock(handle));
        if (!bytes) throw ScanError("cannot lock a capability container");
        // TW_ONEVALUE: ItemType, then the 32-bit Item, little-endian as TWAIN packs it.
        const std::uint8_t record[6] = {static_cast<std::uint8_t>(itemType),
                                        static_cast<std::uint8_t>(itemType >> 8),
                                        static_cast<std::uint8_t>(value),
                                        static_cast<std::uint8_t>(value >> 8),
                                        static_cast<std::uint8_t>(value >> 16),
                                        static_cast<std::uint8_t>(value >> 24)};
        std::memcpy(bytes, record, sizeof record);
        link_.Unlock(handle);
    }
    TW_CAPABILITY capability{};
    capability.Cap = cap;
    capability.ConType = TWON_ONEVALUE;
    capability.hContainer = handle;
    CallResult result = Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
    if (result.rc != TWRC_SUCCESS)
        Fail("setting " + CapabilityName(cap) + " to " + std::to_string(value) + " failed", result);
}

TW_HANDLE Session::QueryCapability(TW_UINT16 cap, TW_UINT16 msg, TW_UINT16& conType) {
    TW_CAPABILITY capability{};
    capability.Cap = cap;
    capability.ConType = TWON_DONTCARE16;
    CallResult result = Call(DG_CONTROL, DAT_CAPABILITY, msg, &capability);
    if (result.rc != TWRC_SUCCESS) {
        // A container handed over with a failure is still ours to free.
        if (capability.hContainer) link_.Free(capability.hContainer);
        return nullptr;
    }
    conType = capability.ConType;
    return capability.hContainer;
}

void Session::SetLayout(const std::array<std::int32_t, 4>& frame) {
    TW_IMAGELAYOUT layout{};
    TW_FIX32* sides[4] = {&layout.Frame.Left, &layout.Frame.Top, &layout.Frame.Right, &layout.Frame.Bottom};
    for (std::size_t i = 0; i < 4; ++i) {
        sides[i]->Whole = static_cast<TW_INT16>(frame[i]);
        sides[i]->Frac = 0;
    }
    layout.DocumentNumber = layout.PageNumber = layout.FrameNumber = 1;
    Require(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout, TWRC_SUCCESS, TWRC_CHECKSTATUS);
}

void Session::Enable(bool showUi) {
    TW_USERINTERFACE ui{};
    ui.ShowUI = showUi ? 1 : 0;
    ui.ModalUI = 0;
    ui.hParent = nullptr;
    CallResult result;
    const auto start = std::chrono::steady_clock::now();
    if (showUi) {
        out_ << "Showing the source's dialog; take the picture there.\n" << std::flush;
        result = Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    } else {
        out_ << "Starting the camera (the source waits 5 s before the picture):" << std::flush;
        {
            Ticker ticker(out_);
            result = Send(false, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui, true);
        }
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", SecondsSince(start));
        out_ << (result.rc == TWRC_SUCCESS ? " ready" : " failed") << " after " << seconds << " s\n";
        if (settings_.verbose) {
            out_ << "  " << TripletName(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS) << " -> "
                 << ReturnCodeName(result.rc);
            if (result.rc == TWRC_FAILURE)
                out_ << ", " << (result.condition ? ConditionCodeName(*result.condition) : "DAT_STATUS unanswered");
            out_ << '\n';
        }
    }
    if (result.rc != TWRC_SUCCESS) Fail(TripletName(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS) + " failed", result);
    state_ = 5;
}

bool Session::ProcessEvent(void* nativeEvent) {
    // Where the platform has no window message to offer, a zeroed stand-in
    // is passed: the record must exist, the source need not look into it.
    static std::uint8_t standIn[64] = {};
    TW_EVENT event{};
    event.pEvent = nativeEvent ? nativeEvent : standIn;
    event.TWMessage = MSG_NULL;
    CallResult result = Send(false, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event, true);
    if (result.rc != TWRC_DSEVENT) return false;
    if (event.TWMessage != MSG_NULL) Mailbox::Instance().Post(event.TWMessage);
    return true;
}

Session::Event Session::WaitForEvent(bool showUi, unsigned patienceMs) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        if (auto msg = Mailbox::Instance().Take()) {
            if (settings_.verbose) out_ << "  notification from the source: " << MsgName(*msg) << '\n';
            if (*msg == MSG_XFERREADY) {
                state_ = 6;
                return Event::TransferReady;
            }
            if (*msg == MSG_CLOSEDSREQ) return Event::CloseRequested;
            continue;  // MSG_DEVICEEVENT and the like: nothing to do here
        }
        if (!showUi && SecondsSince(start) * 1000.0 > patienceMs)
            throw ScanError("the source enabled without announcing a picture (no MSG_XFERREADY)");
        // Messages the manager could not deliver wait for MSG_PROCESSEVENT.
        ProcessEvent(nullptr);
        PumpEvents(50, [this](void* nativeEvent) { return ProcessEvent(nativeEvent); });
    }
}

TW_IMAGEINFO Session::ImageInfo() {
    TW_IMAGEINFO info{};
    Require(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
    return info;
}

RgbPicture Session::NativeTransfer() {
    TW_HANDLE handle = nullptr;
    CallResult result = Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    if (result.rc == TWRC_XFERDONE) state_ = 7;
    if (result.rc != TWRC_XFERDONE) {
        if (result.rc == TWRC_CANCEL) state_ = 7;
        Fail(TripletName(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET) + " failed", result);
    }
    if (!handle) throw ScanError("the native transfer handed over no memory");
    struct Freer {
        TwainLink& link;
        TW_HANDLE handle;
        ~Freer() { link.Free(handle); }
    } freer{link_, handle};  // the block is the application's to free
    BlockLock lock(link_, handle);
    if (!lock.Data()) throw ScanError("cannot lock the native transfer's memory");
    std::size_t size = 0;
    if (auto known = link_.BlockSize(handle)) {
        size = *known;
    } else {
        // A manager's block has no size to ask for: the header must be trusted.
        size = DibAnnouncedSize(lock.Data());
    }
    RgbPicture picture;
    std::string error;
    if (!DecodeDib(lock.Data(), size, picture, error))
        throw ScanError("the native transfer's DIB is unusable: " + error);
    return picture;
}

RgbPicture Session::MemoryTransfer(const TW_IMAGEINFO& info,
                                   const std::function<void(unsigned, unsigned, unsigned)>& strip) {
    TW_SETUPMEMXFER setup{};
    Require(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup);
    StripAssembler assembler;
    std::string error;
    if (!assembler.Begin(info, error)) throw ScanError(error);
    // The preferred size, but never less than one row: a wide picture has
    // rows longer than a small preferred buffer.
    const std::uint64_t rowBytes = PaddedRowBytes(static_cast<std::uint64_t>(info.ImageWidth),
                                                  static_cast<std::uint64_t>(info.BitsPerPixel));
    std::uint64_t size = std::max<std::uint64_t>({setup.Preferred, setup.MinBufSize, rowBytes});
    if (size > 64u * 1024 * 1024) size = std::max<std::uint64_t>(rowBytes, 64u * 1024 * 1024);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size));

    const unsigned limit = static_cast<unsigned>(info.ImageLength) + 2;  // every strip carries a row
    for (unsigned index = 1;; ++index) {
        TW_IMAGEMEMXFER xfer{};
        xfer.Compression = TWON_DONTCARE16;
        xfer.BytesPerRow = xfer.Columns = xfer.Rows = xfer.XOffset = xfer.YOffset = xfer.BytesWritten = TWON_DONTCARE32;
        xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
        xfer.Memory.Length = static_cast<TW_UINT32>(buffer.size());
        xfer.Memory.TheMem = buffer.data();
        CallResult result = Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
        if (result.rc != TWRC_SUCCESS && result.rc != TWRC_XFERDONE) {
            if (result.rc == TWRC_CANCEL) state_ = 7;
            Fail(TripletName(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET) + " failed at strip " + std::to_string(index),
                 result);
        }
        state_ = 7;
        if (!assembler.Add(xfer, buffer.data(), buffer.size(), error)) throw ScanError(error);
        if (strip) strip(index, xfer.YOffset, xfer.Rows);
        if (result.rc == TWRC_XFERDONE) break;
        if (index >= limit) throw ScanError("the memory transfer does not end");
    }
    if (!assembler.Complete()) throw ScanError("the memory transfer ended before every row arrived");
    return assembler.TakePicture();
}

void Session::FileTransfer(const std::string& path, FileFormat format) {
    TW_SETUPFILEXFER setup{};
    if (path.size() >= sizeof setup.FileName)
        throw ScanError("the file name is longer than the 255 characters TWAIN carries: " + path);
    std::memcpy(setup.FileName, path.c_str(), path.size() + 1);
    setup.Format = format == FileFormat::Bmp ? TWFF_BMP : TWFF_TIFF;
    setup.VRefNum = 0;
    Require(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup);
    CallResult result = Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr);
    if (result.rc == TWRC_XFERDONE || result.rc == TWRC_CANCEL) state_ = 7;
    if (result.rc != TWRC_XFERDONE) Fail(TripletName(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET) + " failed", result);
    if (!FileExists(path)) throw ScanError("the source reported the file transfer done, but there is no " + path);
}

TW_UINT16 Session::EndTransfer() {
    TW_PENDINGXFERS pending{};
    Require(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
    state_ = pending.Count != 0 ? 6 : 5;
    return pending.Count;
}

void Session::ResetTransfers() {
    TW_PENDINGXFERS pending{};
    Require(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
    state_ = 5;
}

void Session::Disable() {
    TW_USERINTERFACE ui{};
    Require(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    state_ = 4;
    Mailbox::Instance().Clear();
}

void Session::Close() {
    if (state_ >= 4) {
        CallResult result = Send(true, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_);
        if (result.rc != TWRC_SUCCESS) Fail(TripletName(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS) + " failed", result);
        state_ = 3;
    }
    link_.Stop();
    state_ = 1;
}

void Session::Shutdown() {
    // After a failure: walk the states back down, ignoring what fails.
    if (state_ == 7) {
        TW_PENDINGXFERS pending{};
        if (Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending).rc == TWRC_SUCCESS)
            state_ = pending.Count ? 6 : 5;
    }
    if (state_ == 6) {
        TW_PENDINGXFERS pending{};
        if (Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending).rc == TWRC_SUCCESS) state_ = 5;
    }
    if (state_ == 5) {
        TW_USERINTERFACE ui{};
        if (Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui).rc == TWRC_SUCCESS) state_ = 4;
    }
    if (state_ == 4 && Send(true, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_).rc == TWRC_SUCCESS) state_ = 3;
    link_.Stop();
    state_ = 1;
}

}  // namespace scan
}  // namespace kiv
