#include "kivds/platform/MessageBox.h"

#include <cstdio>
#include <mutex>

#include "kivds/platform/Env.h"
#include "kivds/platform/NativeMessageBox.h"

namespace kiv {
namespace {

struct HeadlessStore {
    std::mutex lock;
    std::vector<ShownMessage> shown;
    MessageBoxBackend backend;
};

HeadlessStore& Store() {
    static HeadlessStore store;
    return store;
}

void ShowHeadless(const ShownMessage& message) {
    std::fprintf(stderr, "[%s] %s\n", message.caption.c_str(), message.text.c_str());
    std::fflush(stderr);
    std::lock_guard<std::mutex> guard(Store().lock);
    Store().shown.push_back(message);
}

}  // namespace

bool HeadlessUiRequested() {
    auto value = GetEnv("KIVDS_UI");
    return value && *value == "headless";
}

void ShowMessageBox(WindowHandle owner, const std::string& caption, const std::string& text, unsigned style) {
    ShownMessage message{owner, caption, text, style};
    if (HeadlessUiRequested()) {
        ShowHeadless(message);
        return;
    }
    MessageBoxBackend backend;
    {
        std::lock_guard<std::mutex> guard(Store().lock);
        backend = Store().backend;
    }
    if (backend.show && backend.available && backend.available()) {
        backend.show(message);
        return;
    }
    if (!ShowNativeMessageBox(message)) ShowHeadless(message);
}

std::vector<ShownMessage> HeadlessMessages() {
    std::lock_guard<std::mutex> guard(Store().lock);
    return Store().shown;
}

void ClearHeadlessMessages() {
    std::lock_guard<std::mutex> guard(Store().lock);
    Store().shown.clear();
}

void RegisterMessageBoxBackend(MessageBoxBackend backend) {
    std::lock_guard<std::mutex> guard(Store().lock);
    Store().backend = std::move(backend);
}

}  // namespace kiv
