// Memory-mapped V4L2 streaming of one open capture node: the buffers
// (REQBUFS, QUERYBUF, mmap, QBUF), STREAMON, and a thread that waits with poll
// and hands every good buffer to a sink before queueing it again. Buffers the
// driver flags V4L2_BUF_FLAG_ERROR are queued again unused. ENODEV or EIO from
// DQBUF/QBUF, and POLLHUP or POLLERR, end the thread as a lost device.
//
// Start and Stop are called from one thread (the camera's owner); the sink is
// called on the streaming thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "kivds/camera/IVideoPlatform.h"
#include "kivds/camera/v4l2/UniqueFd.h"

namespace kiv {
namespace v4l2 {

class IFrameSink {
public:
    virtual ~IFrameSink() = default;
    // A filled buffer: size bytes at data, valid only during the call.
    virtual void OnPayload(const std::uint8_t* data, std::size_t size) = 0;
    // The device went away; no payload follows.
    virtual void OnDeviceLost() = 0;

protected:
    IFrameSink() = default;
};

class CaptureStream {
public:
    CaptureStream() = default;
    ~CaptureStream();
    CaptureStream(const CaptureStream&) = delete;
    CaptureStream& operator=(const CaptureStream&) = delete;

    // Maps the buffers, starts streaming and the thread. The result is the
    // failing call's errno read by FromErrno (Errno.h), logged with node (the
    // device node's name, for the log only); on failure everything set up so
    // far is undone.
    PlatformResult Start(int fd, const std::string& node, IFrameSink& sink);
    // Ends the thread, stops streaming, unmaps and frees the buffers.
    // Idempotent; the fd stays open.
    void Stop();
    bool Active() const { return m_fd >= 0; }

private:
    struct Mapping {
        void* address = nullptr;
        std::size_t length = 0;
    };

    void Loop();
    // The streaming thread's end on a failed call: logged, and a lost device
    // when the errno says it is gone.
    void EndOnError(const char* call, int error);
    // Unmaps and frees the buffers (REQBUFS 0).
    void ReleaseBuffers();

    int m_fd = -1;  // not owned
    std::string m_node;
    IFrameSink* m_sink = nullptr;
    std::vector<Mapping> m_buffers;
    UniqueFd m_wake;  // eventfd: written by Stop
    std::thread m_thread;
};

}  // namespace v4l2
}  // namespace kiv
