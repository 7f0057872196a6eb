#include "support/DsHost.h"

#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "tools/kivscan/ScanPlatform.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kivtest {

using namespace twain;

namespace {

// The double's source-manager side is reached through plain C callbacks, so
// its records are process-wide; one DsHost exists at a time.
struct Recorder {
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<Notification> notifications;
    std::function<void(TW_UINT16)> callback;
    MemoryCounters memory;
    DsHost::AnswerCounts answers;
    std::map<void*, std::size_t> sizes;
    TW_UINT16 dsmAnswer = TWRC_SUCCESS;
};

Recorder& Rec() {
    static Recorder recorder;
    return recorder;
}

TW_UINT16 KIV_TWAIN_CALL FakeDsmEntry(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 dg, TW_UINT16 dat,
                                      TW_UINT16 msg, TW_MEMREF) {
    Notification n{};
    if (origin) n.origin = *origin;
    if (destination) n.destination = *destination;
    n.dg = dg;
    n.dat = dat;
    n.msg = msg;
    std::function<void(TW_UINT16)> callback;
    TW_UINT16 answer;
    {
        std::lock_guard<std::mutex> guard(Rec().lock);
        Rec().notifications.push_back(n);
        Rec().arrived.notify_all();
        callback = Rec().callback;
        answer = Rec().dsmAnswer;
    }
    if (callback) callback(msg);
    return answer;
}

void CopyName(char* to, const char* from) {
    std::strncpy(to, from, 33);
    to[33] = '\0';
}

}  // namespace

std::string DataSourcePath() {
    if (const char* path = std::getenv("KIVDS_DS_PATH"); path && *path) return path;
    return kiv::scan::ExecutableDirectory() + "kivds.ds";
}

TW_HANDLE KIV_TWAIN_CALL DsHost::Allocate(TW_UINT32 size) {
    std::lock_guard<std::mutex> guard(Rec().lock);
    ++Rec().memory.allocations;
    void* block = std::calloc(size ? size : 1, 1);
    if (block) Rec().sizes[block] = size;
    return block;
}

std::size_t DsHost::BlockSize(TW_HANDLE handle) {
    std::lock_guard<std::mutex> guard(Rec().lock);
    auto found = Rec().sizes.find(handle);
    return found == Rec().sizes.end() ? 0 : found->second;
}

void KIV_TWAIN_CALL DsHost::Free(TW_HANDLE handle) {
    {
        std::lock_guard<std::mutex> guard(Rec().lock);
        ++Rec().memory.frees;
        Rec().sizes.erase(handle);
    }
    std::free(handle);
}

TW_MEMREF KIV_TWAIN_CALL DsHost::Lock(TW_HANDLE handle) {
    std::lock_guard<std::mutex> guard(Rec().lock);
    ++Rec().memory.locks;
    return handle;
}

void KIV_TWAIN_CALL DsHost::Unlock(TW_HANDLE) {
    std::lock_guard<std::mutex> guard(Rec().lock);
    ++Rec().memory.unlocks;
}

DsHost::DsHost() : DsHost(Options{}) {}

DsHost::DsHost(Options options) : options_(options) {
    {
        std::lock_guard<std::mutex> guard(Rec().lock);
        Rec().notifications.clear();
        Rec().callback = nullptr;
        Rec().memory = MemoryCounters{};
        Rec().answers = AnswerCounts{};
        Rec().dsmAnswer = options.dsmAnswer;
    }
    app_.Id = 7;
    app_.Version.MajorNum = 1;
    app_.Version.Language = TWLG_ENGLISH;
    app_.Version.Country = TWCY_USA;
    app_.ProtocolMajor = 2;
    app_.ProtocolMinor = 4;
    app_.SupportedGroups = DG_CONTROL | DG_IMAGE | (options.twain2App ? DF_APP2 : 0);
    CopyName(app_.Manufacturer, "Test House");
    CopyName(app_.ProductFamily, "Tests");
    CopyName(app_.ProductName, "kivds protocol tests");

    library_ = kiv::DynamicLibrary::Open(DataSourcePath());
    if (!library_) return;
    entry_ = reinterpret_cast<DsEntryProc>(library_->Symbol("DS_Entry"));
    if (!entry_) return;
    // What the source manager hands every source it opens: its identity with
    // the Id it assigned.
    source_.Id = 42;
    if (options_.passEntryPoints) {
        TW_ENTRYPOINT points{};
        points.Size = sizeof points;
        points.DSM_Entry = FakeDsmEntry;
        points.DSM_MemAllocate = &DsHost::Allocate;
        points.DSM_MemFree = &DsHost::Free;
        points.DSM_MemLock = &DsHost::Lock;
        points.DSM_MemUnlock = &DsHost::Unlock;
        Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &points);
    }
}

DsHost::~DsHost() {
    // Like a source manager, close the source before unloading it: end or
    // discard a transfer, disable, close. Each step fails harmlessly when the
    // source is not in its state.
    if (entry_ && options_.closeBeforeUnload) {
        TW_PENDINGXFERS pending{};
        Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
        Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
        DisableDS();
        CloseDS();
    }
    library_.reset();
}

TW_UINT16 DsHost::Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    return CallFrom(&app_, dg, dat, msg, data);
}

