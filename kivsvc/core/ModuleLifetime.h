// The module's lock count and when the local server ends.
#pragma once

#include <atomic>

namespace kiv::svc {

class ModuleLifetime {
 public:
  explicit ModuleLifetime(bool serviceMode = false) : serviceMode_(serviceMode) {}

  void SetServiceMode(bool on) { serviceMode_.store(on); }
  bool ServiceMode() const { return serviceMode_.load(); }

  long Lock() { return ++count_; }
  // True when the count fell to 0 outside service mode: the process should
  // end because its last client is gone.
  bool Unlock() { return --count_ == 0 && !serviceMode_.load(); }
  long Count() const { return count_.load(); }

  // The idle timer of a COM start ("-Embedding"): true when no client holds
  // anything, so a server that nobody connects to ends by itself.
  bool IdleExpired() const { return count_.load() == 0 && !serviceMode_.load(); }

 private:
  std::atomic<long> count_{0};
  std::atomic<bool> serviceMode_;
};

}  // namespace kiv::svc
