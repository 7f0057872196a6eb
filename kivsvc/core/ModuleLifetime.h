// The module's lock count and when the local server ends.
#pragma once

#include <atomic>

namespace kiv::svc {

class ModuleLifetime {
public:
    explicit ModuleLifetime(bool serviceMode = false) : serviceMode_(serviceMode) {}

    void SetServiceMode(bool on) { serviceMode_.store(on); }
    bool ServiceMode() const { return serviceMode_.load(); }

    long Lock() {
        ++locks_;
        return ++count_;
    }
    // True when the count fell to 0 outside service mode: the process should
    // end because its last client is gone.
    bool Unlock() { return --count_ == 0 && !serviceMode_.load(); }
    long Count() const { return count_.load(); }

    // One tick of the idle timer of a COM start ("-Embedding"): true when no
    // client holds anything and none took anything since the previous tick, so
    // a server that nobody connects to ends by itself. Runs on the loop thread.
    bool IdleTick() {
        const long locks = locks_.load();
        const bool idle = count_.load() == 0 && !serviceMode_.load() && locks == locksAtLastTick_;
        locksAtLastTick_ = locks;
        return idle;
    }

private:
    std::atomic<long> locks_{0};  // every Lock ever taken
    long locksAtLastTick_ = 0;
    std::atomic<long> count_{0};
    std::atomic<bool> serviceMode_;
};

}  // namespace kiv::svc