TW_UINT16 DsHost::CallFrom(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    if (!entry_) return TWRC_FAILURE;
    return entry_(origin, dg, dat, msg, data);
}

TW_UINT16 DsHost::Status() {
    TW_STATUS status{};
    status.ConditionCode = 0xFFFF;
    if (Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS) return 0xFFFF;
    return status.ConditionCode;
}

TW_UINT16 DsHost::OpenDS() {
    const TW_UINT16 rc = Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_);
    // The TWAIN working group's source managers ask a source that failed to
    // open for its status at once, while it is still closed, and hand that
    // code to the application.
    if (rc == TWRC_FAILURE && options_.statusAfterFailedOpen) openCondition_ = Status();
    return rc;
}
TW_UINT16 DsHost::CloseDS() { return Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_); }

TW_UINT16 DsHost::EnableNoUi() {
    TW_USERINTERFACE ui{};
    ui.ShowUI = 0;
    return Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
}

TW_UINT16 DsHost::DisableDS() {
    TW_USERINTERFACE ui{};
    return Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
}

TW_UINT16 DsHost::EndXfer(TW_UINT16* count) {
    TW_PENDINGXFERS pending{};
    TW_UINT16 rc = Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
    if (count) *count = pending.Count;
    return rc;
}

TW_UINT16 DsHost::MemoryTransfer(std::size_t bufferBytes, std::vector<unsigned char>& picture) {
    std::vector<unsigned char> buffer(bufferBytes);
    for (;;) {
        TW_IMAGEMEMXFER xfer{};
        xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
        xfer.Memory.Length = static_cast<TW_UINT32>(buffer.size());
        xfer.Memory.TheMem = buffer.data();
        const TW_UINT16 rc = Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
        if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) return rc;
        if (xfer.BytesWritten > buffer.size()) return TWRC_FAILURE;  // a source that wrote past the buffer
        picture.insert(picture.end(), buffer.begin(), buffer.begin() + xfer.BytesWritten);
        if (rc == TWRC_XFERDONE) return rc;
    }
}

TW_UINT16 DsHost::EnableUi() {
    TW_USERINTERFACE ui{};
    ui.ShowUI = 1;
    return Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
}

std::vector<Notification> DsHost::Notifications() const {
    std::lock_guard<std::mutex> guard(Rec().lock);
    return Rec().notifications;
}

std::size_t DsHost::CountNotifications(TW_UINT16 msg) const {
    std::lock_guard<std::mutex> guard(Rec().lock);
    std::size_t count = 0;
    for (const Notification& n : Rec().notifications) count += n.msg == msg ? 1 : 0;
    return count;
}

bool DsHost::WaitForNotification(TW_UINT16 msg, std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(Rec().lock);
    return Rec().arrived.wait_for(guard, timeout, [&] {
        std::size_t seen = 0;
        for (const Notification& n : Rec().notifications) seen += n.msg == msg ? 1 : 0;
        return seen >= count;
    });
}

void DsHost::SetNotificationCallback(std::function<void(TW_UINT16 msg)> callback) {
    std::lock_guard<std::mutex> guard(Rec().lock);
    Rec().callback = std::move(callback);
}
void DsHost::ClearNotifications() {
    std::lock_guard<std::mutex> guard(Rec().lock);
    Rec().notifications.clear();
}
const MemoryCounters& DsHost::Memory() const { return Rec().memory; }

void DsHost::AnswerInside(InsideAnswers answers) {
    SetNotificationCallback([this, answers](TW_UINT16 msg) {
        bool ok = true;
        bool disabled = false;
        bool transferred = false;
        if (msg == MSG_CLOSEDSREQ && answers.disableOnCloseRequest) {
            disabled = DisableDS() == TWRC_SUCCESS;
            ok = disabled;
        } else if (msg == MSG_XFERREADY && answers.transferOnXferReady) {
            TW_IMAGEINFO info{};
            ok = Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) == TWRC_SUCCESS;
            TW_MEMREF dib = nullptr;
            const TW_UINT16 rc = Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib);
            if (dib) Free(dib);
            transferred = ok && rc == TWRC_XFERDONE;
            transferred = EndXfer() == TWRC_SUCCESS && transferred;
            ok = transferred;
        }
        std::lock_guard<std::mutex> guard(Rec().lock);
        Rec().answers.disabled += disabled ? 1 : 0;
        Rec().answers.transferred += transferred ? 1 : 0;
        Rec().answers.failed += ok ? 0 : 1;
        Rec().arrived.notify_all();
    });
}

DsHost::AnswerCounts DsHost::Answered() const {
    std::lock_guard<std::mutex> guard(Rec().lock);
    return Rec().answers;
}

bool DsHost::WaitForAnswers(const std::function<bool(const AnswerCounts&)>& done,
                            std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(Rec().lock);
    return Rec().arrived.wait_for(guard, timeout, [&] { return done(Rec().answers); });
}

bool DsHost::PumpEvents(std::chrono::milliseconds time, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + time;
    for (;;) {
        if (done && done()) return true;
        if (std::chrono::steady_clock::now() >= end) return !done;
#ifdef _WIN32
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TW_EVENT event{};
            event.pEvent = &msg;
            if (Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) != TWRC_DSEVENT) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
#else
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
#endif
    }
}

}  // namespace kivtest
