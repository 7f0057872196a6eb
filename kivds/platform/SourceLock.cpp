#include "kivds/platform/SourceLock.h"

namespace kiv {

void SourceLock::lock() {
    std::unique_lock<std::mutex> guard(mutex_);
    const std::thread::id me = std::this_thread::get_id();
    if (depth_ > 0 && owner_ == me) {
        ++depth_;
        return;
    }
    // A lender may make this thread the holder while it waits.
    released_.wait(guard, [this, me] { return depth_ == 0 || owner_ == me; });
    if (depth_ > 0) {
        ++depth_;
        return;
    }
    owner_ = me;
    depth_ = 1;
}

bool SourceLock::try_lock() {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::thread::id me = std::this_thread::get_id();
    if (depth_ > 0 && owner_ != me) return false;
    owner_ = me;
    ++depth_;
    return true;
}

void SourceLock::unlock() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (depth_ == 0 || owner_ != std::this_thread::get_id()) return;
    if (--depth_ == 0) {
        owner_ = std::thread::id();
        released_.notify_all();
    }
}

bool SourceLock::HeldByMe() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return depth_ > 0 && owner_ == std::this_thread::get_id();
}

void SourceLock::LendTo(std::thread::id borrower) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (depth_ == 0 || owner_ != std::this_thread::get_id()) return;
    lender_ = owner_;
    owner_ = borrower;
    released_.notify_all();
}

void SourceLock::GiveBack() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (owner_ != std::this_thread::get_id() || lender_ == std::thread::id()) return;
    owner_ = lender_;
    lender_ = std::thread::id();
}

void SourceLock::TakeBack() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (lender_ != std::this_thread::get_id()) return;
    owner_ = lender_;
    lender_ = std::thread::id();
}

SourceLock& TheSourceLock() {
    static SourceLock lock;
    return lock;
}

}  // namespace kiv
