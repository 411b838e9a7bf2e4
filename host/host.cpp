// The host: service table operations, allocators, utility files, pools,
// temporary blocks, the sweep operator, module loading and the call API.
#include "host/host.hpp"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

namespace mvts {

// ---------------------------------------------------------------------------
// Host-side state

namespace {

// An argument as the host holds it; modules see it only through
// get_arg_matrix and has_missing.
struct HostArg {
  std::int32_t rows = 0;
  std::int32_t cols = 0;
  std::int32_t type = -1;
  double* data = nullptr;
  std::vector<double> values;
  std::string text;
};

constexpr int kErrorOutOfMemory = 1001;
constexpr int kErrorBadResult = 1002;

struct Pool;

}  // namespace

class HostImpl {
 public:
  HostImpl();
  ~HostImpl();

  mcn_host_table table{};
  void* groups_storage[MCN_GROUP_COUNT][MCN_SLOT_COUNT] = {};
  void* const* group_ptrs[MCN_GROUP_COUNT] = {};
  std::uint8_t used[MCN_GROUP_COUNT] = {};
  mcn_allocator work{};
  mcn_allocator registration{};
  alignas(16) unsigned char context[MCN_CONTEXT_SIZE] = {};

  // memory accounting
  std::unordered_map<void*, std::uint64_t> live;      // work blocks
  std::unordered_set<void*> registration_blocks;
  std::unordered_map<void*, std::uint64_t> temp_blocks;
  std::vector<Pool*> pools;
  std::int64_t allocations = 0;
  std::int64_t fail_at = 0;  // absolute allocation number that fails
  std::uint64_t limit = std::uint64_t(16) << 30;  // one allocation
  std::uint64_t total_limit = default_total_limit();  // everything live at once
  std::uint64_t in_use = 0;                           // bytes live now
  std::uint64_t result_bytes = 0;                     // outputs of the current call

  static std::uint64_t default_total_limit() {
    // Half the machine's memory: a call that asks for more fails through the
    // allocation path (status 1) instead of driving the machine into swap or
    // the out-of-memory killer.
    const long pages = ::sysconf(_SC_PHYS_PAGES), page = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page <= 0) return std::uint64_t(16) << 30;
    return std::uint64_t(pages) * std::uint64_t(page) / 2;
  }
  bool fits(std::uint64_t size) const {
    return size <= limit && size <= total_limit && in_use <= total_limit - size;
  }

  // utility files
  struct UtilityFile {
    std::FILE* f = nullptr;
  };
  std::unordered_set<UtilityFile*> files;
  std::int64_t utility_ops = 0;
  std::int64_t utility_fail_at = 0;

  // modules
  std::vector<void*> handles;
  std::vector<mcn_main_fn> mains;  // the exports of the modules attached to this host
  std::string first_module_dir;
  std::vector<FunctionInfo> functions;

  // errors and the current call
  int pending = 0;
  CallResult current;
  std::uint32_t fixed_clock = 0;
  std::vector<std::optional<Matrix>>* outputs = nullptr;
  int output_count = 0;
  // The argument slots of the current call and the input read last (1-based;
  // 0: none), which names the argument of a failed check.
  const std::vector<void*>* call_slots = nullptr;
  int last_read = 0;

  void note_read(const void* arg) {
    if (!call_slots || !arg) return;
    for (std::size_t i = 0; i < call_slots->size(); ++i)
      if ((*call_slots)[i] == arg) {
        last_read = int(i) + 1;
        return;
      }
  }

  void* allocate(std::uint64_t size);
  bool should_fail();
  void* rng_block() const {
    void* p;
    std::memcpy(&p, context + MCN_CONTEXT_RNG_WORD, sizeof p);
    return p;
  }
};

