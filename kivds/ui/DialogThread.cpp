#include "kivds/ui/DialogThread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "kivds/platform/SourceLock.h"
#include "kivds/platform/ThreadApartment.h"

namespace kiv {
namespace {

std::atomic<bool> g_abandoned{false};

// How often a loop that waits for the lock looks for synchronous tasks
// (it is also woken when one arrives).
constexpr auto kLockRetry = std::chrono::milliseconds(2);

}  // namespace

void AbandonDialogThreads() { g_abandoned.store(true); }

// How long the unload waits for a thread that was let go to end.
constexpr auto kLetGoPatience = std::chrono::seconds(5);

// The loop's threads whose DialogThread was destroyed on the thread itself.
// Those that have ended are joined when the next DialogThread starts, the
// rest at the unload (JoinLetGoDialogThreads, and at the latest when this
// library's statics are destroyed).
class LetGoThreads {
public:
    struct Thread {
        std::thread thread;
        std::shared_ptr<DialogThread::State> state;
    };

    ~LetGoThreads() {
#ifdef _WIN32
        // Under the loader lock no thread can end, so none is waited for: the
        // library stays loaded while a camera may run (KeepLibraryLoaded).
        std::lock_guard<std::mutex> guard(mutex_);
        for (Thread& entry : threads_) entry.thread.detach();
#else
        Join(kLetGoPatience, false);
#endif
    }

    void Add(Thread thread) {
        std::lock_guard<std::mutex> guard(mutex_);
        threads_.push_back(std::move(thread));
    }

    // Joins every thread that ends within `patience`; the others are kept
    // for a later call (`keepRunning`) or let go for good.
    void Join(std::chrono::milliseconds patience, bool keepRunning);

private:
    std::mutex mutex_;
    std::vector<Thread> threads_;
};

namespace {
LetGoThreads g_letGo;
}  // namespace

struct DialogThread::State {
    struct SyncItem {
        std::function<void()> task;
        bool lent = false;
        bool done = false;
    };
    struct Timer {
        std::chrono::milliseconds period;
        Clock::time_point next;
        std::function<void()> handler;
    };

    std::mutex mutex;
    std::condition_variable wake;       // new work for the loop
    std::condition_variable completed;  // a synchronous task finished
    std::deque<std::shared_ptr<SyncItem>> sync;
    std::deque<std::function<void()>> events;
    std::map<unsigned, Timer> timers;
    IdleHook idle;
    bool stopping = false;
    bool finished = false;
    bool exited = false;  // the thread's function has nothing left to run but its return
    std::thread::id threadId;
    int lentTasks = 0;          // tasks running with a lender's lock (loop's thread only)
    unsigned long changes = 0;  // timers or idle hook set: the loop's wait is out of date

    // The state of the loop that runs on the calling thread, if any.
    static thread_local State* current;

    void Loop();
    // Runs the synchronous tasks that are queued; with `guard` held on entry
    // and on return.
    void RunSyncItems(std::unique_lock<std::mutex>& guard);
    // Takes the source lock while serving synchronous tasks; false when the
    // loop is stopping.
    bool AcquireSourceLock(std::unique_lock<std::mutex>& guard);
    void RunLocked(std::unique_lock<std::mutex>& guard, const std::function<void()>& work);
    // Runs the first timer that is due; false when none was.
    bool FireDueTimer(std::unique_lock<std::mutex>& guard);

