#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "tools/kivscan/ScanPlatform.h"

namespace kiv {
namespace scan {

struct StderrCapture::State {
    std::FILE* file = nullptr;
    int saved = -1;
};

StderrCapture::StderrCapture() : state_(std::make_unique<State>()) {
    std::fflush(stderr);
    state_->file = std::tmpfile();
    if (!state_->file) return;
    state_->saved = dup(STDERR_FILENO);
    if (state_->saved < 0 || dup2(fileno(state_->file), STDERR_FILENO) < 0) {
        if (state_->saved >= 0) close(state_->saved);
        state_->saved = -1;
    }
}

StderrCapture::~StderrCapture() {
    if (state_) Finish();
}

std::string StderrCapture::Finish() {
    std::string text;
    if (!state_->file) return text;
    std::fflush(stderr);
    if (state_->saved >= 0) {
        dup2(state_->saved, STDERR_FILENO);
        close(state_->saved);
        state_->saved = -1;
        std::rewind(state_->file);
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, state_->file)) > 0) text.append(buffer, n);
    }
    std::fclose(state_->file);
    state_->file = nullptr;
    return text;
}

void PumpEvents(unsigned ms, const std::function<bool(void*)>&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void* ManagerParentWindow() { return nullptr; }

std::string ExecutableDirectory() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "./";
    const std::string full(path, static_cast<std::size_t>(length));
    return full.substr(0, full.find_last_of('/') + 1);
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

long long FileSize(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return -1;
    return static_cast<long long>(info.st_size);
}

}  // namespace scan
}  // namespace kiv