namespace {

// The host whose operations run on this thread, and the service table last
// handed to modules on this thread.  Both are per thread, and a call sets
// them for its own length only (CallScope), so that several hosts can serve
// calls in one process, one after the other or on several threads at once.
thread_local Host* t_active = nullptr;
thread_local const mcn_host_table* t_table = nullptr;

// Hands `table` (null: none) to every module attached to `h`, on this thread.
void hand_table(const HostImpl* h, const mcn_host_table* table) {
  for (mcn_main_fn main : h->mains) (void)main(table, nullptr);
  t_table = table;
}

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

HostImpl* H() {
  Host* h = t_active;
  if (!h) {
    std::fputs("mvts host: a module called a host operation with no active host\n", stderr);
    std::abort();
  }
  return h->impl();
}

struct Pool {
  mcn_allocator ops{};
  HostImpl* host = nullptr;
  std::unordered_map<void*, std::uint64_t> blocks;
};

// ---- allocators -----------------------------------------------------------

void* work_alloc(mcn_allocator*, std::uint64_t size, std::uint32_t) {
  HostImpl* h = H();
  void* p = h->allocate(size);
  if (p) h->live.emplace(p, size);
  return p;
}

void work_free(mcn_allocator*, void* block, std::int32_t, std::int32_t) {
  HostImpl* h = H();
  auto it = h->live.find(block);
  if (it == h->live.end()) {
    std::fputs("mvts host: free of a block the work allocator did not give\n", stderr);
    std::abort();
  }
  h->in_use -= it->second;
  h->live.erase(it);
  std::free(block);
}

void* registration_alloc(mcn_allocator*, std::uint64_t size, std::uint32_t) {
  HostImpl* h = H();
  void* p = h->allocate(size);
  if (p) h->registration_blocks.insert(p);
  return p;
}

void registration_free(mcn_allocator*, void* block, std::int32_t, std::int32_t) {
  HostImpl* h = H();
  if (h->registration_blocks.erase(block)) std::free(block);
}

void* pool_alloc(mcn_allocator* self, std::uint64_t size, std::uint32_t) {
  auto* pool = reinterpret_cast<Pool*>(self);
  void* p = pool->host->allocate(size);
  if (p) pool->blocks.emplace(p, size);
  return p;
}

void pool_free(mcn_allocator* self, void* block, std::int32_t, std::int32_t) {
  auto* pool = reinterpret_cast<Pool*>(self);
  auto it = pool->blocks.find(block);
  if (it == pool->blocks.end()) return;
  pool->host->in_use -= it->second;
  pool->blocks.erase(it);
  std::free(block);
}

// ---- arguments and results ---------------------------------------------------

std::int32_t op_get_arg_matrix(void* arg, std::int32_t* rows, std::int32_t* cols,
                               std::int32_t* type, double** data) {
  if (Host* host = t_active) host->impl()->note_read(arg);
  auto* a = static_cast<HostArg*>(arg);
  if (!a) {
    *rows = *cols = 0;
    *type = -1;
    *data = nullptr;
    return 1;
  }
  *rows = a->rows;
  *cols = a->cols;
  *type = a->type;
  *data = a->data;
  return 0;
}

double* op_create_result(std::int32_t output, std::int32_t rows, std::int32_t cols) {
  HostImpl* h = H();
  if (!h->outputs || output < 1 || output > h->output_count || rows < 0 || cols < 0) {
    h->pending = kErrorBadResult;
    return nullptr;
  }
  const std::uint64_t n = std::uint64_t(rows) * std::uint64_t(cols);
  auto& slot = (*h->outputs)[output - 1];
  const std::uint64_t old = slot ? slot->data.size() * sizeof(double) : 0;
  h->in_use -= old;  // the new value replaces the old one
  h->result_bytes -= old;
  slot.reset();
  if (n > h->limit / sizeof(double) || !h->fits(n * sizeof(double)) || h->should_fail()) {
    h->pending = kErrorOutOfMemory;
    return nullptr;
  }
  slot.emplace();
  slot->rows = rows;
  slot->cols = cols;
  slot->data.reserve(std::size_t(n));
  advise_huge_pages(slot->data.data(), n * sizeof(double));
  slot->data.resize(std::size_t(n), 0.0);
  h->in_use += n * sizeof(double);
  h->result_bytes += n * sizeof(double);
  // An empty result still gets a valid address.
  if (slot->data.empty()) slot->data.reserve(1);
  return slot->data.data();
}

std::int32_t op_has_missing(void* arg) {
  if (Host* host = t_active) host->impl()->note_read(arg);
  auto* a = static_cast<HostArg*>(arg);
  if (!a || !a->data || a->type >= 0) return 0;
  for (double x : a->values) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, 8);
    if ((bits & 0x7FF0000000000000ULL) == 0x7FF0000000000000ULL) return 1;
  }
  return 0;
}

void* op_context_block() { return H()->context; }

std::int32_t op_result_complete(std::int32_t) { return 0; }

std::uint32_t op_clock_seed() {
  HostImpl* h = H();
  if (h->fixed_clock) return h->fixed_clock;
  auto ns = std::chrono::steady_clock::now().time_since_epoch().count() ^
            std::chrono::system_clock::now().time_since_epoch().count();
  auto v = static_cast<std::uint64_t>(ns);
  v ^= v >> 29;
  v *= 0xBF58476D1CE4E5B9ULL;
  v ^= v >> 32;
  // A seed in 1 .. 2^31 - 2, so the generator never sits at zero.
  return static_cast<std::uint32_t>(v % 2147483646u) + 1u;
}

