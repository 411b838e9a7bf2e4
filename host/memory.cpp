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

// Records a block just allocated in `book`; a book that cannot grow gives
// the block back and leaves the out-of-memory error pending.
template <class Record>
void* booked(HostImpl* h, void* p, std::uint64_t size, Record record) noexcept {
  if (!p) return nullptr;
  try {
    record();
  } catch (...) {
    h->memory.give_back(p, size);
    h->call.pending = MCN_ERROR_OUT_OF_MEMORY;
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
  pool->host->memory.give_back(block, it->second);
  pool->blocks.erase(it);
}

}  // namespace

// ---- allocators -----------------------------------------------------------

void* work_alloc(mcn_allocator*, std::uint64_t size, std::uint32_t) noexcept {
  HostImpl* h = H();
  void* p = h->allocate(size);
  return booked(h, p, size, [&] { h->memory.live.emplace(p, size); });
}

void work_free(mcn_allocator*, void* block, std::int32_t, std::int32_t) noexcept {
  HostImpl* h = H();
  auto it = h->memory.live.find(block);
  if (it == h->memory.live.end()) {
    std::fputs("mvts host: free of a block the work allocator did not give\n", stderr);
    std::abort();
  }
  h->memory.give_back(block, it->second);
  h->memory.live.erase(it);
}

void* registration_alloc(mcn_allocator*, std::uint64_t size, std::uint32_t) noexcept {
  HostImpl* h = H();
  void* p = h->allocate(size);
  return booked(h, p, size, [&] { h->memory.registration_blocks.emplace(p, size); });
}

void registration_free(mcn_allocator*, void* block, std::int32_t, std::int32_t) noexcept {
  HostImpl* h = H();
  auto& book = h->memory.registration_blocks;
  const auto it = book.find(block);
  if (it == book.end()) return;
  const std::uint64_t size = it->second;
  book.erase(it);
  h->memory.give_back(block, size);
}

// ---- pools -------------------------------------------------------------------

Pool::Pool(HostImpl* owner) : host(owner) {
  ops.alloc = pool_alloc;
  ops.release = pool_free;
}

Pool::~Pool() {
  for (auto& [p, size] : blocks) host->memory.give_back(p, size);
}

mcn_allocator* op_pool_create(void*, std::uint64_t, std::int32_t, std::int32_t) noexcept {
  HostImpl* h = H();
  if (h->memory.should_fail()) {
    h->call.pending = MCN_ERROR_OUT_OF_MEMORY;
    return nullptr;
  }
  try {
    h->memory.pools.push_back(std::make_unique<Pool>(h));
  } catch (...) {
    h->call.pending = MCN_ERROR_OUT_OF_MEMORY;
    return nullptr;
  }
  return &h->memory.pools.back()->ops;
}

void op_pool_release(mcn_allocator* a, std::int32_t) noexcept {
  auto& pools = H()->memory.pools;
  auto it = std::find_if(pools.begin(), pools.end(),
                         [a](const std::unique_ptr<Pool>& p) { return &p->ops == a; });
  if (it != pools.end()) pools.erase(it);  // the pool frees its blocks
}

// ---- temporary blocks ----------------------------------------------------------

void op_temp_obtain(void** var, std::uint64_t size) noexcept {
  HostImpl* h = H();
  void* p = h->allocate(size);
  *var = booked(h, p, size, [&] { h->memory.temp_blocks.emplace(p, size); });
}

void op_temp_release(void** var) noexcept {
  MemoryBook& m = H()->memory;
  auto it = *var ? m.temp_blocks.find(*var) : m.temp_blocks.end();
  if (it != m.temp_blocks.end()) {
    m.give_back(*var, it->second);
    m.temp_blocks.erase(it);
  }
  *var = nullptr;
}

// ---- the allocation every service goes through -----------------------------------

std::uint64_t MemoryBook::default_total_limit() {
  // Half the machine's memory: a call that asks for more fails through the
  // allocation path (status 1) instead of driving the machine into swap or
  // the out-of-memory killer.
  const long pages = ::sysconf(_SC_PHYS_PAGES), page = ::sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page <= 0) return std::uint64_t(16) << 30;
  return std::uint64_t(pages) * std::uint64_t(page) / 2;
}

MemoryBook::~MemoryBook() {
  pools.clear();  // each pool gives its blocks back here
  for (auto& [p, size] : live) std::free(p);
  for (const auto& [p, size] : registration_blocks) std::free(p);
  for (auto& [p, size] : temp_blocks) std::free(p);
}

bool MemoryBook::should_fail() {
  ++allocations;
  return fail_at != 0 && allocations == fail_at;
}

void* MemoryBook::allocate(std::uint64_t size) {
  if (should_fail() || !fits(size)) return nullptr;
  void* p = std::calloc(1, size == 0 ? 1 : size);
  if (!p) return nullptr;
  advise_huge_pages(p, size);
  in_use += size;
  return p;
}

void MemoryBook::give_back(void* block, std::uint64_t size) {
  in_use -= size;
  std::free(block);
}

}  // namespace detail

// ---- test hooks and limits ----------------------------------------------------------

void Host::fail_allocation_at(std::int64_t n) {
  impl_->memory.fail_at = n == 0 ? 0 : impl_->memory.allocations + n;
}
std::int64_t Host::allocation_count() const { return impl_->memory.allocations; }
std::int64_t Host::live_blocks() const {
  const auto& live = impl_->memory.live;
  std::int64_t n = std::int64_t(live.size());
  if (void* rng = impl_->rng_block(); rng && live.count(rng)) --n;
  return n;
}
std::int64_t Host::live_pools() const { return std::int64_t(impl_->memory.pools.size()); }
std::int64_t Host::live_temp_blocks() const {
  return std::int64_t(impl_->memory.temp_blocks.size());
}
void Host::set_allocation_limit(std::uint64_t bytes) { impl_->memory.limit = bytes; }
void Host::set_memory_limit(std::uint64_t bytes) { impl_->memory.total_limit = bytes; }
std::uint64_t Host::memory_limit() const { return impl_->memory.total_limit; }
std::uint64_t Host::memory_in_use() const { return impl_->memory.in_use; }

}  // namespace mvts
