#include "kivds/camera/v4l2/CaptureStream.h"

#include <cerrno>
#include <cstdint>

#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>

namespace kiv {
namespace v4l2 {
namespace {

constexpr std::uint32_t kBufferCount = 4;
constexpr int kPollTimeoutMs = 500;

PlatformResult FromErrno(int error) {
    switch (error) {
    case EBUSY:
        return PlatformResult::Busy;
    case ENODEV:
    case ENXIO:
    case EIO:
        return PlatformResult::NotFound;
    default:
        return PlatformResult::Failed;
    }
}

bool Gone(int error) { return error == ENODEV || error == EIO || error == ENXIO; }

}  // namespace

CaptureStream::~CaptureStream() { Stop(); }

PlatformResult CaptureStream::Start(int fd, IFrameSink& sink) {
    if (Active() || fd < 0) return PlatformResult::Failed;
    m_fd = fd;
    m_sink = &sink;
    auto fail = [this](int error) {
        const PlatformResult r = FromErrno(error);
        ReleaseBuffers();
        m_fd = -1;
        m_sink = nullptr;
        return r;
    };

    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (Xioctl(fd, VIDIOC_REQBUFS, &request) != 0) return fail(errno);
    if (request.count == 0) return fail(ENOMEM);
    for (std::uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (Xioctl(fd, VIDIOC_QUERYBUF, &buffer) != 0) return fail(errno);
        void* address = ::mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, buffer.m.offset);
        if (address == MAP_FAILED) return fail(errno);
        m_buffers.push_back({address, buffer.length});
    }
    for (std::uint32_t i = 0; i < m_buffers.size(); ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (Xioctl(fd, VIDIOC_QBUF, &buffer) != 0) return fail(errno);
    }
    m_wake = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!m_wake.Valid()) return fail(errno);
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(fd, VIDIOC_STREAMON, &type) != 0) {
        const int error = errno;
        m_wake.Reset();
        return fail(error);
    }
    m_thread = std::thread(&CaptureStream::Loop, this);
    return PlatformResult::Ok;
}

void CaptureStream::Stop() {
    if (!Active()) return;
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        ssize_t written;
        do {
            written = ::write(m_wake.Get(), &one, sizeof one);
        } while (written < 0 && errno == EINTR);
        m_thread.join();
    }
    m_wake.Reset();
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    Xioctl(m_fd, VIDIOC_STREAMOFF, &type);  // fails harmlessly on a lost device
    ReleaseBuffers();
    m_fd = -1;
    m_sink = nullptr;
}

void CaptureStream::ReleaseBuffers() {
    for (const Mapping& m : m_buffers) ::munmap(m.address, m.length);
    const bool hadBuffers = !m_buffers.empty();
    m_buffers.clear();
    if (hadBuffers || m_fd >= 0) {
        v4l2_requestbuffers request{};
        request.count = 0;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        Xioctl(m_fd, VIDIOC_REQBUFS, &request);
    }
}

void CaptureStream::Loop() {
    for (;;) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake.Get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, kPollTimeoutMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;  // Stop
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            m_sink->OnDeviceLost();
            return;
        }
        if (!(fds[0].revents & POLLIN)) continue;
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (Xioctl(m_fd, VIDIOC_DQBUF, &buffer) != 0) {
            if (errno == EAGAIN) continue;
            if (Gone(errno)) m_sink->OnDeviceLost();
            return;
        }
        if (buffer.index >= m_buffers.size()) return;  // the driver broke its word
        const Mapping& m = m_buffers[buffer.index];
        if (!(buffer.flags & V4L2_BUF_FLAG_ERROR) && buffer.bytesused > 0 && buffer.bytesused <= m.length)
            m_sink->OnPayload(static_cast<const std::uint8_t*>(m.address), buffer.bytesused);
        if (Xioctl(m_fd, VIDIOC_QBUF, &buffer) != 0) {
            if (Gone(errno)) m_sink->OnDeviceLost();
            return;
        }
    }
}

}  // namespace v4l2
}  // namespace kiv