    // A pass of a nested loop (DialogThread::ServeNested), and the source
    // lock's `levels` taken back after its wait.
    bool ServeNested(const std::function<void()>& wait);
    bool RetakeSourceLock(std::unique_lock<std::mutex>& guard, unsigned levels);
};

thread_local DialogThread::State* DialogThread::State::current = nullptr;

void DialogThread::State::RunSyncItems(std::unique_lock<std::mutex>& guard) {
    while (!sync.empty()) {
        std::shared_ptr<SyncItem> item = sync.front();
        sync.pop_front();
        guard.unlock();
        {
            // Lent by the caller, or taken like anyone else when it held none.
            std::lock_guard<SourceLock> lock(TheSourceLock());
            if (item->lent) ++lentTasks;
            item->task();
            if (item->lent) --lentTasks;
        }
        if (item->lent) TheSourceLock().GiveBack();
        guard.lock();
        item->done = true;
        completed.notify_all();
    }
}

bool DialogThread::State::AcquireSourceLock(std::unique_lock<std::mutex>& guard) {
    for (;;) {
        RunSyncItems(guard);
        if (stopping) return false;
        if (TheSourceLock().try_lock()) {
            if (sync.empty()) return true;
            // A lender made us the holder for a queued task: serve it first.
            TheSourceLock().unlock();
            continue;
        }
        wake.wait_for(guard, kLockRetry);
    }
}

void DialogThread::State::RunLocked(std::unique_lock<std::mutex>& guard, const std::function<void()>& work) {
    if (!AcquireSourceLock(guard)) return;
    guard.unlock();
    work();
    TheSourceLock().unlock();
    guard.lock();
}

bool DialogThread::State::FireDueTimer(std::unique_lock<std::mutex>& guard) {
    // One at a time: a handler may kill the others.
    const Clock::time_point now = Clock::now();
    for (auto& entry : timers) {
        if (entry.second.next <= now) {
            entry.second.next = now + entry.second.period;
            std::function<void()> handler = entry.second.handler;
            RunLocked(guard, handler);
            return true;
        }
    }
    return false;
}

bool DialogThread::State::ServeNested(const std::function<void()>& wait) {
    std::unique_lock<std::mutex> guard(mutex);
    if (stopping) return false;
    RunSyncItems(guard);
    // The events queued so far; those they queue wait for the next pass, so
    // the window keeps being served.
    for (std::size_t n = events.size(); n > 0 && !events.empty() && !stopping; --n) {
        std::function<void()> event = std::move(events.front());
        events.pop_front();
        RunLocked(guard, event);
    }
    if (!stopping) FireDueTimer(guard);
    if (stopping) return false;

    unsigned levels = 0;
    if (lentTasks == 0) {
        for (; TheSourceLock().HeldByMe(); ++levels) TheSourceLock().unlock();
    }
    guard.unlock();
    wait();
    guard.lock();
    if (levels > 0) return RetakeSourceLock(guard, levels);
    return !stopping;
}

bool DialogThread::State::RetakeSourceLock(std::unique_lock<std::mutex>& guard, unsigned levels) {
    for (;;) {
        RunSyncItems(guard);
        if (TheSourceLock().try_lock()) {
            if (sync.empty()) {
                for (unsigned i = 1; i < levels; ++i) TheSourceLock().lock();  // ours: does not block
                return !stopping;
            }
            // A lender made us the holder for a queued task: serve it first.
            TheSourceLock().unlock();
            continue;
        }
        // The holder may be the thread that stops us and waits for our end.
        if (stopping) return false;
        wake.wait_for(guard, kLockRetry);
    }
}

void DialogThread::State::Loop() {
    current = this;
    std::unique_lock<std::mutex> guard(mutex);
    while (!stopping) {
        // A timer or hook set from here on makes the wait below look again.
        const unsigned long seen = changes;
        RunSyncItems(guard);
        if (stopping) break;
        if (!events.empty()) {
            std::function<void()> event = std::move(events.front());
            events.pop_front();
            RunLocked(guard, event);
            continue;
        }
        if (FireDueTimer(guard)) continue;

        std::optional<Clock::time_point> idleWake;
        if (idle) {
            IdleHook hook = idle;
            RunLocked(guard, [&] { idleWake = hook(); });
            if (stopping) break;
            if (!events.empty() || !sync.empty()) continue;
        }
        Clock::time_point until = Clock::time_point::max();
        if (idleWake) until = *idleWake;
        for (const auto& entry : timers) until = std::min(until, entry.second.next);
        auto hasWork = [this, seen] { return stopping || !sync.empty() || !events.empty() || changes != seen; };
        if (until == Clock::time_point::max()) wake.wait(guard, hasWork);
        else wake.wait_until(guard, until, hasWork);
    }
    finished = true;
    // Nobody will run what is still queued: release its callers (a lender
    // takes its lock back itself).
    for (auto& item : sync) item->done = true;
    sync.clear();
    completed.notify_all();
    current = nullptr;
    // What is dropped goes outside the mutex: it may own a dialog whose
    // destruction reaches the loop again (a timer killed, say).
    std::deque<std::function<void()>> droppedEvents;
    droppedEvents.swap(events);
    std::map<unsigned, Timer> droppedTimers;
    droppedTimers.swap(timers);
    IdleHook droppedIdle = std::move(idle);
    idle = nullptr;
    guard.unlock();
}

void LetGoThreads::Join(std::chrono::milliseconds patience, bool keepRunning) {
    std::vector<Thread> threads;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        threads.swap(threads_);
    }
    std::vector<Thread> running;
    for (Thread& entry : threads) {
        bool ended = false;
        if (entry.thread.get_id() != std::this_thread::get_id()) {
            std::unique_lock<std::mutex> guard(entry.state->mutex);
            ended = entry.state->completed.wait_for(guard, patience, [&] { return entry.state->exited; });
        }
        if (ended && !g_abandoned.load()) entry.thread.join();
        else if (keepRunning) running.push_back(std::move(entry));
        else entry.thread.detach();
    }
    for (Thread& entry : running) Add(std::move(entry));
}

