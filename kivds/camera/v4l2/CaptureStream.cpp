#include "kivds/camera/v4l2/CaptureStream.h"

#include <cerrno>
#include <cstdint>

#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>

#include "kivds/camera/v4l2/Errno.h"
#include "kivds/platform/Log.h"

namespace kiv {
namespace v4l2 {
namespace {

constexpr std::uint32_t kBufferCount = 4;
constexpr int kPollTimeoutMs = 500;

bool Gone(int error) { return error == ENODEV || error == EIO || error == ENXIO; }

}  // namespace

CaptureStream::~CaptureStream() { Stop(); }

PlatformResult CaptureStream::Start(int fd, const std::string& node, IFrameSink& sink) {
    if (Active() || fd < 0) return PlatformResult::Failed;
    m_fd = fd;
    m_node = node;
    m_sink = &sink;
    auto fail = [this](const char* call, int error) {
        const PlatformResult r = ErrnoFailure("v4l2.run", call, m_node, error);
        ReleaseBuffers();
        m_fd = -1;
        m_sink = nullptr;
        return r;
    };

    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (Xioctl(fd, VIDIOC_REQBUFS, &request) != 0) return fail("VIDIOC_REQBUFS", errno);
    if (request.count == 0) return fail("VIDIOC_REQBUFS (no buffer)", ENOMEM);
    for (std::uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (Xioctl(fd, VIDIOC_QUERYBUF, &buffer) != 0) return fail("VIDIOC_QUERYBUF", errno);
        void* address = ::mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, buffer.m.offset);
        if (address == MAP_FAILED) return fail("mmap", errno);
        m_buffers.push_back({address, buffer.length});
    }
    for (std::uint32_t i = 0; i < m_buffers.size(); ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (Xioctl(fd, VIDIOC_QBUF, &buffer) != 0) return fail("VIDIOC_QBUF", errno);
    }
    m_wake = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!m_wake.Valid()) return fail("eventfd", errno);
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(fd, VIDIOC_STREAMON, &type) != 0) {
        const int error = errno;
        m_wake.Reset();
        return fail("VIDIOC_STREAMON", error);
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

void CaptureStream::EndOnError(const char* call, int error) {
    const bool gone = Gone(error);
    Log(LogLevel::Error, "v4l2.stream", "%s: %s failed with %s on %s", gone ? "device lost" : "stopped", call,
        ErrnoName(error).c_str(), m_node.c_str());
    if (gone) m_sink->OnDeviceLost();
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
            Log(LogLevel::Error, "v4l2.stream", "device lost: poll reported %s on %s",
                (fds[0].revents & POLLHUP) ? "a hang-up" : "an error", m_node.c_str());
            m_sink->OnDeviceLost();
            return;
        }
        if (!(fds[0].revents & POLLIN)) continue;
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (Xioctl(m_fd, VIDIOC_DQBUF, &buffer) != 0) {
            const int error = errno;
            if (error == EAGAIN) continue;
            EndOnError("VIDIOC_DQBUF", error);
            return;
        }
        if (buffer.index >= m_buffers.size()) {  // the driver broke its word
            Log(LogLevel::Error, "v4l2.stream", "stopped: VIDIOC_DQBUF gave buffer %u of %zu on %s",
                static_cast<unsigned>(buffer.index), m_buffers.size(), m_node.c_str());
            return;
        }
        const Mapping& m = m_buffers[buffer.index];
        if (!(buffer.flags & V4L2_BUF_FLAG_ERROR) && buffer.bytesused > 0 && buffer.bytesused <= m.length)
            m_sink->OnPayload(static_cast<const std::uint8_t*>(m.address), buffer.bytesused);
        if (Xioctl(m_fd, VIDIOC_QBUF, &buffer) != 0) {
            EndOnError("VIDIOC_QBUF", errno);
            return;
        }
    }
}

}  // namespace v4l2
}  // namespace kiv
