#include "tools/kivscan/TwainLink.h"
#include "tools/kivscan/TwainNames.h"

namespace kiv {
namespace scan {

using namespace twain;

Mailbox& Mailbox::Instance() {
    static Mailbox mailbox;
    return mailbox;
}

void Mailbox::Post(TW_UINT16 msg) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        messages_.push_back(msg);
    }
    arrived_.notify_all();
}

std::optional<TW_UINT16> Mailbox::Take(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(lock_);
    if (!arrived_.wait_for(guard, timeout, [this] { return !messages_.empty(); })) return std::nullopt;
    const TW_UINT16 msg = messages_.front();
    messages_.pop_front();
    return msg;
}

void Mailbox::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    messages_.clear();
}

void TwainLink::Log(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc) const {
    if (log_) log_(TripletName(dg, dat, msg) + " -> " + ReturnCodeName(rc));
}

}  // namespace scan
}  // namespace kiv