// ---- errors and messages ------------------------------------------------------

std::int32_t op_error_pending() { return H()->pending; }

void op_raise_error(std::int32_t code) {
  HostImpl* h = H();
  h->pending = 0;
  h->current.raised_error = code;
  Message m;
  m.number = 0;
  m.text = error_text(code);
  h->current.messages.push_back(std::move(m));
}

std::int32_t op_issue_message(std::int32_t group, std::int32_t number, std::int32_t count,
                              const mcn_insert* inserts) {
  HostImpl* h = H();
  Message m;
  m.number = number;
  for (int i = 0; i < count && i < 4; ++i) {
    switch (inserts[i].kind) {
      case MCN_INSERT_TEXT: m.inserts.emplace_back(std::string(inserts[i].s ? inserts[i].s : ""));
        break;
      case MCN_INSERT_INT: m.inserts.emplace_back(std::int64_t(inserts[i].i)); break;
      default: m.inserts.emplace_back(inserts[i].d); break;
    }
  }
  m.text = group == MCN_MESSAGE_GROUP ? message_text(number, m.inserts)
                                      : "message " + std::to_string(number) + " of group " +
                                            std::to_string(group);
  m.note = message_is_note(number);
  h->current.messages.push_back(std::move(m));
  return 0;
}

void op_fatal_error(std::int32_t code, std::int32_t) {
  HostImpl* h = H();
  Message m;
  m.number = code;
  m.text = error_text(code);
  h->current.messages.push_back(std::move(m));
}

void op_print_note(const char* format, const char* insert) {
  HostImpl* h = H();
  std::string out;
  const std::string f = format ? format : "";
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (f[i] == '%' && i + 1 < f.size() && f[i + 1] == 's') {
      out += insert ? insert : "";
      ++i;
    } else {
      out += f[i];
    }
  }
  h->current.notes.push_back(out);
}

void op_error_code_report(std::int32_t, std::int32_t code) {
  HostImpl* h = H();
  Message m;
  m.number = 0;
  m.inserts.emplace_back(std::int64_t(code));
  m.text = "A host utility file operation failed with code " + std::to_string(code) +
           ": the disk may be full or the temporary directory not writable.";
  h->current.messages.push_back(std::move(m));
}

// ---- pools and temporary blocks -------------------------------------------------

mcn_allocator* op_pool_create(void*, std::uint64_t, std::int32_t, std::int32_t) {
  HostImpl* h = H();
  if (h->should_fail()) {
    h->pending = kErrorOutOfMemory;
    return nullptr;
  }
  auto* pool = new Pool;
  pool->ops.alloc = pool_alloc;
  pool->ops.release = pool_free;
  pool->host = h;
  h->pools.push_back(pool);
  return &pool->ops;
}

void release_pool(Pool* pool) {
  for (auto& [p, size] : pool->blocks) {
    pool->host->in_use -= size;
    std::free(p);
  }
  delete pool;
}

void op_pool_release(mcn_allocator* a, std::int32_t) {
  HostImpl* h = H();
  auto* pool = reinterpret_cast<Pool*>(a);
  auto it = std::find(h->pools.begin(), h->pools.end(), pool);
  if (it == h->pools.end()) return;
  h->pools.erase(it);
  release_pool(pool);
}

void op_temp_obtain(void** var, std::uint64_t size) {
  HostImpl* h = H();
  *var = h->allocate(size);
  if (*var) h->temp_blocks.emplace(*var, size);
}

void op_temp_release(void** var) {
  HostImpl* h = H();
  auto it = *var ? h->temp_blocks.find(*var) : h->temp_blocks.end();
  if (it != h->temp_blocks.end()) {
    h->in_use -= it->second;
    h->temp_blocks.erase(it);
    std::free(*var);
  }
  *var = nullptr;
}

// ---- utility files: real temporary files, removed when closed ----------------------

bool utility_fails(HostImpl* h) {
  ++h->utility_ops;
  return h->utility_fail_at != 0 && h->utility_ops == h->utility_fail_at;
}

