#include "kivds/protocol/DialogSession.h"

#include <mutex>
#include <utility>

namespace kiv {
namespace {

std::mutex& BackendLock() {
    static std::mutex lock;
    return lock;
}

DialogSessionFactory& Backend() {
    static DialogSessionFactory factory;
    return factory;
}

}  // namespace

void RegisterDialogBackend(DialogSessionFactory factory) {
    std::lock_guard<std::mutex> guard(BackendLock());
    Backend() = std::move(factory);
}

std::unique_ptr<IDialogSession> MakeDialogSession() {
    DialogSessionFactory factory;
    {
        std::lock_guard<std::mutex> guard(BackendLock());
        factory = Backend();
    }
    return factory ? factory() : nullptr;
}

}  // namespace kiv
