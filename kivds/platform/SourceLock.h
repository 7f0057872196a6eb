// Seam: the one lock of the data source. Every DS_Entry call and every call
// the source's own UI thread makes into the TWAIN manager hold it, so the
// manager only ever sees one caller at a time.
//
// It is recursive: a thread that holds it may take it again (the source
// manager may call back into the application from inside Notify, and the
// application may call DS_Entry from there). A holder that must wait for
// work done on another thread lends the lock to that thread for the work
// (LendTo, GiveBack), so that nobody else can slip in between.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace kiv {

class SourceLock {
public:
    SourceLock() = default;
    SourceLock(const SourceLock&) = delete;
    SourceLock& operator=(const SourceLock&) = delete;

    // Blocks until the calling thread holds the lock (once more, if it
    // already held it). Any thread.
    void lock();
    // Takes the lock when no other thread holds it; never blocks.
    bool try_lock();
    // Gives back one level. Only the holding thread.
    void unlock();
    // True when the calling thread holds the lock.
    bool HeldByMe() const;

    // Makes `borrower` the holder of every level the calling thread holds;
    // the caller then waits for the borrower's GiveBack. Only the holder.
    void LendTo(std::thread::id borrower);
    // The borrower hands the lock back to the thread that lent it. Only the
    // borrower, after it has unlocked what it locked itself.
    void GiveBack();
    // The lender takes the lock back when the borrower never ran (it ended
    // first); nothing when it was given back already. Only the lender.
    void TakeBack();

private:
    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::thread::id owner_;
    unsigned depth_ = 0;
    std::thread::id lender_;
};

// The process-wide lock of the data source.
SourceLock& TheSourceLock();

}  // namespace kiv