std::int32_t op_utility_create(void** handle, const std::uint8_t*) {
  HostImpl* h = H();
  *handle = nullptr;
  if (utility_fails(h)) return -3;
  // An anonymous memory-backed file where the system offers one (no
  // directory entry, gone when closed); otherwise a temporary file in the
  // temporary directory, removed on close or at process exit.
  std::FILE* f = nullptr;
  const int fd = ::memfd_create("mvts-utility", MFD_CLOEXEC);
  if (fd >= 0) {
    f = ::fdopen(fd, "w+b");
    if (!f) ::close(fd);
  }
  if (!f) f = std::tmpfile();
  if (!f) return -1;
  std::setvbuf(f, nullptr, _IOFBF, 1 << 16);
  auto* u = new HostImpl::UtilityFile{f};
  h->files.insert(u);
  *handle = u;
  return 0;
}

HostImpl::UtilityFile* utility(HostImpl* h, void* handle) {
  auto* u = static_cast<HostImpl::UtilityFile*>(handle);
  return h->files.count(u) ? u : nullptr;
}

std::int32_t op_utility_rewind(void* handle, std::int32_t) {
  HostImpl* h = H();
  auto* u = utility(h, handle);
  if (!u || utility_fails(h)) return -4;
  return std::fseek(u->f, 0, SEEK_SET) == 0 ? 0 : -4;
}

std::int32_t op_utility_write(void* handle, const void* data, std::int64_t bytes) {
  HostImpl* h = H();
  auto* u = utility(h, handle);
  if (!u || bytes < 0 || utility_fails(h)) return -5;
  if (bytes == 0) return 0;
  return std::fwrite(data, 1, std::size_t(bytes), u->f) == std::size_t(bytes) ? 0 : -5;
}

std::int32_t op_utility_read(void* handle, void* buffer, std::int64_t bytes) {
  HostImpl* h = H();
  auto* u = utility(h, handle);
  if (!u || bytes < 0 || utility_fails(h)) return -6;
  if (bytes == 0) return 0;
  return std::fread(buffer, 1, std::size_t(bytes), u->f) == std::size_t(bytes) ? 0 : -6;
}

std::int32_t op_utility_close(void* handle, std::int32_t) {
  HostImpl* h = H();
  auto* u = utility(h, handle);
  if (!u) return -7;
  const bool fail = utility_fails(h);
  std::fclose(u->f);
  h->files.erase(u);
  delete u;
  return fail ? -7 : 0;
}

// ---- the sweep operator ------------------------------------------------------------

inline std::int64_t pidx(std::int64_t i, std::int64_t j) {
  const std::int64_t M = i > j ? i : j, m = i > j ? j : i;
  return M * (M + 1) / 2 + m;
}

}  // namespace

// Sweeps the packed symmetric matrix A (order n) on pivot k when |a_kk| is
// above the tolerance.  With S the set of pivots already swept (flag '1')
// the matrix holds
//   A_SS^-1 in the S block,  A_SS^-1 A_SU in the cross block,
//   A_UU - A_US A_SS^-1 A_SU in the unswept block,
// and sweeping pivot k (d = a_kk) moves k into S:
//   a_ij <- a_ij + a_ik a_kj / d   (i, j in S)
//   a_ij <- a_ij - a_ik a_kj / d   (otherwise, i, j != k)
//   a_ik <- -a_ik / d (i in S),  a_ik / d (i not in S),  a_kk <- 1 / d.
// Once every pivot is swept the matrix holds A^-1.  Returns 0 when swept,
// 1 when not (the flag then stays as it was).
extern "C" std::int32_t mvts_sweep_pivot(double* a, std::int32_t k, std::int32_t n, char* flags,
                                         double* /*work*/, double tolerance) {
  if (!a || !flags || k < 0 || k >= n || flags[k] == '1') return 1;
  const double d = a[pidx(k, k)];
  if (!(std::fabs(d) > tolerance)) return 1;
  for (std::int64_t i = 0; i < n; ++i) {
    if (i == k) continue;
    const double aik = a[pidx(i, k)];
    if (aik == 0.0) continue;
    const double f = aik / d;
    const bool i_swept = flags[i] == '1';
    for (std::int64_t j = 0; j <= i; ++j) {
      if (j == k) continue;
      const double t = f * a[pidx(j, k)];
      if (i_swept && flags[j] == '1')
        a[pidx(i, j)] += t;
      else
        a[pidx(i, j)] -= t;
    }
  }
  for (std::int64_t i = 0; i < n; ++i)
    if (i != k) a[pidx(i, k)] = (flags[i] == '1' ? -a[pidx(i, k)] : a[pidx(i, k)]) / d;
  a[pidx(k, k)] = 1.0 / d;
  flags[k] = '1';
  return 0;
}

