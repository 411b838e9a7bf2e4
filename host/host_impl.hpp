// The host's own state and the services it places in the table, shared by
// the files of host/ (one file per concern); not part of the public header.
//
//   memory.cpp          allocators, pools, temporary blocks, memory cap,
//                       allocation-failure injection
//   arguments.cpp       argument matrices, results, the context record, the
//                       clock seed, the argument blamed for a failed check
//   errors.cpp          pending and raised errors, messages, notes
//   utility_files.cpp   temporary files for the module's spill data
//   sweep.cpp           the sweep operator (a pure kernel, host/sweep.hpp)
//   modules.cpp         module search path, module loading, entry lookup
//   session.cpp         the Host class: table, attach, register, load, call
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "abi/mcn_abi.h"
#include "host/host.hpp"
#include "host/sweep.hpp"

// Marks what the files of host/ share and the library does not export.
#define MVTS_HOST_LOCAL __attribute__((visibility("hidden")))

namespace mvts {
namespace detail {

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

// A pool: an allocator whose blocks are all freed when the pool is released.
// `ops` comes first: the module holds the pool by the address of `ops`.
struct Pool {
  mcn_allocator ops{};
  HostImpl* host = nullptr;
  std::unordered_map<void*, std::uint64_t> blocks;
  MVTS_HOST_LOCAL explicit Pool(HostImpl* owner);
  MVTS_HOST_LOCAL ~Pool();  // frees every block still live and takes it off the host's count
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;
};

// A utility file: a temporary file, gone once closed.
struct UtilityFile {
  std::FILE* f = nullptr;
  MVTS_HOST_LOCAL explicit UtilityFile(std::FILE* file) : f(file) {}
  MVTS_HOST_LOCAL ~UtilityFile() {
    if (f) std::fclose(f);
  }
  UtilityFile(const UtilityFile&) = delete;
  UtilityFile& operator=(const UtilityFile&) = delete;
};

}  // namespace detail

namespace detail {

// The service table handed to modules: every operation of the service list
// at its (group, slot) cell, the groups' "used" bytes and the two
// allocators.  The table points into this object, which therefore stays
// where it was made.
struct ServiceTable {
  mcn_host_table table{};
  void* cells[MCN_GROUP_COUNT][MCN_SLOT_COUNT] = {};
  void* const* groups[MCN_GROUP_COUNT] = {};
  std::uint8_t used[MCN_GROUP_COUNT] = {};
  mcn_allocator work{};
  mcn_allocator registration{};

  ServiceTable();  // session.cpp
  ServiceTable(const ServiceTable&) = delete;
  ServiceTable& operator=(const ServiceTable&) = delete;
};

// Memory: the blocks live in each allocator, the pools, the limits, the
// injected failure and the bytes in use (memory.cpp).
struct MemoryBook {
  std::unordered_map<void*, std::uint64_t> live;                 // work blocks -> bytes
  std::unordered_map<void*, std::uint64_t> registration_blocks;  // block -> bytes
  std::unordered_map<void*, std::uint64_t> temp_blocks;
  std::vector<std::unique_ptr<Pool>> pools;
  std::int64_t allocations = 0;
  std::int64_t fail_at = 0;  // absolute allocation number that fails
  std::uint64_t limit = std::uint64_t(16) << 30;      // one allocation
  std::uint64_t total_limit = default_total_limit();  // everything live at once
  std::uint64_t in_use = 0;                           // bytes live now
  std::uint64_t result_bytes = 0;                     // outputs of the current call

  MemoryBook() = default;
  MemoryBook(const MemoryBook&) = delete;
  MemoryBook& operator=(const MemoryBook&) = delete;
  ~MemoryBook();  // frees every block still live

  MVTS_HOST_LOCAL static std::uint64_t default_total_limit();
  bool fits(std::uint64_t size) const {
    return size <= limit && size <= total_limit && in_use <= total_limit - size;
  }
  // Counts an allocation; true for the one chosen to fail.
  bool should_fail();
  // A zero-filled block of `size` bytes counted in in_use, or null (an
  // injected failure, over a limit, or no memory).
  void* allocate(std::uint64_t size);
  // Gives back a block of `size` bytes that allocate gave.
  void give_back(void* block, std::uint64_t size);
  // The outputs of the call just ended now belong to the caller.
  void hand_over_results() {
    in_use -= result_bytes;
    result_bytes = 0;
  }
};

// Utility files, by the handle the module holds, and their injected
// failure (utility_files.cpp).
struct UtilityFiles {
  std::unordered_map<void*, std::unique_ptr<UtilityFile>> open;
  std::int64_t ops = 0;
  std::int64_t fail_at = 0;

