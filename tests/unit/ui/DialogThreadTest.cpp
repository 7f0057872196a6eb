// The source-owned dialog thread and the source lock it shares with DS_Entry.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kivds/platform/SourceLock.h"
#include "kivds/protocol/DialogSession.h"
#include "kivds/ui/DialogBridge.h"
#include "kivds/ui/DialogThread.h"
#include "kivds/ui/headless/HeadlessDialog.h"
#include "support/ScopedEnv.h"

#ifdef _WIN32
#include <objbase.h>
#endif

namespace kiv {
namespace {

template <typename Condition>
bool WaitUntil(Condition condition) {
    for (int i = 0; i < 2000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

struct Trace {
    std::mutex mutex;
    std::vector<std::string> steps;
    void Add(const std::string& step) {
        std::lock_guard<std::mutex> guard(mutex);
        steps.push_back(step);
    }
    std::vector<std::string> Get() {
        std::lock_guard<std::mutex> guard(mutex);
        return steps;
    }
};

TEST(DialogThread, SynchronousTaskOfTheLockHolderRunsWhileAnEventWaitsForTheLock) {
    DialogThread thread;
    Trace trace;
    std::unique_lock<SourceLock> held(TheSourceLock());  // inside a DS_Entry call
    thread.Post([&] {
        EXPECT_TRUE(TheSourceLock().HeldByMe());
        trace.Add("event");
    });
    ASSERT_TRUE(thread.RunSync([&] {
        // Lent to the dialog's thread: the manager could be called from here.
        EXPECT_TRUE(TheSourceLock().HeldByMe());
        std::lock_guard<SourceLock> again(TheSourceLock());
        trace.Add("task");
    }));
    EXPECT_TRUE(TheSourceLock().HeldByMe());  // given back
    EXPECT_EQ(std::vector<std::string>{"task"}, trace.Get());
    held.unlock();
    ASSERT_TRUE(WaitUntil([&] { return trace.Get().size() == 2; }));
    EXPECT_EQ("event", trace.Get()[1]);
}

TEST(DialogThread, EventsAreSerialisedWithOtherLockHolders) {
    DialogThread thread;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> events{0};
    auto critical = [&] {
        if (inside.fetch_add(1) != 0) ++overlaps;
        std::this_thread::yield();
        inside.fetch_sub(1);
    };
    for (int i = 0; i < 200; ++i)
        thread.Post([&] {
            critical();
            ++events;
        });
    std::thread other([&] {
        for (int i = 0; i < 200; ++i) {
            std::lock_guard<SourceLock> guard(TheSourceLock());
            critical();
        }
    });
    other.join();
    ASSERT_TRUE(WaitUntil([&] { return events.load() == 200; }));
    EXPECT_EQ(0, overlaps.load());
}

TEST(DialogThread, RunSyncOnTheThreadItselfRunsAtOnce) {
    DialogThread thread;
    std::atomic<bool> ran{false};
    std::atomic<bool> nestedRan{false};
    thread.Post([&] {
        EXPECT_TRUE(thread.OnThread());
        thread.RunSync([&] { nestedRan = true; });
        EXPECT_TRUE(nestedRan.load());
        ran = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return ran.load(); }));
    EXPECT_FALSE(thread.OnThread());
}

TEST(DialogThread, TimersRepeatUntilKilledAndIdleHookIsCalledUnderTheLock) {
    DialogThread thread;
    std::atomic<int> ticks{0};
    std::atomic<int> idles{0};
    thread.SetTimer(0, 5, [&] { ++ticks; });
    ASSERT_TRUE(WaitUntil([&] { return ticks.load() >= 3; }));
    thread.KillTimer(0);
    EXPECT_FALSE(thread.TimerRunning(0));
    thread.SetIdleHook([&]() -> std::optional<DialogThread::Clock::time_point> {
        EXPECT_TRUE(TheSourceLock().HeldByMe());
        ++idles;
        return std::nullopt;
    });
    ASSERT_TRUE(WaitUntil([&] { return idles.load() >= 1; }));
}

// Set from another thread while the loop sleeps with nothing to wait for
// (right after a synchronous task): the timer fires and the hook is called.
TEST(DialogThread, TimerAndIdleHookSetWhileTheLoopSleepsAreServed) {
    DialogThread thread;
    std::atomic<bool> fired{false}, idled{false};
    ASSERT_TRUE(thread.RunSync([] {}));
    thread.SetTimer(3, 1, [&] { fired = true; });
    EXPECT_TRUE(WaitUntil([&] { return fired.load(); })) << "the timer never fired";
    thread.KillTimer(3);
    ASSERT_TRUE(thread.RunSync([] {}));
    thread.SetIdleHook([&]() -> std::optional<DialogThread::Clock::time_point> {
        idled = true;
        return std::nullopt;
    });
    EXPECT_TRUE(WaitUntil([&] { return idled.load(); })) << "the hook was never called";
}

// The thread goes on alone; the unload still waits for the loop's last lines
// (they are the library's code), which a slow release of the handler widens.
TEST(DialogThread, DestroyedFromItsOwnThreadLetsTheThreadFinishAloneAndTheUnloadJoinsIt) {
    static std::atomic<bool> released{false};
    struct SlowRelease {
        ~SlowRelease() {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            released = true;
        }
    };
    auto thread = std::make_unique<DialogThread>();
    std::atomic<bool> destroyed{false};
    DialogThread* raw = thread.get();
    raw->Post([&thread, &destroyed, slow = std::make_shared<SlowRelease>()] {
        thread.reset();  // the application disabled the source from a callback
        destroyed = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return destroyed.load(); }));
    EXPECT_EQ(nullptr, thread);
    JoinLetGoDialogThreads();
    EXPECT_TRUE(released.load());
}

// The rest of a handler that destroyed its own thread (the view kills its
// timer after the close request) reaches the loop through a link: its work is
// dropped, nothing runs on freed memory.
TEST(DialogThread, LinkOutlivesTheThreadAHandlerDestroyed) {
    auto thread = std::make_unique<DialogThread>();
    const DialogThread::Link link = thread->MakeLink();
    std::atomic<bool> done{false};
    std::atomic<bool> ranAfterwards{false};
    thread->Post([&] {
        thread.reset();
        EXPECT_TRUE(link.OnThread());
        link.KillTimer(0);
        link.SetTimer(1, 1, [&] { ranAfterwards = true; });
        link.Post([&] { ranAfterwards = true; });
        done = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
    EXPECT_FALSE(link.RunSync([&] { ranAfterwards = true; }));
    EXPECT_FALSE(ranAfterwards.load());
}

TEST(DialogThread, StoppedLoopRefusesWorkAndReturnsTheLentLock) {
    DialogThread thread;
    thread.Stop();
    std::lock_guard<SourceLock> held(TheSourceLock());
    EXPECT_FALSE(thread.RunSync([] { ADD_FAILURE() << "ran on a stopped loop"; }));
    EXPECT_TRUE(TheSourceLock().HeldByMe());
}

#ifdef _WIN32
// The handlers call the camera's COM objects: the loop's thread is in the
// multithreaded apartment before the first task (joining it again answers
// S_FALSE, not S_OK).
TEST(DialogThread, RunsInTheMultithreadedApartment) {
    DialogThread thread;
    HRESULT again = E_FAIL;
    ASSERT_TRUE(thread.RunSync([&] {
        again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(again)) CoUninitialize();
    }));
    EXPECT_EQ(S_FALSE, again);
}
#endif

// A modal window opened by a handler: its loop runs the events and timers
// that come meanwhile, each under the lock, which it gives up while it waits.
TEST(DialogThread, NestedLoopOfAHandlerServesEventsAndTimers) {
    DialogThread thread;
    std::atomic<bool> waiting{false}, eventRan{false}, timerFired{false}, done{false};
    std::atomic<bool> heldWhileWaiting{true};
    thread.Post([&] {
        for (int pass = 0; pass < 2000 && !(eventRan && timerFired); ++pass) {
            DialogThread::ServeNested([&] {
                waiting = true;
                heldWhileWaiting = heldWhileWaiting && TheSourceLock().HeldByMe();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            });
        }
        EXPECT_TRUE(TheSourceLock().HeldByMe());
        done = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return waiting.load(); }));
    thread.Post([&] { eventRan = TheSourceLock().HeldByMe(); });
    thread.SetTimer(0, 5, [&] { timerFired = TheSourceLock().HeldByMe(); });
    ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
    EXPECT_TRUE(eventRan);
    EXPECT_TRUE(timerFired);
    EXPECT_FALSE(heldWhileWaiting);
}

// A modal window opened by a task of a DS_Entry call: that call waits for
// the user, and keeps the lock it lent (nobody slips in); a modal loop of a
// handler ends when the thread stops.
TEST(DialogThread, NestedLoopKeepsALentLockAndEndsWhenTheThreadStops) {
    DialogThread thread;
    bool otherTook = true;
    std::unique_lock<SourceLock> held(TheSourceLock());
    ASSERT_TRUE(thread.RunSync([&] {
        int passes = 0;
        while (passes < 3 && DialogThread::ServeNested([&] {
                   if (++passes != 2) return;
                   std::thread other([&] {
                       otherTook = TheSourceLock().try_lock();
                       if (otherTook) TheSourceLock().unlock();
                   });
                   other.join();
               })) {
        }
        EXPECT_EQ(3, passes);
    }));
    EXPECT_FALSE(otherTook);
    EXPECT_TRUE(TheSourceLock().HeldByMe());
    held.unlock();

    std::atomic<bool> inside{false}, ended{false};
    thread.Post([&] {
        while (DialogThread::ServeNested([&] {
            inside = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        })) {
        }
        ended = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return inside.load(); }));
    thread.Stop();
    EXPECT_TRUE(WaitUntil([&] { return ended.load(); }));
}

TEST(SourceLock, IsRecursiveAndExclusive) {
    SourceLock lock;
    lock.lock();
    EXPECT_TRUE(lock.try_lock());
    std::atomic<bool> otherGot{true};
    std::thread other([&] { otherGot = lock.try_lock(); });
    other.join();
    EXPECT_FALSE(otherGot.load());
    lock.unlock();
    EXPECT_TRUE(lock.HeldByMe());
    lock.unlock();
    EXPECT_FALSE(lock.HeldByMe());
    std::thread later([&] {
        otherGot = lock.try_lock();
        if (otherGot) lock.unlock();
    });
    later.join();
    EXPECT_TRUE(otherGot.load());
}

class MarkedSession final : public IDialogSession {
public:
    bool Create(WindowHandle) override { return false; }
    void Show() override {}
    void DestroyWindow() override {}
    void SendXferDone() override {}
    WindowHandle Window() const override { return const_cast<MarkedSession*>(this); }
};

TEST(DialogSession, AToolkitBackendIsUsedUnlessHeadlessIsRequested) {
    int made = 0;
    const DialogSessionFactory toolkit = [&made]() -> std::unique_ptr<IDialogSession> {
        ++made;
        return std::make_unique<MarkedSession>();
    };
    {
        kivtest::ScopedEnv ui("KIVDS_UI", nullptr);
        auto session = MakeToolkitOrHeadlessDialogSession(toolkit);
        EXPECT_NE(nullptr, dynamic_cast<MarkedSession*>(session.get()));
    }
    {
        kivtest::ScopedEnv ui("KIVDS_UI", "headless");
        auto session = MakeToolkitOrHeadlessDialogSession(toolkit);
        ASSERT_NE(nullptr, session);
        EXPECT_EQ(nullptr, dynamic_cast<MarkedSession*>(session.get()));
    }
    EXPECT_EQ(1, made);
    kivtest::ScopedEnv ui("KIVDS_UI", nullptr);
    EXPECT_EQ(nullptr, dynamic_cast<MarkedSession*>(MakeToolkitOrHeadlessDialogSession({}).get()));
}

TEST(DialogSession, TheManagerGetsTheRegisteredBackendsSessions) {
    RegisterDialogBackend([]() -> std::unique_ptr<IDialogSession> { return std::make_unique<MarkedSession>(); });
    EXPECT_NE(nullptr, dynamic_cast<MarkedSession*>(MakeDialogSession().get()));
    RegisterDialogBackend({});
    EXPECT_EQ(nullptr, MakeDialogSession());
}

TEST(DialogBridge, DeliversToRegisteredWindowsAndKeepsTheNewestPicture) {
    DialogBridge& bridge = DialogBridge::Instance();
    int window = 0;
    WindowHandle handle = &window;
    std::vector<unsigned> delivered;
    bridge.Register(handle, {405, 324, [&](unsigned message) { delivered.push_back(message); }, nullptr, nullptr});
    int width = 0, height = 0;
    ASSERT_TRUE(bridge.GetClientSize(handle, width, height));
    EXPECT_EQ(405, width);
    EXPECT_EQ(324, height);
    bridge.PostGraphNotify(handle);
    bridge.SendFrameArrived(handle);
    EXPECT_EQ((std::vector<unsigned>{WM_GRAPHNOTIFY, WM_FRAMEARRIVED}), delivered);

    auto first = std::make_shared<PreviewPicture>();
    first->width = 4;
    auto second = std::make_shared<PreviewPicture>();
    second->width = 8;
    bridge.PresentPreview(handle, first);
    bridge.PresentPreview(handle, second);
    EXPECT_EQ(second, bridge.Latest(handle));

    bridge.Unregister(handle);
    bridge.PostGraphNotify(handle);
    bridge.PresentPreview(handle, first);
    EXPECT_EQ(2u, delivered.size());
    EXPECT_EQ(nullptr, bridge.Latest(handle));
    EXPECT_FALSE(bridge.GetClientSize(handle, width, height));
}

// A window's target may reach the bridge again from its callbacks (a dialog
// that ends on a notification unregisters its windows); the bridge calls out
// without holding its lock.
TEST(DialogBridge, CallbacksMayCallTheBridgeAndUnknownWindowsHaveNoSize) {
    DialogBridge& bridge = DialogBridge::Instance();
    int window = 0;
    WindowHandle handle = &window;
    int delivered = 0, repaints = 0;
    bridge.Register(handle, {405, 324,
                             [&](unsigned) {
                                 ++delivered;
                                 bridge.Unregister(handle);
                             },
                             [&] {
                                 ++repaints;
                                 EXPECT_NE(nullptr, bridge.Take(handle));
                             },
                             nullptr});
    bridge.PresentPreview(handle, std::make_shared<PreviewPicture>());
    bridge.PresentPreview(handle, std::make_shared<PreviewPicture>());
    EXPECT_EQ(2, repaints) << "each picture was taken at once";
    bridge.PostGraphNotify(handle);
    bridge.PostGraphNotify(handle);
    EXPECT_EQ(1, delivered);
    int width = -1, height = -1;
    EXPECT_FALSE(bridge.GetClientSize(handle, width, height));
    EXPECT_EQ(0, width);
    EXPECT_EQ(0, height);
}

}  // namespace
}  // namespace kiv
