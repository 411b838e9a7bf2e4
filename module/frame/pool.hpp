// RAII guard over a host memory pool: every block taken from it is released
// with the pool, on every path.
#pragma once

#include <cstdint>

#include "module/frame/host.hpp"

namespace mvtsa {

class HostPool {
 public:
  HostPool() : pool_(pool_create()) {}
  ~HostPool() { pool_release(pool_); }
  HostPool(const HostPool&) = delete;
  HostPool& operator=(const HostPool&) = delete;
  // False when the host gave no pool (the caller returns allocation_failed()).
  bool ok() const { return pool_ != nullptr; }
  // A zero-filled array of n elements of T, or null after the host error was
  // raised.  Once one request has failed every later one returns null without
  // asking the host again, so a caller that takes several arrays before
  // testing them raises the error once.
  template <class T>
  T* get(std::uint64_t n) {
    if (failed_) return nullptr;
    void* p = pool_alloc(pool_, checked_bytes(n == 0 ? 1 : n, sizeof(T)));
    if (!p) {
      failed_ = true;
      (void)allocation_failed();
      return nullptr;
    }
    if (check_host_error()) {
      failed_ = true;
      return nullptr;
    }
    return static_cast<T*>(p);
  }

 private:
  mcn_allocator* pool_;
  bool failed_ = false;
};

}  // namespace mvtsa
