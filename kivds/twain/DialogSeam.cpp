#include "kivds/twain/DialogSeam.h"

#include <mutex>

namespace kiv {
namespace {

std::mutex& FactoryLock() {
    static std::mutex lock;
    return lock;
}

CaptureDialogFactory& Factory() {
    static CaptureDialogFactory factory;
    return factory;
}

}  // namespace

void SetCaptureDialogFactory(CaptureDialogFactory factory) {
    std::lock_guard<std::mutex> guard(FactoryLock());
    Factory() = std::move(factory);
}

std::unique_ptr<ICaptureDialog> MakeCaptureDialog() {
    CaptureDialogFactory factory;
    {
        std::lock_guard<std::mutex> guard(FactoryLock());
        factory = Factory();
    }
    return factory ? factory() : nullptr;
}

}  // namespace kiv