void JoinLetGoDialogThreads() {
    if (!g_abandoned.load()) g_letGo.Join(kLetGoPatience, false);
}

DialogThread::DialogThread() : state_(std::make_shared<State>()) {
    g_letGo.Join(std::chrono::milliseconds(0), true);
    std::shared_ptr<State> state = state_;
    // The loop starts once the id is recorded.
    std::unique_lock<std::mutex> guard(state->mutex);
    thread_ = std::thread([state] {
        {
            // The dialog's handlers call the camera's COM objects on Windows.
            ThreadApartment apartment;
            state->Loop();
        }
        std::lock_guard<std::mutex> ended(state->mutex);
        state->exited = true;
        state->completed.notify_all();
    });
    state->threadId = thread_.get_id();
}

DialogThread::~DialogThread() {
    Stop();
    if (g_abandoned.load()) {
        thread_.detach();
        return;
    }
    if (OnThread()) {
        // The state outlives us in the thread's hands.
        g_letGo.Add({std::move(thread_), state_});
        return;
    }
    thread_.join();
}

bool DialogThread::OnThread() const { return MakeLink().OnThread(); }
bool DialogThread::RunSync(const std::function<void()>& task) { return MakeLink().RunSync(task); }
void DialogThread::Post(std::function<void()> event) { MakeLink().Post(std::move(event)); }
void DialogThread::SetTimer(unsigned id, unsigned periodMs, std::function<void()> handler) {
    MakeLink().SetTimer(id, periodMs, std::move(handler));
}
void DialogThread::KillTimer(unsigned id) { MakeLink().KillTimer(id); }

bool DialogThread::Link::OnThread() const { return std::this_thread::get_id() == state_->threadId; }

bool DialogThread::Link::RunSync(const std::function<void()>& task) const {
    if (OnThread()) {
        std::lock_guard<SourceLock> lock(TheSourceLock());
        task();
        return true;
    }
    if (g_abandoned.load()) return false;
    auto item = std::make_shared<State::SyncItem>();
    item->task = task;
    item->lent = TheSourceLock().HeldByMe();
    {
        std::lock_guard<std::mutex> guard(state_->mutex);
        if (state_->finished || state_->stopping) return false;
        state_->sync.push_back(item);
        state_->wake.notify_all();
    }
    if (item->lent) TheSourceLock().LendTo(state_->threadId);
    std::unique_lock<std::mutex> guard(state_->mutex);
    state_->completed.wait(guard, [&] { return item->done; });
    // Normally given back already; not when the loop ended before the task ran.
    if (item->lent) TheSourceLock().TakeBack();
    return true;
}

void DialogThread::Link::Post(std::function<void()> event) const {
    std::lock_guard<std::mutex> guard(state_->mutex);
    if (state_->stopping) return;
    state_->events.push_back(std::move(event));
    state_->wake.notify_all();
}

void DialogThread::Link::SetTimer(unsigned id, unsigned periodMs, std::function<void()> handler) const {
    std::lock_guard<std::mutex> guard(state_->mutex);
    if (state_->stopping) return;  // nobody would run it
    const std::chrono::milliseconds period(periodMs == 0 ? 1 : periodMs);
    state_->timers[id] = State::Timer{period, Clock::now() + period, std::move(handler)};
    ++state_->changes;
    state_->wake.notify_all();
}

void DialogThread::Link::KillTimer(unsigned id) const {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->timers.erase(id);
}

bool DialogThread::TimerRunning(unsigned id) const {
    std::lock_guard<std::mutex> guard(state_->mutex);
    return state_->timers.count(id) != 0;
}

void DialogThread::SetIdleHook(IdleHook hook) {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->idle = std::move(hook);
    ++state_->changes;
    state_->wake.notify_all();
}

bool DialogThread::ServeNested(const std::function<void()>& wait) {
    if (State* state = State::current) return state->ServeNested(wait);
    wait();
    return true;
}

void DialogThread::Stop() {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->stopping = true;
    state_->wake.notify_all();
}

}  // namespace kiv
