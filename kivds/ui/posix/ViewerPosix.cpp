// The viewer program on Linux, seen through /proc. A process is its own
// "window": the handle carries the process id, asking it to close sends
// SIGTERM, and starting it again runs the recorded executable.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <memory>

#include "kivds/ui/Viewer.h"

namespace kiv {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    void Reset() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

std::optional<std::uint32_t> ParsePid(const char* name) {
    if (*name == '\0') return std::nullopt;
    std::uint64_t value = 0;
    for (const char* p = name; *p; ++p) {
        if (*p < '0' || *p > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(*p - '0');
        if (value > 0x7FFFFFFF) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::string ProcPath(std::uint32_t pid, const char* entry) { return "/proc/" + std::to_string(pid) + "/" + entry; }

std::optional<std::string> ReadLink(const std::string& link) {
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t length = readlink(link.c_str(), &buffer[0], buffer.size());
        if (length < 0) return std::nullopt;
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
        if (buffer.size() >= 65536) return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
}

// The executable's file name. Processes of other users do not let us read
// their executable link; their command name (at most 15 characters, enough for
// the viewer's name) still lists them, as a Windows snapshot lists processes
// that cannot be opened.
std::string ExecutableName(std::uint32_t pid) {
    if (auto target = ReadLink(ProcPath(pid, "exe"))) return target->substr(target->find_last_of('/') + 1);
    std::ifstream comm(ProcPath(pid, "comm"));
    std::string name;
    std::getline(comm, name);
    return name;
}

template <typename Visit>
bool ForEachPid(Visit visit) {
    std::unique_ptr<DIR, DirCloser> proc(opendir("/proc"));
    if (!proc) return false;
    while (dirent* entry = readdir(proc.get())) {
        if (auto pid = ParsePid(entry->d_name)) visit(*pid);
    }
    return true;
}

class PosixViewerPlatform final : public IViewerPlatform {
public:
    std::optional<std::vector<ProcessEntry>> SnapshotProcesses() override {
        std::vector<ProcessEntry> processes;
        if (!ForEachPid([&](std::uint32_t pid) { processes.push_back({pid, ExecutableName(pid)}); })) {
            return std::nullopt;
        }
        return processes;
    }

    std::vector<TopLevelWindow> TopLevelWindows() override {
        std::vector<TopLevelWindow> windows;
        ForEachPid([&](std::uint32_t pid) { windows.push_back({WindowFromProcessId(pid), pid, false, true}); });
        return windows;
    }

    std::optional<std::string> ModulePath(std::uint32_t pid) override {
        // Only a process we may signal can be asked to close.
        if (pid == 0 || pid > 0x7FFFFFFF || kill(static_cast<pid_t>(pid), 0) != 0) return std::nullopt;
        auto path = ReadLink(ProcPath(pid, "exe"));
        // A running program's file can be deleted or replaced by an update
        // (the link then ends in " (deleted)"); a path that cannot be run again
        // must not be recorded, or the viewer would be closed for good.
        if (!path || access(path->c_str(), X_OK) != 0) return std::nullopt;
        return path;
    }

    bool AskToClose(WindowHandle window) override {
        auto pid = ProcessIdFromWindow(window);  // never 0 or negative: no group signals
        return pid && kill(static_cast<pid_t>(*pid), SIGTERM) == 0;
    }

    bool Start(const std::string& path) override {
        // Double fork, so that the viewer is not our child (nobody here would
        // reap it); a close-on-exec pipe reports a failing exec back.
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        Fd readEnd(fds[0]);
        Fd writeEnd(fds[1]);
        char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
        long maxFd = sysconf(_SC_OPEN_MAX);
        if (maxFd < 0 || maxFd > 65536) maxFd = 65536;

        pid_t child = fork();
        if (child < 0) return false;
        if (child == 0) {
            // Only async-signal-safe calls from here on.
            setsid();
            pid_t grandchild = fork();
            if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
            for (int fd = 3; fd < maxFd; ++fd) {
                if (fd != fds[1]) close(fd);
            }
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            execv(path.c_str(), argv);
            int error = errno;
            ssize_t ignored = write(fds[1], &error, sizeof error);
            (void)ignored;
            _exit(127);
        }
        writeEnd.Reset();
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
        int execError = 0;
        ssize_t got;
        while ((got = read(readEnd.Get(), &execError, sizeof execError)) < 0 && errno == EINTR) {
        }
        return got == 0;  // end of file: the exec closed the pipe
    }

    PathStyle Style() const override { return PathStyle::Posix; }
};

}  // namespace

IViewerPlatform& OsViewerPlatform() {
    static PosixViewerPlatform platform;
    return platform;
}

}  // namespace kiv