namespace {

// ---- modules -------------------------------------------------------------------------

std::string own_directory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&own_directory), &info) && info.dli_fname) {
    std::string p = info.dli_fname;
    auto slash = p.rfind('/');
    if (slash != std::string::npos) return p.substr(0, slash);
  }
  return ".";
}

std::string find_module(const std::string& name, const std::string& first_dir) {
  if (name.find('/') != std::string::npos) return name;
  std::string file = name;
  if (file.size() < 3 || file.compare(file.size() - 3, 3, ".so") != 0) file += ".so";
  std::vector<std::string> dirs = module_search_path();
  if (!first_dir.empty()) dirs.insert(dirs.begin(), first_dir);  // next to the first module
  for (const std::string& d : dirs) {
    std::string p = d + "/" + file;
    if (::access(p.c_str(), R_OK) == 0) return p;
  }
  return {};
}

std::int32_t op_module_load(void** handle_var, const char* name, std::int32_t, std::int32_t,
                            std::int32_t, std::int32_t) {
  HostImpl* h = H();
  *handle_var = nullptr;
  if (!name) return 1;
  std::string path = find_module(name, h->first_module_dir);
  if (path.empty()) return 2;
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return 3;
  h->handles.push_back(handle);
  *handle_var = handle;
  return 0;
}

std::int32_t op_entry_lookup(void* handle, void** function_var) {
  HostImpl* h = H();
  *function_var = nullptr;
  if (std::find(h->handles.begin(), h->handles.end(), handle) == h->handles.end()) return 1;
  void* f = ::dlsym(handle, "mcn_main");
  if (!f) return 2;
  *function_var = f;
  return 0;
}

template <class F>
void* fp(F f) {
  return reinterpret_cast<void*>(f);
}

}  // namespace

// ---------------------------------------------------------------------------
// HostImpl

HostImpl::HostImpl() {
  auto set = [&](int g, int s, void* f) { groups_storage[g][s] = f; };
  set(MCN_GROUP_ARGS, MCN_SLOT_GET_ARG_MATRIX, fp(op_get_arg_matrix));
  set(MCN_GROUP_ARGS, MCN_SLOT_CREATE_RESULT, fp(op_create_result));
  set(MCN_GROUP_ARGS, MCN_SLOT_HAS_MISSING, fp(op_has_missing));
  set(MCN_GROUP_ARGS, MCN_SLOT_CONTEXT_BLOCK, fp(op_context_block));
  set(MCN_GROUP_ARGS, MCN_SLOT_RESULT_COMPLETE, fp(op_result_complete));
  set(MCN_GROUP_ARGS, MCN_SLOT_TEMP_A_OBTAIN, fp(op_temp_obtain));
  set(MCN_GROUP_ARGS, MCN_SLOT_TEMP_A_RELEASE, fp(op_temp_release));
  set(MCN_GROUP_ARGS, MCN_SLOT_TEMP_B_OBTAIN, fp(op_temp_obtain));
  set(MCN_GROUP_ARGS, MCN_SLOT_TEMP_B_RELEASE, fp(op_temp_release));
  set(MCN_GROUP_CLOCK, MCN_SLOT_CLOCK_SEED, fp(op_clock_seed));
  set(MCN_GROUP_ERRORS, MCN_SLOT_FATAL_ERROR, fp(op_fatal_error));
  set(MCN_GROUP_ERRORS, MCN_SLOT_ERROR_PENDING, fp(op_error_pending));
  set(MCN_GROUP_ERRORS, MCN_SLOT_POOL_CREATE, fp(op_pool_create));
  set(MCN_GROUP_ERRORS, MCN_SLOT_POOL_RELEASE, fp(op_pool_release));
  set(MCN_GROUP_ERRORS, MCN_SLOT_RAISE_ERROR, fp(op_raise_error));
  set(MCN_GROUP_ERRORS, MCN_SLOT_ISSUE_MESSAGE, fp(op_issue_message));
  set(MCN_GROUP_ERRORS, MCN_SLOT_PRINT_NOTE, fp(op_print_note));
  set(MCN_GROUP_ERRORS, MCN_SLOT_ERROR_CODE_REPORT, fp(op_error_code_report));
  set(MCN_GROUP_UTILITY, MCN_SLOT_UTILITY_CREATE, fp(op_utility_create));
  set(MCN_GROUP_UTILITY, MCN_SLOT_UTILITY_REWIND, fp(op_utility_rewind));
  set(MCN_GROUP_UTILITY, MCN_SLOT_UTILITY_WRITE, fp(op_utility_write));
  set(MCN_GROUP_UTILITY, MCN_SLOT_UTILITY_READ, fp(op_utility_read));
  set(MCN_GROUP_UTILITY, MCN_SLOT_UTILITY_CLOSE, fp(op_utility_close));
  set(MCN_GROUP_SWEEP, MCN_SLOT_SWEEP_PIVOT, fp(mvts_sweep_pivot));
  set(MCN_GROUP_MODULES, MCN_SLOT_MODULE_LOAD, fp(op_module_load));
  set(MCN_GROUP_MODULES, MCN_SLOT_ENTRY_LOOKUP, fp(op_entry_lookup));
  for (int g = 0; g < MCN_GROUP_COUNT; ++g) group_ptrs[g] = groups_storage[g];
  work.alloc = work_alloc;
  work.release = work_free;
  registration.alloc = registration_alloc;
  registration.release = registration_free;
  table.groups = group_ptrs;
  table.used = used;
  table.work = &work;
  table.registration = &registration;
  // The host word that fitting functions hand to the optimizer.
  void* self = this;
  std::memcpy(context + MCN_CONTEXT_HOST_WORD, &self, sizeof self);
}

