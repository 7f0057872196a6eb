// The main function of every GoogleTest program of this project: GoogleTest's
// own, plus a watchdog per test case. A case that runs longer than
// KIV_TEST_CASE_TIMEOUT seconds (default 240) is named on standard error and
// the program ends with exit code 1 at once, so a hang fails within minutes,
// saying where, instead of waiting for the runner's limit to kill it
// silently. Standard output is unbuffered so a killed program still shows
// how far it came.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Ends the process at once: no exit handlers, no library detach (a hung
// thread may hold the loader lock).
[[noreturn]] void EndNow() {
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), 1);
#endif
    std::_Exit(1);
}

std::chrono::seconds CaseTimeout() {
    const char* text = std::getenv("KIV_TEST_CASE_TIMEOUT");
    if (text && *text) {
        char* end = nullptr;
        const long seconds = std::strtol(text, &end, 10);
        if (end && *end == '\0' && seconds > 0) return std::chrono::seconds(seconds);
        std::fprintf(stderr, "KIV_TEST_CASE_TIMEOUT=%s is not a number of seconds; using 240\n", text);
    }
    return std::chrono::seconds(240);
}

class Watchdog final : public testing::EmptyTestEventListener {
public:
    explicit Watchdog(std::chrono::seconds limit) : limit_(limit), thread_([this] { Watch(); }) {}
    ~Watchdog() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    void OnTestStart(const testing::TestInfo& info) override {
        std::lock_guard<std::mutex> lock(mutex_);
        name_ = std::string(info.test_suite_name()) + "." + info.name();
        deadline_ = std::chrono::steady_clock::now() + limit_;
        armed_ = true;
        wake_.notify_all();
    }
    void OnTestEnd(const testing::TestInfo&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        armed_ = false;
        wake_.notify_all();
    }

private:
    void Watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!quit_) {
            if (!armed_) {
                wake_.wait(lock);
                continue;
            }
            const auto deadline = deadline_;
            if (wake_.wait_until(lock, deadline) == std::cv_status::timeout && armed_ && !quit_ &&
                deadline_ == deadline) {
                std::fprintf(stderr, "\n[  TIMEOUT ] %s did not finish within %lld s (KIV_TEST_CASE_TIMEOUT)\n",
                             name_.c_str(), static_cast<long long>(limit_.count()));
                std::fflush(stderr);
                std::fflush(stdout);
                EndNow();
            }
        }
    }

    const std::chrono::seconds limit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::string name_;
    std::chrono::steady_clock::time_point deadline_{};
    bool armed_ = false;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    testing::InitGoogleTest(&argc, argv);
    // Owned by GoogleTest's listener list from here on.
    testing::UnitTest::GetInstance()->listeners().Append(new Watchdog(CaseTimeout()));
    return RUN_ALL_TESTS();
}
