#include "kivds/ui/DialogThread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "kivds/platform/SourceLock.h"

namespace kiv {
namespace {

std::atomic<bool> g_abandoned{false};

// How often a loop that waits for the lock looks for synchronous tasks
// (it is also woken when one arrives).
constexpr auto kLockRetry = std::chrono::milliseconds(2);

}  // namespace

void AbandonDialogThreads() { g_abandoned.store(true); }

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
    std::thread::id threadId;

    void Loop();
    // Runs the synchronous tasks that are queued; with `guard` held on entry
    // and on return.
    void RunSyncItems(std::unique_lock<std::mutex>& guard);
    // Takes the source lock while serving synchronous tasks; false when the
    // loop is stopping.
    bool AcquireSourceLock(std::unique_lock<std::mutex>& guard);
    void RunLocked(std::unique_lock<std::mutex>& guard, const std::function<void()>& work);
};

void DialogThread::State::RunSyncItems(std::unique_lock<std::mutex>& guard) {
    while (!sync.empty()) {
        std::shared_ptr<SyncItem> item = sync.front();
        sync.pop_front();
        guard.unlock();
        {
            // Lent by the caller, or taken like anyone else when it held none.
            std::lock_guard<SourceLock> lock(TheSourceLock());
            item->task();
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

void DialogThread::State::Loop() {
    std::unique_lock<std::mutex> guard(mutex);
    while (!stopping) {
        RunSyncItems(guard);
        if (stopping) break;
        if (!events.empty()) {
            std::function<void()> event = std::move(events.front());
            events.pop_front();
            RunLocked(guard, event);
            continue;
        }
        // Timers that are due, one at a time (a handler may kill others).
        const Clock::time_point now = Clock::now();
        bool fired = false;
        for (auto& entry : timers) {
            if (entry.second.next <= now) {
                entry.second.next = now + entry.second.period;
                std::function<void()> handler = entry.second.handler;
                RunLocked(guard, handler);
                fired = true;
                break;
            }
        }
        if (fired) continue;

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
        auto hasWork = [this] { return stopping || !sync.empty() || !events.empty(); };
        if (until == Clock::time_point::max())
            wake.wait(guard, hasWork);
        else
            wake.wait_until(guard, until, hasWork);
    }
    finished = true;
    // Nobody will run what is still queued: release its callers (a lender
    // takes its lock back itself).
    for (auto& item : sync) item->done = true;
    sync.clear();
    completed.notify_all();
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

DialogThread::DialogThread() : state_(std::make_shared<State>()) {
    std::shared_ptr<State> state = state_;
    // The loop starts once the id is recorded.
    std::unique_lock<std::mutex> guard(state->mutex);
    thread_ = std::thread([state] { state->Loop(); });
    state->threadId = thread_.get_id();
}

DialogThread::~DialogThread() {
    Stop();
    if (OnThread() || g_abandoned.load()) {
        thread_.detach();  // the state outlives us in the thread's hands
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
    state_->wake.notify_all();
}

void DialogThread::Stop() {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->stopping = true;
    state_->wake.notify_all();
}

}  // namespace kiv
