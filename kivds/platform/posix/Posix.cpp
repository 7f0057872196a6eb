// POSIX implementations of the OS seams.
#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "kivds/platform/Env.h"
#include "kivds/platform/GlobalMemory.h"
#include "kivds/platform/Library.h"
#include "kivds/platform/Log.h"
#include "kivds/platform/NativeMessageBox.h"
#include "kivds/platform/Paths.h"
#include "kivds/platform/Sleep.h"
#include "kivds/platform/ThreadApartment.h"

namespace kiv {
namespace {

class PosixLibrary final : public DynamicLibrary {
public:
    explicit PosixLibrary(void* handle) : handle_(handle) {}
    ~PosixLibrary() override { dlclose(handle_); }
    PosixLibrary(const PosixLibrary&) = delete;
    PosixLibrary& operator=(const PosixLibrary&) = delete;
    void* Symbol(const char* name) const override { return dlsym(handle_, name); }

private:
    void* handle_;
};

}  // namespace

std::unique_ptr<DynamicLibrary> DynamicLibrary::Open(const std::string& path, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (error) {
            const char* reason = dlerror();
            *error = reason ? reason : "unknown reason";
        }
        return nullptr;
    }
    return std::make_unique<PosixLibrary>(handle);
}

void KeepLibraryLoaded() {}

std::optional<std::string> GetEnv(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

void SetEnv(const char* name, const char* value) {
    if (value) setenv(name, value, 1);
    else unsetenv(name);
}

std::string WindowsDirectory() { return {}; }

std::string TempDirectory() {
    std::string dir;
    auto tmp = GetEnv("TMPDIR");
    if (tmp && !tmp->empty()) dir = *tmp;
    else dir = "/tmp/";
    if (dir.back() != '/') dir += '/';
    return dir;
}

char PathSeparator() { return '/'; }

void SleepMilliseconds(unsigned ms) {
    timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&request, &request) != 0 && errno == EINTR) {
    }
}

void* GlobalMemAlloc(std::size_t size) { return std::calloc(size ? size : 1, 1); }
void* GlobalMemLock(void* handle) { return handle; }
bool GlobalMemUnlock(void*) { return true; }
void GlobalMemFree(void* handle) { std::free(handle); }

bool ShowNativeMessageBox(const ShownMessage&) { return false; }

std::uint64_t CurrentThreadId() { return static_cast<std::uint64_t>(::syscall(SYS_gettid)); }
std::uint64_t CurrentProcessId() { return static_cast<std::uint64_t>(::getpid()); }

ThreadApartment::ThreadApartment() = default;
ThreadApartment::~ThreadApartment() = default;

}  // namespace kiv