HostImpl::~HostImpl() {
  for (auto& [p, size] : live) std::free(p);
  for (void* p : registration_blocks) std::free(p);
  for (auto& [p, size] : temp_blocks) std::free(p);
  for (Pool* pool : pools) release_pool(pool);
  for (UtilityFile* u : files) {
    std::fclose(u->f);
    delete u;
  }
  // Modules stay mapped: a module may have handed out addresses (its static
  // records, entry points) that outlive this host in the process.
}

bool HostImpl::should_fail() {
  ++allocations;
  return fail_at != 0 && allocations == fail_at;
}

void* HostImpl::allocate(std::uint64_t size) {
  if (should_fail() || !fits(size)) {
    pending = kErrorOutOfMemory;
    return nullptr;
  }
  void* p = std::calloc(1, size == 0 ? 1 : size);
  if (!p) {
    pending = kErrorOutOfMemory;
    return nullptr;
  }
  advise_huge_pages(p, size);
  in_use += size;
  return p;
}

// ---------------------------------------------------------------------------
// Host

// Makes `host` the one whose operations and table serve this thread for the
// length of a call or a load, then puts back what was there before: a call
// never leaves its table behind in a module, and a host called while another
// one's call runs on the same thread hands that one back intact.
namespace {
class CallScope {
 public:
  explicit CallScope(Host* host)
      : host_(host), prev_host_(t_active), prev_table_(t_table) {
    t_active = host;
    hand_table(host->impl(), host->table());
  }
  ~CallScope() {
    hand_table(host_->impl(), prev_table_);
    t_active = prev_host_;
  }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  Host* host_;
  Host* prev_host_;
  const mcn_host_table* prev_table_;
};
}  // namespace

Host::Host() : impl_(std::make_unique<HostImpl>()) {}

Host::~Host() {
  if (t_active == this) t_active = nullptr;
  if (t_table == &impl_->table) hand_table(impl_.get(), nullptr);
}

void Host::activate() {
  t_active = this;
  hand_table(impl_.get(), &impl_->table);
}
Host* Host::active() { return t_active; }

const mcn_host_table* Host::table() const { return &impl_->table; }
unsigned char* Host::context() const { return impl_->context; }

bool Host::attach(mcn_main_fn main, std::string* error) {
  if (!main) {
    if (error) *error = "no module export to attach";
    return false;
  }
  // The scope hands the table to the new module too, and takes it back.
  impl_->mains.push_back(main);
  bool ok;
  {
    CallScope scope(this);
    ok = register_functions(main, error);
  }
  if (!ok) impl_->mains.pop_back();
  return ok;
}

bool Host::register_functions(mcn_main_fn main, std::string* error) {
  auto* info = static_cast<const mcn_image_info*>(main(&impl_->table, nullptr));
  if (!info || std::memcmp(info->marker, "ORV_Image_Information=", 22) != 0 ||
      info->magic != 0xB0BDEBEDu) {
    if (error) *error = "the module's image-information record is not valid";
    return false;
  }
  auto* desc = static_cast<const mcn_module_descriptor*>(info->descriptors[0]);
  if (!desc || !desc->query) {
    if (error) *error = "the module has no module descriptor";
    return false;
  }
  auto* q1 = static_cast<const mcn_query_table*>(desc->query(1));
  auto* q2 = static_cast<void* const*>(desc->query(2));
  if (!q1 || !q2) {
    if (error) *error = "the module did not answer its registration query";
    return false;
  }
  for (int i = 0; i < q1->count; ++i) {
    const mcn_registration& r = q1->table[i];
    FunctionInfo f;
    f.name.assign(r.name, strnlen(r.name, sizeof r.name));
    f.max_inputs = r.max_inputs;
    f.outputs = int(r.outputs_word) - 0x20;
    f.entry = reinterpret_cast<mcn_entry_fn>(q2[1 + i]);
    impl_->functions.push_back(std::move(f));
  }
  return true;
}

