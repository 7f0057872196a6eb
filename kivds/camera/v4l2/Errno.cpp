#include "kivds/camera/v4l2/Errno.h"

#include <cerrno>

#include "kivds/platform/Log.h"

namespace kiv {
namespace v4l2 {
namespace {

struct ErrnoRow {
    int error;
    const char* name;
    PlatformResult result;
};

// uvcvideo answers ENODEV (and EIO on a transfer that dies with the device)
// once the camera is unplugged, ENOENT for a unit or selector it does not
// have.
constexpr ErrnoRow kErrnos[] = {
    {EBUSY, "EBUSY", PlatformResult::Busy},       {ENODEV, "ENODEV", PlatformResult::NotFound},
    {ENXIO, "ENXIO", PlatformResult::NotFound},   {EIO, "EIO", PlatformResult::NotFound},
    {ENOENT, "ENOENT", PlatformResult::NotFound}, {EACCES, "EACCES", PlatformResult::Failed},
    {EPERM, "EPERM", PlatformResult::Failed},     {EINVAL, "EINVAL", PlatformResult::Failed},
    {ENOMEM, "ENOMEM", PlatformResult::Failed},   {ENOBUFS, "ENOBUFS", PlatformResult::Failed},
    {ENOSPC, "ENOSPC", PlatformResult::Failed},   {EPIPE, "EPIPE", PlatformResult::Failed},
    {EPROTO, "EPROTO", PlatformResult::Failed},   {ETIMEDOUT, "ETIMEDOUT", PlatformResult::Failed},
    {EAGAIN, "EAGAIN", PlatformResult::Failed},   {EFAULT, "EFAULT", PlatformResult::Failed},
    {ENOTTY, "ENOTTY", PlatformResult::Failed},   {EMFILE, "EMFILE", PlatformResult::Failed},
};

const ErrnoRow* Find(int error) {
    for (const ErrnoRow& row : kErrnos)
        if (row.error == error) return &row;
    return nullptr;
}

const char* ResultName(PlatformResult r) {
    switch (r) {
        case PlatformResult::Ok: return "ok";
        case PlatformResult::NotFound: return "not found";
        case PlatformResult::Busy: return "busy";
        default: return "failed";
    }
}

}  // namespace

PlatformResult FromErrno(int error) {
    const ErrnoRow* row = Find(error);
    return row ? row->result : PlatformResult::Failed;
}

std::string ErrnoName(int error) {
    const ErrnoRow* row = Find(error);
    if (!row) return "errno " + std::to_string(error);
    return std::string(row->name) + " (" + std::to_string(error) + ")";
}

PlatformResult ErrnoFailure(const char* operation, const char* call, const std::string& node, int error) {
    const PlatformResult result = FromErrno(error);
    if (LogEnabled(LogLevel::Error))
        Log(LogLevel::Error, operation, "%s: %s failed with %s on %s", ResultName(result), call,
            ErrnoName(error).c_str(), node.empty() ? "no device" : node.c_str());
    return result;
}

}  // namespace v4l2
}  // namespace kiv
