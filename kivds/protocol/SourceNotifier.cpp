#include "kivds/protocol/SourceNotifier.h"

#include <atomic>
#include <mutex>

#include "kivds/platform/SourceLock.h"

namespace kiv {
namespace {
std::atomic<ISourceNotifier*> g_notifier{nullptr};
}  // namespace

ISourceNotifier* ActiveNotifier() { return g_notifier.load(); }

void SetActiveNotifier(ISourceNotifier* notifier) { g_notifier.store(notifier); }

int NotifyActiveManager(twain::TW_UINT16 message, void* data) {
    std::lock_guard<SourceLock> guard(TheSourceLock());
    ISourceNotifier* notifier = ActiveNotifier();
    return notifier ? notifier->Notify(message, data) : 0;
}

}  // namespace kiv
