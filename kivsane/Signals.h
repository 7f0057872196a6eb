// The two descriptors a scan uses to talk across threads and signals.
//
// CancelFlag: sane_cancel may come from a signal handler or another thread
// while sane_start waits; Raise is async-signal-safe (an atomic store and one
// write to a pipe the flag owns both ends of), Wait sleeps until the timeout
// or a Raise.
//
// SelectFd: the descriptor sane_get_select_fd hands out, readable while scan
// data is ready and closed when the next sane_read would give EOF.
#pragma once

#include <atomic>

#include <signal.h>

#include "kivds/camera/v4l2/UniqueFd.h"

namespace kiv {
namespace sane {

class CancelFlag {
public:
    CancelFlag();
    CancelFlag(const CancelFlag&) = delete;
    CancelFlag& operator=(const CancelFlag&) = delete;

    // Async-signal-safe.
    void Raise() noexcept;
    bool Raised() const noexcept { return m_raised.load(std::memory_order_acquire); }
    // Clears the flag and the pipe (at the start of a scan).
    void Clear() noexcept;
    // True when the flag is raised now or within timeoutMs.
    bool Wait(int timeoutMs) const noexcept;

private:
    std::atomic<bool> m_raised{false};
    v4l2::UniqueFd m_read;
    v4l2::UniqueFd m_write;
};

class SelectFd {
public:
    SelectFd() = default;
    SelectFd(const SelectFd&) = delete;
    SelectFd& operator=(const SelectFd&) = delete;

    // A new pair, readable at once (the data of a scan is ready); false when
    // the system refuses one.
    bool OpenReadable();
    void Close() noexcept;
    // The frontend's end; -1 when closed.
    int Fd() const noexcept { return m_frontend.Get(); }

private:
    v4l2::UniqueFd m_frontend;
    v4l2::UniqueFd m_backend;
};

// Blocks every signal in the calling thread while it lives, so that threads
// started meanwhile (the camera's streamer) inherit the mask: no signal of
// the application (SIGPIPE above all) runs on a thread of the backend.
class ScopedSignalBlock {
public:
    ScopedSignalBlock() noexcept;
    ~ScopedSignalBlock();
    ScopedSignalBlock(const ScopedSignalBlock&) = delete;
    ScopedSignalBlock& operator=(const ScopedSignalBlock&) = delete;

private:
    sigset_t m_saved;
};

}  // namespace sane
}  // namespace kiv
