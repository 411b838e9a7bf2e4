// Allocation and its limits: the work and registration allocators, pools,
// temporary blocks, the cap on memory live at once, and the injected
// allocation failures of the tests.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

#include "host/host_impl.hpp"

namespace mvts {
namespace detail {

// Asks for transparent huge pages on the 2 MiB-aligned interior of a large
// block: a block of many megabytes is then faulted in a few hundred times
// instead of once per 4 KiB page, which for a long simulation costs as much
// as the arithmetic.  Purely advisory; contents are unaffected.
void advise_huge_pages(void* p, std::uint64_t size) {
  constexpr std::uint64_t kHuge = std::uint64_t(2) << 20;
  if (size < 2 * kHuge) return;
  const auto begin = (reinterpret_cast<std::uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(p) + size) & ~(kHuge - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

namespace {

// Gives back a block of `size` bytes that HostImpl::allocate gave.
void give_back(HostImpl* h, void* block, std::uint64_t size) {
  h->in_use -= size;
  std::free(block);
}

// Records a block just allocated in `book`; a book that cannot grow gives
// the block back and leaves the out-of-memory error pending.
template <class Record>
void* booked(HostImpl* h, void* p, std::uint64_t size, Record record) noexcept {
  if (!p) return nullptr;
  try {
    record();
  } catch (...) {
    give_back(h, p, size);
    h->pending = MCN_ERROR_OUT_OF_MEMORY;
    return nullptr;
  }
  return p;
}

void* pool_alloc(mcn_allocator* self, std::uint64_t size, std::uint32_t) noexcept {
  auto* pool = reinterpret_cast<Pool*>(self);
  void* p = pool->host->allocate(size);
  return booked(pool->host, p, size, [&] { pool->blocks.emplace(p, size); });
}

void pool_free(mcn_allocator* self, void* block, std::int32_t, std::int32_t) noexcept {
  auto* pool = reinterpret_cast<Pool*>(self);
  auto it = pool->blocks.find(block);
  if (it == pool->blocks.end()) return;
  give_back(pool->host, block, it->second);
  pool->blocks.erase(it);
}

}  // namespace

// ---- allocators -----------------------------------------------------------

void* work_alloc(mcn_allocator*, std::uint64_t size, std::uint32_t) noexcept {
  HostImpl* h = H();
  void* p = h->allocate(size);
  return booked(h, p, size, [&] { h->live.emplace(p, size); });
}

void work_free(mcn_allocator*, void* block, std::int32_t, std::int32_t) noexcept {
  HostImpl* h = H();
  auto it = h->live.find(block);
  if (it == h->live.end()) {
    std::fputs("mvts host: free of a block the work allocator did not give\n", stderr);
    std::abort();
  }
  give_back(h, block, it->second);
  h->live.erase(it);
}

void* registration_alloc(mcn_allocator*, std::uint64_t size, std::uint32_t) noexcept {
  HostImpl* h = H();
  void* p = h->allocate(size);
  return booked(h, p, size, [&] { h->registration_blocks.emplace(p, size); });
}

void registration_free(mcn_allocator*, void* block, std::int32_t, std::int32_t) noexcept {
  HostImpl* h = H();
  const auto it = h->registration_blocks.find(block);
  if (it == h->registration_blocks.end()) return;
  const std::uint64_t size = it->second;
  h->registration_blocks.erase(it);
  give_back(h, block, size);
}

// ---- pools -------------------------------------------------------------------

Pool::Pool(HostImpl* owner) : host(owner) {
  ops.alloc = pool_alloc;
  ops.release = pool_free;
}

Pool::~Pool() {
  for (auto& [p, size] : blocks) give_back(host, p, size);
}

mcn_allocator* op_pool_create(void*, std::uint64_t, std::int32_t, std::int32_t) noexcept {
  HostImpl* h = H();
  if (h->should_fail()) {
    h->pending = MCN_ERROR_OUT_OF_MEMORY;
    return nullptr;
  }
  try {
    h->pools.push_back(std::make_unique<Pool>(h));
  } catch (...) {
    h->pending = MCN_ERROR_OUT_OF_MEMORY;
    return nullptr;
  }
  return &h->pools.back()->ops;
}

void op_pool_release(mcn_allocator* a, std::int32_t) noexcept {
  HostImpl* h = H();
  auto it = std::find_if(h->pools.begin(), h->pools.end(),
                         [a](const std::unique_ptr<Pool>& p) { return &p->ops == a; });
  if (it != h->pools.end()) h->pools.erase(it);  // the pool frees its blocks
}

// ---- temporary blocks ----------------------------------------------------------

void op_temp_obtain(void** var, std::uint64_t size) noexcept {
  HostImpl* h = H();
  void* p = h->allocate(size);
  *var = booked(h, p, size, [&] { h->temp_blocks.emplace(p, size); });
}

void op_temp_release(void** var) noexcept {
  HostImpl* h = H();
  auto it = *var ? h->temp_blocks.find(*var) : h->temp_blocks.end();
  if (it != h->temp_blocks.end()) {
    give_back(h, *var, it->second);
    h->temp_blocks.erase(it);
  }
  *var = nullptr;
}

}  // namespace detail

// ---- the allocation every service goes through -----------------------------------

std::uint64_t HostImpl::default_total_limit() {
  // Half the machine's memory: a call that asks for more fails through the
  // allocation path (status 1) instead of driving the machine into swap or
  // the out-of-memory killer.
  const long pages = ::sysconf(_SC_PHYS_PAGES), page = ::sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page <= 0) return std::uint64_t(16) << 30;
  return std::uint64_t(pages) * std::uint64_t(page) / 2;
}

bool HostImpl::should_fail() {
  ++allocations;
  return fail_at != 0 && allocations == fail_at;
}

void* HostImpl::allocate(std::uint64_t size) {
  if (should_fail() || !fits(size)) {
    pending = MCN_ERROR_OUT_OF_MEMORY;
    return nullptr;
  }
  void* p = std::calloc(1, size == 0 ? 1 : size);
  if (!p) {
    pending = MCN_ERROR_OUT_OF_MEMORY;
    return nullptr;
  }
  detail::advise_huge_pages(p, size);
  in_use += size;
  return p;
}

// ---- test hooks and limits ----------------------------------------------------------

void Host::fail_allocation_at(std::int64_t n) {
  impl_->fail_at = n == 0 ? 0 : impl_->allocations + n;
}
std::int64_t Host::allocation_count() const { return impl_->allocations; }
std::int64_t Host::live_blocks() const {
  std::int64_t n = std::int64_t(impl_->live.size());
  if (void* rng = impl_->rng_block(); rng && impl_->live.count(rng)) --n;
  return n;
}
std::int64_t Host::live_pools() const { return std::int64_t(impl_->pools.size()); }
std::int64_t Host::live_temp_blocks() const { return std::int64_t(impl_->temp_blocks.size()); }
void Host::set_allocation_limit(std::uint64_t bytes) { impl_->limit = bytes; }
void Host::set_memory_limit(std::uint64_t bytes) { impl_->total_limit = bytes; }
std::uint64_t Host::memory_limit() const { return impl_->total_limit; }
std::uint64_t Host::memory_in_use() const { return impl_->in_use; }

}  // namespace mvts
