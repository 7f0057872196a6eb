// How kivscan reaches a data source: by loading the source file itself and
// playing the source manager's part (DirectLink), or through a TWAIN source
// manager library (ManagerLink).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "kivds/platform/Library.h"
#include "kivds/protocol/Twain.h"

namespace kiv {
namespace scan {

// Messages the source sends the application (MSG_XFERREADY,
// MSG_CLOSEDSREQ, ...), whether they arrive through DSM_Entry, a registered
// callback (possibly on another thread) or MSG_PROCESSEVENT.
class Mailbox {
public:
    static Mailbox& Instance();
    void Post(twain::TW_UINT16 msg);
    // The oldest message, waiting up to `timeout` for one.
    std::optional<twain::TW_UINT16> Take(std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
    void Clear();

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<twain::TW_UINT16> messages_;
};

class TwainLink {
public:
    virtual ~TwainLink() = default;

    // What the link talks to, for the progress output.
    virtual std::string Describe() const = 0;

    // Loads the library; the source manager is opened with `app` (which it
    // may complete). False with a reason in `error`.
    virtual bool Start(twain::TW_IDENTITY& app, std::string& error) = 0;

    // Picks the source to open and fills `source` (state 3). False with a
    // reason in `error`.
    virtual bool FindSource(twain::TW_IDENTITY& source, std::string& error) = 0;

    // A triplet for the source (pDest = the source).
    virtual twain::TW_UINT16 ToSource(twain::TW_UINT32 dg, twain::TW_UINT16 dat, twain::TW_UINT16 msg, void* data) = 0;
    // A triplet for the source manager (pDest = null): MSG_OPENDS,
    // MSG_CLOSEDS and the status after their failure. The direct link gives
    // them to the source, which is its own manager there.
    virtual twain::TW_UINT16 ToManager(twain::TW_UINT32 dg, twain::TW_UINT16 dat, twain::TW_UINT16 msg, void* data) = 0;

    // After a successful MSG_OPENDS: whatever the link must arrange for
    // notifications (the manager link registers its callback).
    virtual void SourceOpened() = 0;

    // Where the link reports the triplets it sends on its own (the source
    // manager's part), one line each; unset: silent.
    void SetLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }

    // Closes the source manager and unloads the library.
    virtual void Stop() = 0;

    // The memory functions that go with the blocks exchanged with the source.
    virtual twain::TW_HANDLE Allocate(twain::TW_UINT32 size) = 0;
    virtual void* Lock(twain::TW_HANDLE handle) = 0;
    virtual void Unlock(twain::TW_HANDLE handle) = 0;
    virtual void Free(twain::TW_HANDLE handle) = 0;
    // The size of a block the source allocated, when the link can tell.
    virtual std::optional<std::size_t> BlockSize(twain::TW_HANDLE handle) const = 0;

protected:
    // "DG / DAT / MSG -> TWRC_..." for the log.
    void Log(twain::TW_UINT32 dg, twain::TW_UINT16 dat, twain::TW_UINT16 msg, twain::TW_UINT16 rc) const;

private:
    std::function<void(const std::string&)> log_;
};

std::unique_ptr<TwainLink> MakeDirectLink(const std::string& sourcePath);
std::unique_ptr<TwainLink> MakeManagerLink(const std::string& dsmPath, const std::string& sourceName);

// Locks a block for the duration of a scope.
class BlockLock {
public:
    BlockLock(TwainLink& link, twain::TW_HANDLE handle) : link_(link), handle_(handle), data_(link.Lock(handle)) {}
    ~BlockLock() {
        if (data_) link_.Unlock(handle_);
    }
    BlockLock(const BlockLock&) = delete;
    BlockLock& operator=(const BlockLock&) = delete;
    const std::uint8_t* Data() const { return static_cast<const std::uint8_t*>(data_); }

private:
    TwainLink& link_;
    twain::TW_HANDLE handle_;
    void* data_;
};

}  // namespace scan
}  // namespace kiv
