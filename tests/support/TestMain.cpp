// The main function of every GoogleTest program of this project: GoogleTest's
// own, plus a watchdog per test case. A case that runs longer than
// KIV_TEST_CASE_TIMEOUT seconds (default 240) is named on standard output and
// the program ends with exit code 1 at once, so a hang fails within minutes,
// saying where, instead of waiting for the runner's limit to kill it
// silently. Standard output is unbuffered so a killed program still shows
// how far it came.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <memory>
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

// The watchdog's state and thread live until the process ends: nothing
// joins the thread or destroys what it waits on at exit (a death test's
// child, forked without the thread, exits through the same code).
struct WatchState {
    std::mutex mutex;
    std::condition_variable wake;
    std::string name;
    std::chrono::steady_clock::time_point deadline{};
    std::uint64_t generation = 0;  // one per test case started
    bool armed = false;
};

void Watch(WatchState& state, std::chrono::seconds limit) {
    std::unique_lock<std::mutex> lock(state.mutex);
    for (;;) {
        if (!state.armed) {
            state.wake.wait(lock);
            continue;
        }
        const std::uint64_t generation = state.generation;
        if (state.wake.wait_until(lock, state.deadline) == std::cv_status::timeout && state.armed &&
            state.generation == generation) {
            // On standard output, beside GoogleTest's own lines (a death test
            // captures standard error meanwhile).
            std::printf("\n[  TIMEOUT ] %s did not finish within %lld s (KIV_TEST_CASE_TIMEOUT)\n", state.name.c_str(),
                        static_cast<long long>(limit.count()));
            std::fflush(stdout);
            EndNow();
        }
    }
}

class Watchdog final : public testing::EmptyTestEventListener {
public:
    explicit Watchdog(std::chrono::seconds limit)
        : limit_(limit), state_(*std::make_unique<WatchState>().release()) {  // kept to the end, see WatchState
        WatchState& state = state_;
        std::thread([&state, limit] { Watch(state, limit); }).detach();
    }

    void OnTestStart(const testing::TestInfo& info) override {
        std::lock_guard<std::mutex> lock(state_.mutex);
        state_.name = std::string(info.test_suite_name()) + "." + info.name();
        state_.deadline = std::chrono::steady_clock::now() + limit_;
        ++state_.generation;
        state_.armed = true;
        state_.wake.notify_all();
    }
    void OnTestEnd(const testing::TestInfo&) override {
        std::lock_guard<std::mutex> lock(state_.mutex);
        state_.armed = false;
        state_.wake.notify_all();
    }

private:
    const std::chrono::seconds limit_;
    WatchState& state_;
};

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    testing::InitGoogleTest(&argc, argv);
    // Owned by GoogleTest's listener list from here on.
    testing::UnitTest::GetInstance()->listeners().Append(new Watchdog(CaseTimeout()));
    return RUN_ALL_TESTS();
}
