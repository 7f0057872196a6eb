// What kivscan needs of the operating system beyond kivds/platform.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace kiv {
namespace scan {

// Collects what is written to the process's standard error (file descriptor
// 2) between construction and Finish(): the loaded source reports its error
// messages there when KIVDS_UI=headless. If the redirection cannot be set
// up, nothing is collected and the output goes where it always goes.
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    std::string Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Runs this thread's window messages for up to `ms` milliseconds. Each
// message is first offered to `offer` (the source's MSG_PROCESSEVENT); when
// it returns false the message is dispatched as usual. Where there are no
// window messages (POSIX) this only waits.
void PumpEvents(unsigned ms, const std::function<bool(void* nativeEvent)>& offer);

// A window to give a source manager at MSG_OPENDSM: on Windows a hidden
// window of this thread (created once), elsewhere null.
void* ManagerParentWindow();

// The directory of the running executable, with a trailing separator.
std::string ExecutableDirectory();

bool FileExists(const std::string& path);
// The size of a file in bytes, or -1.
long long FileSize(const std::string& path);

}  // namespace scan
}  // namespace kiv
