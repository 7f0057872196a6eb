#include "kivsane/Signals.h"

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include "kivds/platform/Log.h"

namespace kiv {
namespace sane {

CancelFlag::CancelFlag() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        Log(LogLevel::Error, "sane.cancel", "pipe2: errno %d; a cancel then waits for the next step", errno);
        return;
    }
    m_read = v4l2::UniqueFd(fds[0]);
    m_write = v4l2::UniqueFd(fds[1]);
}

void CancelFlag::Raise() noexcept {
    m_raised.store(true, std::memory_order_release);
    if (m_write.Valid()) {
        const char wake = 1;
        // Full pipe: a wake-up is pending anyway. Both ends are ours, so no SIGPIPE.
        const ssize_t written = ::write(m_write.Get(), &wake, 1);
        (void)written;
    }
}

void CancelFlag::Clear() noexcept {
    m_raised.store(false, std::memory_order_release);
    if (!m_read.Valid()) return;
    char drain[64];
    while (::read(m_read.Get(), drain, sizeof drain) > 0) {
    }
}

bool CancelFlag::Wait(int timeoutMs) const noexcept {
    if (Raised()) return true;
    if (!m_read.Valid()) {
        ::usleep(static_cast<useconds_t>(timeoutMs) * 1000);
        return Raised();
    }
    pollfd fd{m_read.Get(), POLLIN, 0};
    ::poll(&fd, 1, timeoutMs);
    return Raised();
}

bool SelectFd::OpenReadable() {
    Close();
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        Log(LogLevel::Error, "sane.start", "socketpair: errno %d: no select descriptor", errno);
        return false;
    }
    m_frontend = v4l2::UniqueFd(fds[0]);
    m_backend = v4l2::UniqueFd(fds[1]);
    const char ready = 1;
    // MSG_NOSIGNAL: a frontend that closed its end must not get SIGPIPE.
    if (::send(m_backend.Get(), &ready, 1, MSG_NOSIGNAL) != 1) {
        Close();
        return false;
    }
    return true;
}

void SelectFd::Close() noexcept {
    m_frontend.Reset();
    m_backend.Reset();
}

ScopedSignalBlock::ScopedSignalBlock() noexcept {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &m_saved);
}

ScopedSignalBlock::~ScopedSignalBlock() { pthread_sigmask(SIG_SETMASK, &m_saved, nullptr); }

}  // namespace sane
}  // namespace kiv
