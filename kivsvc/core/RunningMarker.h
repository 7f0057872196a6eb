// The running marker: exists from just before the server's message loop starts
// until a stop request. The COM methods act only while it exists. It is read
// on the loop thread and changed on the service control thread.
#pragma once

#include <atomic>

namespace kiv::svc {

class RunningMarker {
public:
    void Create() { exists_.store(true); }
    void Destroy() { exists_.store(false); }
    bool Exists() const { return exists_.load(); }

private:
    std::atomic<bool> exists_{false};
};

}  // namespace kiv::svc