  // Counts an operation; true for the one chosen to fail.
  bool fails() {
    ++ops;
    return fail_at != 0 && ops == fail_at;
  }
};

// The modules this host opened and attached, and the functions they
// register (modules.cpp, session.cpp).
struct Modules {
  std::vector<void*> handles;
  std::vector<mcn_main_fn> mains;  // the exports of the modules attached to this host
  std::string first_dir;           // where the first module loaded by name was found
  std::vector<FunctionInfo> functions;
};

// The call in progress and what it leaves behind: the pending error, the
// result (messages, notes, outputs) that Host::current shows, the argument
// slots and the input read last (1-based; 0: none), which names the
// argument of a failed check.
struct CallState {
  int pending = 0;
  CallResult current;
  bool running = false;  // outputs may be created
  int output_count = 0;
  const std::vector<void*>* slots = nullptr;
  int last_read = 0;
  std::string function;  // the registered name of the call

  // Starts a call of `f` over `slots`: a fresh result with f.outputs empty
  // outputs, no error pending, nothing read.
  void begin(const FunctionInfo& f, const std::vector<void*>& call_slots) {
    end();
    current = CallResult{};
    current.outputs.assign(std::size_t(f.outputs), std::nullopt);
    running = true;
    output_count = f.outputs;
    slots = &call_slots;
    function = f.name;
  }
  // Ends the call: nothing of it is left but the result.
  void end() {
    pending = 0;
    running = false;
    output_count = 0;
    slots = nullptr;
    last_read = 0;
    function.clear();
  }
  void note_read(const void* arg) {
    if (!slots || !arg) return;
    for (std::size_t i = 0; i < slots->size(); ++i)
      if ((*slots)[i] == arg) {
        last_read = int(i) + 1;
        return;
      }
  }
};

}  // namespace detail

class HostImpl {
 public:
  HostImpl();
  ~HostImpl();
  HostImpl(const HostImpl&) = delete;
  HostImpl& operator=(const HostImpl&) = delete;

  detail::ServiceTable services;
  alignas(16) unsigned char context[MCN_CONTEXT_SIZE] = {};
  detail::MemoryBook memory;
  detail::UtilityFiles files;
  detail::Modules modules;
  detail::CallState call;
  std::uint32_t fixed_clock = 0;  // the clock seed of the tests; 0: the clock

  // Set by Host::cancel (any thread, or a signal handler) and cleared as a
  // call starts; the cancel_requested service reads it.
  std::atomic<bool> cancel{false};
  static_assert(std::atomic<bool>::is_always_lock_free, "cancel is set from signal handlers");

