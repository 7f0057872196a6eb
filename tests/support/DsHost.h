// A test double of a TWAIN application and its source manager.
//
// It loads the built data source (kivds.ds next to the test executable, or
// the file named by KIVDS_DS_PATH), calls DS_Entry as a source manager does
// (origin = the application's identity), optionally passes DAT_ENTRYPOINT
// with its own DSM_Entry and memory functions, records every notification the
// source sends through DSM_Entry, and counts allocations and outstanding locks.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kivds/platform/Library.h"
#include "kivds/protocol/Twain.h"
#include "support/ScopedEnv.h"

namespace kivtest {

struct Notification {
    twain::TW_IDENTITY origin;
    twain::TW_IDENTITY destination;
    twain::TW_UINT32 dg;
    twain::TW_UINT16 dat;
    twain::TW_UINT16 msg;
};

// Counters of the memory functions handed to the source.
struct MemoryCounters {
    int allocations = 0;
    int frees = 0;
    int locks = 0;
    int unlocks = 0;
    int outstandingLocks() const { return locks - unlocks; }
};

class DsHost {
public:
    struct Options {
        bool passEntryPoints = true;                       // send DAT_ENTRYPOINT after loading
        bool twain2App = true;                             // DF_APP2 in the application's identity
        twain::TW_UINT16 dsmAnswer = twain::TWRC_SUCCESS;  // what DSM_Entry answers notifications with
        // After a failed MSG_OPENDS, ask DAT_STATUS at once, as the real
        // source managers do (see OpenFailureCondition).
        bool statusAfterFailedOpen = true;
        // Disable and close the source before unloading it; without, the
        // source is unloaded in whatever state it is (an application that
        // exits with the dialog open).
        bool closeBeforeUnload = true;
    };

    DsHost();
    explicit DsHost(Options options);
    ~DsHost();
    DsHost(const DsHost&) = delete;
    DsHost& operator=(const DsHost&) = delete;

    bool Loaded() const { return entry_ != nullptr; }

    twain::TW_UINT16 Call(twain::TW_UINT32 dg, twain::TW_UINT16 dat, twain::TW_UINT16 msg, void* data);
    // Calls DS_Entry with an explicit origin (null allowed).
    twain::TW_UINT16 CallFrom(twain::TW_IDENTITY* origin, twain::TW_UINT32 dg, twain::TW_UINT16 dat,
                              twain::TW_UINT16 msg, void* data);
    // DAT_STATUS/MSG_GET; returns the condition code (0xFFFF when the call itself failed).
    twain::TW_UINT16 Status();

    twain::TW_UINT16 OpenDS();
    // The condition code DAT_STATUS gave right after the last failed
    // MSG_OPENDS (what a source manager reports to the application); 0xFFFF
    // when the source refused DAT_STATUS, or when no open has failed.
    twain::TW_UINT16 OpenFailureCondition() const { return openCondition_; }
    twain::TW_UINT16 CloseDS();
    // MSG_ENABLEDS with ShowUI = 0.
    twain::TW_UINT16 EnableNoUi();
    twain::TW_UINT16 DisableDS();
    twain::TW_UINT16 EndXfer(twain::TW_UINT16* count = nullptr);
    // DAT_IMAGEMEMXFER strips into an application buffer of `bufferBytes`
    // until the transfer ends, appended to `picture`. Returns TWRC_XFERDONE,
    // or the code of the call that failed.
    twain::TW_UINT16 MemoryTransfer(std::size_t bufferBytes, std::vector<unsigned char>& picture);

    twain::TW_IDENTITY& AppIdentity() { return app_; }
    twain::TW_IDENTITY& SourceIdentity() { return source_; }
    // MSG_ENABLEDS with ShowUI = 1 (the source's dialog).
    twain::TW_UINT16 EnableUi();
    // A copy: notifications may arrive from the source's dialog thread.
    std::vector<Notification> Notifications() const;
    void ClearNotifications();
    // Waits until `count` notifications with `msg` have arrived; false after `timeout`.
    bool WaitForNotification(twain::TW_UINT16 msg, std::size_t count = 1,
                             std::chrono::milliseconds timeout = std::chrono::milliseconds(20000)) const;
    // The application's event loop on Windows, where the source's dialog lives
    // in it: every queued message goes to MSG_PROCESSEVENT first and is
    // dispatched only when the source did not take it. Runs for `time`, or
    // until `done` holds (true then, false when the time ran out first).
    // Elsewhere the dialog has a thread of its own and this only waits.
    bool PumpEvents(std::chrono::milliseconds time, const std::function<bool()>& done = {});
    std::size_t CountNotifications(twain::TW_UINT16 msg) const;
    // Called by the source manager double for every notification, on the
    // thread that sent it, after it was recorded (an application's callback).
    void SetNotificationCallback(std::function<void(twain::TW_UINT16 msg)> callback);
    const MemoryCounters& Memory() const;

    // How the application answers notifications from inside the source
    // manager's callback, on the thread that sent them, as many applications
    // do. Replaces the notification callback.
    struct InsideAnswers {
        bool disableOnCloseRequest = false;  // MSG_DISABLEDS inside MSG_CLOSEDSREQ
        // DAT_IMAGEINFO, one native transfer and MSG_ENDXFER inside MSG_XFERREADY
        bool transferOnXferReady = false;
    };
    struct AnswerCounts {
        int disabled = 0;     // MSG_DISABLEDS that succeeded
        int transferred = 0;  // transfers that ended with TWRC_XFERDONE and a successful MSG_ENDXFER
        int failed = 0;       // answers with a call that failed
    };
    void AnswerInside(InsideAnswers answers);
    AnswerCounts Answered() const;
    // Waits until the counts satisfy `done`; false after `timeout`.
    bool WaitForAnswers(const std::function<bool(const AnswerCounts&)>& done,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(20000)) const;

    // Memory functions of the double, for tests that free what the source handed over.
    // (The manager's calling convention: the source calls them through TW_ENTRYPOINT.)
    static twain::TW_HANDLE KIV_TWAIN_CALL Allocate(twain::TW_UINT32 size);
    static void KIV_TWAIN_CALL Free(twain::TW_HANDLE handle);
    static twain::TW_MEMREF KIV_TWAIN_CALL Lock(twain::TW_HANDLE handle);
    static void KIV_TWAIN_CALL Unlock(twain::TW_HANDLE handle);
    // The size a block was allocated with through Allocate (0 for others).
    static std::size_t BlockSize(twain::TW_HANDLE handle);

private:
    Options options_;
    std::unique_ptr<kiv::DynamicLibrary> library_;
    using DsEntryProc = twain::TW_UINT16(KIV_TWAIN_CALL*)(twain::TW_IDENTITY*, twain::TW_UINT32, twain::TW_UINT16,
                                                          twain::TW_UINT16, twain::TW_MEMREF);
    DsEntryProc entry_ = nullptr;
    twain::TW_IDENTITY app_{};
    twain::TW_IDENTITY source_{};
    twain::TW_UINT16 openCondition_ = 0xFFFF;
};

// The path of the data source under test.
std::string DataSourcePath();

}  // namespace kivtest
