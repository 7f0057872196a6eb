// The UI thread that the data source owns for its dialog where the
// application's thread cannot be relied on to pump it (an application may block
// on a semaphore until MSG_XFERREADY). It runs one loop:
//
//   - synchronous tasks from the TWAIN manager (create, show, destroy). A
//     caller that holds TheSourceLock() lends it to this thread for the task,
//     so the task runs inside the caller's DS_Entry call and nothing else can
//     slip in; a caller on this thread runs the task at once;
//   - events (camera notifications, WM_XFERDONE, timers, script steps), each
//     handled under TheSourceLock(). While it waits for the lock the loop
//     keeps serving synchronous tasks, so a DS_Entry call that waits for the
//     dialog never deadlocks with a handler that waits for the lock.
//
// A modal window opened from inside one of the loop's handlers or tasks runs
// a nested loop of its own; ServeNested lets that loop go on serving the
// queue, and lets other threads take TheSourceLock() while the window waits
// for the user.
//
// Threads: Post, RunSync, SetTimer, KillTimer and Stop may be called from any
// thread. The destructor stops and joins the thread, except on the thread
// itself or after AbandonDialogThreads(), where it lets the thread go. A
// thread let go on its own thread still runs the last lines of the loop,
// which are this library's code: JoinLetGoDialogThreads() waits for them
// before the library is unloaded.
//
// A handler may destroy the DialogThread that runs it (the application
// disables the source from a notification the handler sent). What the
// handler and the camera's callbacks reach the loop through is therefore a
// Link, which shares the loop's state and outlives the object.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace kiv {

class LetGoThreads;

class DialogThread {
    friend class LetGoThreads;
    struct State;

public:
    using Clock = std::chrono::steady_clock;
    // Called under the lock whenever the loop runs out of work; returns when
    // it wants to be called again (nothing: at the next event).
    using IdleHook = std::function<std::optional<Clock::time_point>()>;

    // A copyable way onto the loop that stays valid after the DialogThread is
    // gone: once the loop is stopping, Post and SetTimer drop their work and
    // RunSync returns false.
    class Link {
    public:
        bool OnThread() const;
        bool RunSync(const std::function<void()>& task) const;
        void Post(std::function<void()> event) const;
        void SetTimer(unsigned id, unsigned periodMs, std::function<void()> handler) const;
        void KillTimer(unsigned id) const;

    private:
        friend class DialogThread;
        explicit Link(std::shared_ptr<DialogThread::State> state) : state_(std::move(state)) {}
        std::shared_ptr<DialogThread::State> state_;
    };

    DialogThread();
    ~DialogThread();
    DialogThread(const DialogThread&) = delete;
    DialogThread& operator=(const DialogThread&) = delete;

    // True on the loop's own thread.
    bool OnThread() const;

    // Runs `task` on the loop's thread and returns when it is done; false when
    // the loop no longer runs (the task was not run).
    bool RunSync(const std::function<void()>& task);
    // Queues `event`; it runs under the lock. Dropped once the loop stopped.
    void Post(std::function<void()> event);

    // Timer `id` runs `handler` (under the lock) every `periodMs`; setting it
    // again restarts it.
    void SetTimer(unsigned id, unsigned periodMs, std::function<void()> handler);
    void KillTimer(unsigned id);
    bool TimerRunning(unsigned id) const;

    void SetIdleHook(IdleHook hook);

    Link MakeLink() const { return Link(state_); }

    // Ends the loop after the item it is running; idempotent.
    void Stop();

    // One pass of a nested (modal) loop on the calling thread. On a
    // DialogThread's own thread, inside one of its handlers or tasks: runs
    // the synchronous tasks, the events queued so far and one due timer, as
    // the loop would (not the idle hook), then calls `wait` (which waits
    // briefly for the user) with the source lock given up; it is taken back
    // before this returns, serving synchronous tasks meanwhile. The lock is
    // kept where it was lent for the task that runs the modal loop: that
    // caller's DS_Entry call is the one waiting for the user. Returns false,
    // without waiting, once the loop is stopping (the modal loop must end;
    // the lock may then be held by the thread that waits for this one, and is
    // not taken back). On any other thread: `wait` alone, true.
    static bool ServeNested(const std::function<void()>& wait);

private:
    std::shared_ptr<State> state_;
    std::thread thread_;
};

// Process exit: the loops' threads may already be gone and the loader lock
// may be held (Windows). After this call no DialogThread joins its thread or
// waits for it; their destructors let them go.
void AbandonDialogThreads();

// Joins the threads whose DialogThread was destroyed on the thread itself,
// each given a few seconds to end (one that does not, a handler that never
// returns, is left running). Call it with no lock held, from the library's
// unload (not under the Windows loader lock); nothing after
// AbandonDialogThreads().
void JoinLetGoDialogThreads();

}  // namespace kiv