bool Host::load(const std::string& name_or_path, std::string* error) {
  std::string path = find_module(name_or_path, impl_->first_module_dir);
  if (path.empty()) {
    if (error) *error = "module " + name_or_path + " not found (searched MVTS_MODULE_PATH and "
                        "the host library's directory)";
    return false;
  }
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    if (error) *error = std::string("cannot load ") + path + ": " + ::dlerror();
    return false;
  }
  impl_->handles.push_back(handle);
  auto main = reinterpret_cast<mcn_main_fn>(::dlsym(handle, "mcn_main"));
  if (!main) {
    if (error) *error = path + " does not export mcn_main";
    return false;
  }
  if (impl_->first_module_dir.empty()) {
    auto slash = path.rfind('/');
    impl_->first_module_dir = slash == std::string::npos ? "." : path.substr(0, slash);
  }
  return attach(main, error);
}

const std::vector<FunctionInfo>& Host::functions() const { return impl_->functions; }

const FunctionInfo* Host::find(std::string_view name) const {
  for (const FunctionInfo& f : impl_->functions) {
    if (f.name.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i)
      same = std::toupper(static_cast<unsigned char>(name[i])) == f.name[i];
    if (same) return &f;
  }
  return nullptr;
}

namespace {

CallResult unknown_function() {
  CallResult r;
  r.status = -1;
  return r;
}

// Statuses that an argument check returns without a message: no value (2),
// not a vector (6), not positive definite (8), not symmetric (10), out of
// range (11), character (13), not a scalar (15), missing values (17), a
// whole number too large (18).
bool is_argument_status(int status) {
  switch (status) {
    case 2: case 6: case 8: case 10: case 11: case 13: case 15: case 17: case 18: return true;
    default: return false;
  }
}

// The input (1-based) whose check ended the call, or 0.  Entry points check
// their inputs in order, reading each through get_arg_matrix and
// has_missing, so the input read last is the one whose check failed.  One
// exception: a required input that was omitted is never read.  So status 2
// (no value) when the last input read holds a value, and status 17 (missing
// values) when it holds none, mean the first omitted input after it.
int failed_argument(const CallResult& r, int last_read, const std::vector<void*>& slots,
                    int max_inputs) {
  bool about_argument = is_argument_status(r.status);
  if (r.status != 0 && !about_argument)
    for (const Message& m : r.messages)
      if (!m.note && message_names_argument(m.number)) about_argument = true;
  if (!about_argument) return 0;
  auto arg = [&](int i) -> const HostArg* {  // 1-based; null when omitted
    return std::size_t(i) <= slots.size() ? static_cast<const HostArg*>(slots[std::size_t(i) - 1])
                                          : nullptr;
  };
  auto no_value = [&](int i) { return arg(i) && !arg(i)->data; };
  auto holds_missing = [&](int i) {
    const HostArg* a = arg(i);
    if (!a || a->type >= 0) return false;
    for (double x : a->values)
      if (!std::isfinite(x)) return true;
    return false;
  };
  const bool read_is_blameless = last_read == 0 || (r.status == 2 && !no_value(last_read)) ||
                                 (r.status == 17 && !holds_missing(last_read));
  if ((r.status == 2 || r.status == 17) && read_is_blameless) {
    for (int i = last_read + 1; i <= max_inputs; ++i)
      if (!arg(i)) return i;
    return 0;
  }
  return last_read;
}

}  // namespace

CallResult Host::call(std::string_view name, const std::vector<Value>& args) {
  const FunctionInfo* f = find(name);
  if (!f) return unknown_function();
  ArgumentBlock block(args);
  return run(*f, block);
}

CallResult Host::call(std::string_view name, std::vector<Value>&& args) {
  const FunctionInfo* f = find(name);
  if (!f) return unknown_function();
  ArgumentBlock block(std::move(args));
  return run(*f, block);
}

