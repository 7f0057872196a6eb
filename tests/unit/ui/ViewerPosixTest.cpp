// The /proc backend of the viewer detection, against a real process: a
// stand-in program named kivview.exe that ends on SIGTERM.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "kivds/ui/Viewer.h"

extern char** environ;

namespace kiv {
namespace {

std::string FakeViewerPath() {
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
    std::string self(buffer, static_cast<std::size_t>(length));
    return self.substr(0, self.rfind('/') + 1) + "kivview.exe";
}

bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Processes running `path`, as the backend sees them.
std::vector<std::uint32_t> ProcessesRunning(IViewerPlatform& platform, const std::string& path) {
    std::vector<std::uint32_t> pids;
    for (const ProcessEntry& process : platform.SnapshotProcesses().value_or(std::vector<ProcessEntry>{})) {
        if (platform.ModulePath(process.pid) == path) pids.push_back(process.pid);
    }
    return pids;
}

class PosixViewer : public ::testing::Test {
protected:
    void SetUp() override {
        viewerPath = FakeViewerPath();
        ASSERT_EQ(access(viewerPath.c_str(), X_OK), 0) << viewerPath;
    }

    IViewerPlatform& platform = OsViewerPlatform();
    std::string viewerPath;
};

TEST_F(PosixViewer, RunningViewerIsFoundAndEndsWhenAskedToClose) {
    char* const argv[] = {const_cast<char*>(viewerPath.c_str()), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, viewerPath.c_str(), nullptr, nullptr, argv, environ), 0);
    auto ours = static_cast<std::uint32_t>(pid);
    ASSERT_TRUE(WaitFor([&] { return platform.ModulePath(ours) == viewerPath; }));

    auto processes = platform.SnapshotProcesses();
    ASSERT_TRUE(processes.has_value());
    bool listed = false;
    for (const ProcessEntry& process : *processes) listed |= process.pid == ours && process.exeName == "kivview.exe";
    EXPECT_TRUE(listed);

    WindowHandle window = nullptr;
    std::string path;
    ASSERT_TRUE(FindRunningViewer(window, path));
    EXPECT_EQ(path, viewerPath);
    ASSERT_TRUE(platform.AskToClose(window));

    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
}

TEST_F(PosixViewer, StartRunsTheRecordedExecutableAgainAsADetachedProcess) {
    ASSERT_TRUE(platform.Start(viewerPath));
    std::vector<std::uint32_t> started;
    ASSERT_TRUE(WaitFor([&] { return !(started = ProcessesRunning(platform, viewerPath)).empty(); }));
    ASSERT_EQ(started.size(), 1u);
    // Not our child: nobody here would reap it.
    int status = 0;
    EXPECT_EQ(waitpid(static_cast<pid_t>(started[0]), &status, WNOHANG), -1);

    WindowHandle window = nullptr;
    std::string path;
    ASSERT_TRUE(FindRunningViewer(window, path));
    EXPECT_EQ(path, viewerPath);
    ASSERT_TRUE(platform.AskToClose(window));
    EXPECT_TRUE(WaitFor([&] { return ProcessesRunning(platform, viewerPath).empty(); }));
}

TEST_F(PosixViewer, FailuresAreReported) {
    EXPECT_FALSE(platform.Start("/nonexistent/kivview.exe"));
    EXPECT_FALSE(platform.Start("/proc/self/status"));  // not executable
    EXPECT_FALSE(platform.ModulePath(0x7FFFFFF0).has_value());
}

}  // namespace
}  // namespace kiv