  // MemoryBook::allocate with the out-of-memory error left pending when it
  // gives nothing.
  void* allocate(std::uint64_t size) {
    void* p = memory.allocate(size);
    if (!p) call.pending = MCN_ERROR_OUT_OF_MEMORY;
    return p;
  }
  void* rng_block() const {
    void* p;
    std::memcpy(&p, context + MCN_CONTEXT_RNG_WORD, sizeof p);
    return p;
  }
};

#pragma GCC visibility push(hidden)
namespace detail {

// The host whose operations run on this thread, and the service table last
// handed to modules on this thread.  Both are per thread, and a call sets
// them for its own length only (CallScope in session.cpp), so that several
// hosts can serve calls in one process, one after the other or on several
// threads at once.
extern constinit thread_local Host* t_active;
extern constinit thread_local const mcn_host_table* t_table;

// The active host's state; a module that calls a service with no host
// active has lost its table, and the process stops.
inline HostImpl* H() {
  Host* h = t_active;
  if (!h) {
    std::fputs("mvts host: a module called a host operation with no active host\n", stderr);
    std::abort();
  }
  return h->impl();
}

// Asks for transparent huge pages on the 2 MiB-aligned interior of a large
// block (memory.cpp).
void advise_huge_pages(void* p, std::uint64_t size);

// ---- The services of the table (abi/mcn_abi.h, MCN_SERVICE_LIST), one
// function per row named op_<row name>.  Modules call them from C: each is
// noexcept, and one that can meet an exception (a container of the host's
// bookkeeping that cannot grow) turns it into its failure result.

// arguments.cpp
std::int32_t op_get_arg_matrix(void* arg, std::int32_t* rows, std::int32_t* cols,
                               std::int32_t* type, double** data) noexcept;
double* op_create_result(std::int32_t output, std::int32_t rows, std::int32_t cols) noexcept;
std::int32_t op_has_missing(void* arg) noexcept;
void* op_context_block() noexcept;
std::int32_t op_result_complete(std::int32_t word) noexcept;
std::uint32_t op_clock_seed() noexcept;

// memory.cpp
void* work_alloc(mcn_allocator* self, std::uint64_t size, std::uint32_t flags) noexcept;
void work_free(mcn_allocator* self, void* block, std::int32_t word_a, std::int32_t word_b) noexcept;
void* registration_alloc(mcn_allocator* self, std::uint64_t size, std::uint32_t flags) noexcept;
void registration_free(mcn_allocator* self, void* block, std::int32_t word_a,
                       std::int32_t word_b) noexcept;
mcn_allocator* op_pool_create(void* null, std::uint64_t chunk, std::int32_t word_a,
                              std::int32_t word_b) noexcept;
void op_pool_release(mcn_allocator* pool, std::int32_t word) noexcept;
void op_temp_obtain(void** var, std::uint64_t size) noexcept;
void op_temp_release(void** var) noexcept;
// Pairs A and B of temporary blocks are one service under two slots.
inline constexpr auto op_temp_a_obtain = &op_temp_obtain;
inline constexpr auto op_temp_b_obtain = &op_temp_obtain;
inline constexpr auto op_temp_a_release = &op_temp_release;
inline constexpr auto op_temp_b_release = &op_temp_release;

// errors.cpp
std::int32_t op_error_pending() noexcept;
void op_raise_error(std::int32_t code) noexcept;
std::int32_t op_issue_message(std::int32_t group, std::int32_t number, std::int32_t count,
                              const mcn_insert* inserts) noexcept;
void op_fatal_error(std::int32_t code, std::int32_t second) noexcept;
void op_print_note(const char* format, const char* insert) noexcept;
void op_error_code_report(std::int32_t word, std::int32_t code) noexcept;

// utility_files.cpp
std::int32_t op_utility_create(void** handle, const std::uint8_t* descriptor) noexcept;
std::int32_t op_utility_rewind(void* handle, std::int32_t word) noexcept;
std::int32_t op_utility_write(void* handle, const void* data, std::int64_t bytes) noexcept;
std::int32_t op_utility_read(void* handle, void* buffer, std::int64_t bytes) noexcept;
std::int32_t op_utility_close(void* handle, std::int32_t word) noexcept;

// sweep.cpp: the kernel itself is the service.
inline constexpr auto op_sweep_pivot = &mvts_sweep_pivot;

// modules.cpp
std::int32_t op_module_load(void** handle_var, const char* name, std::int32_t word_a,
                            std::int32_t word_b, std::int32_t word_c, std::int32_t word_d) noexcept;
std::int32_t op_entry_lookup(void* handle, void** function_var) noexcept;
std::int32_t op_cancel_requested() noexcept;
// The path of module `name` (a name, or a path with a slash), searched in
// `first_dir` (when not empty) and then module_search_path(); empty when
// none is readable.
std::string find_module(const std::string& name, const std::string& first_dir);
// Finds module `name` (find_module, next to the first module loaded) into
// *path and opens it, keeping its handle among the host's: kOpened with
// *handle set, kNotFound, or kNotLoaded (dlerror() says why).  The services
// of module_load answer with these numbers.
enum class ModuleOpen : std::int32_t { kOpened = 0, kNotFound = 2, kNotLoaded = 3 };
ModuleOpen open_module(HostImpl* h, const std::string& name, std::string* path, void** handle);

// The message by which a module says that the dimensions of two arguments
// disagree; the host names the two in its text.
inline constexpr int kMessageDisagree = 352;

// arguments.cpp: the text of message 352 for the current call of `h`: the
// input read last disagrees with the first input given before it, which
// fixed the dimension; both named when the catalogue names the inputs.
std::string disagreement_text(const CallState& call, const std::string& plain);
// arguments.cpp: the input (1-based) whose check ended the call, or 0.
int failed_argument(const CallResult& r, int last_read, const std::vector<void*>& slots,
                    int max_inputs, std::string_view function);

}  // namespace detail
#pragma GCC visibility pop

}  // namespace mvts