CallResult Host::run(const FunctionInfo& f, ArgumentBlock& block) {
  CallScope scope(this);
  impl_->current = CallResult{};
  impl_->pending = 0;
  impl_->call_slots = &block.slot_list();
  impl_->last_read = 0;
  impl_->outputs = &impl_->current.outputs;
  impl_->output_count = f.outputs;
  impl_->current.outputs.assign(std::size_t(f.outputs), std::nullopt);
  impl_->current.status = f.entry(block.slots(), block.given());
  impl_->current.argument =
      failed_argument(impl_->current, impl_->last_read, block.slot_list(), f.max_inputs);
  impl_->call_slots = nullptr;
  impl_->outputs = nullptr;
  impl_->pending = 0;
  // The outputs now belong to the caller.
  impl_->in_use -= impl_->result_bytes;
  impl_->result_bytes = 0;
  CallResult result = std::move(impl_->current);
  impl_->current = CallResult{};
  return result;
}

struct ArgumentBlock::Held {
  HostArg arg;
};

// Copies a const value, moves one handed over (std::forward on the members).
template <class V>
void ArgumentBlock::hold(std::size_t slot, V&& v) {
  if (v.kind == Value::Kind::kOmitted) return;
  auto h = std::make_unique<Held>();
  HostArg& a = h->arg;
  if (v.kind == Value::Kind::kNumeric) {
    a.rows = v.m.rows;
    a.cols = v.m.cols;
    a.values = std::forward<V>(v).m.data;
    a.values.reserve(1);
    a.data = a.values.data();
  } else if (v.kind == Value::Kind::kText) {
    a.rows = 1;
    a.cols = 1;
    a.type = static_cast<std::int32_t>(v.text.size());
    a.text = std::forward<V>(v).text;
    a.values.assign(1, 0.0);  // the address of the characters is not null
    a.data = a.values.data();
  }
  slots_[slot] = &a;
  held_.push_back(std::move(h));
}

ArgumentBlock::ArgumentBlock(const std::vector<Value>& args)
    : slots_(args.size(), nullptr), given_(static_cast<std::int32_t>(args.size())) {
  for (std::size_t i = 0; i < args.size(); ++i) hold(i, args[i]);
}

ArgumentBlock::ArgumentBlock(std::vector<Value>&& args)
    : slots_(args.size(), nullptr), given_(static_cast<std::int32_t>(args.size())) {
  for (std::size_t i = 0; i < args.size(); ++i) hold(i, std::move(args[i]));
}

ArgumentBlock::~ArgumentBlock() = default;

const CallResult& Host::current() const { return impl_->current; }

void Host::fail_allocation_at(std::int64_t n) {
  impl_->fail_at = n == 0 ? 0 : impl_->allocations + n;
}
void Host::fail_utility_at(std::int64_t n) {
  impl_->utility_fail_at = n == 0 ? 0 : impl_->utility_ops + n;
}
std::int64_t Host::allocation_count() const { return impl_->allocations; }
std::int64_t Host::live_blocks() const {
  std::int64_t n = std::int64_t(impl_->live.size());
  if (void* rng = impl_->rng_block(); rng && impl_->live.count(rng)) --n;
  return n;
}
std::int64_t Host::live_pools() const { return std::int64_t(impl_->pools.size()); }
std::int64_t Host::open_utility_files() const { return std::int64_t(impl_->files.size()); }
std::int64_t Host::live_temp_blocks() const { return std::int64_t(impl_->temp_blocks.size()); }
void Host::set_clock_seed(std::uint32_t seed) { impl_->fixed_clock = seed; }
void Host::set_allocation_limit(std::uint64_t bytes) { impl_->limit = bytes; }
void Host::set_memory_limit(std::uint64_t bytes) { impl_->total_limit = bytes; }
std::uint64_t Host::memory_limit() const { return impl_->total_limit; }
std::uint64_t Host::memory_in_use() const { return impl_->in_use; }

Session::Session() {
  std::string error;
  if (!load("orvmvtsa", &error)) throw std::runtime_error(error);
}

std::vector<std::string> module_search_path() {
  std::vector<std::string> dirs;
  if (const char* env = std::getenv("MVTS_MODULE_PATH")) {
    std::string s = env;
    std::size_t start = 0;
    while (start <= s.size()) {
      std::size_t end = s.find(':', start);
      if (end == std::string::npos) end = s.size();
      if (end > start) dirs.push_back(s.substr(start, end - start));
      start = end + 1;
    }
  }
  dirs.push_back(own_directory());
  return dirs;
}

}  // namespace mvts
