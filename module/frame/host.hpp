// The module's typed facade over the host service table.  This is the only
// code of the module that reaches the table (by the rows of the service list
// in abi/mcn_abi.h); everything else calls these functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <type_traits>

#include "abi/mcn_abi.h"
#include "module/frame/cancel.hpp"
#include "module/frame/sizes.hpp"
#include "module/frame/status.hpp"

namespace mvtsa {

// The host's service table for the calling thread, written by mcn_main (the
// host calls it on each thread before each call, and with its previous value
// after the call).  Null on a thread where no host call runs.
void set_host_table(const mcn_host_table* table);
const mcn_host_table* host_table();

// ---- Memory
// A zero-filled block of `bytes` from the work allocator, or null.  After it
// the caller asks error_pending (WorkBlock below does both).
void* host_alloc(std::uint64_t bytes);
void host_free(void* block);
// Sizes are multiplied and added with the saturating arithmetic of sizes.hpp.

// ---- Arguments and results
struct MatrixArg {
  std::int32_t rows = 0;
  std::int32_t cols = 0;
  std::int32_t type = -1;  // negative: numeric; zero or positive: character
  double* data = nullptr;
  std::int64_t size() const { return std::int64_t(rows) * cols; }
  bool is_scalar() const { return rows == 1 && cols == 1; }
  bool is_vector() const { return (rows == 1) != (cols == 1); }
  std::int64_t length() const { return rows > cols ? rows : cols; }
};
void get_arg_matrix(void* arg, MatrixArg* out);
// Null when the host refuses the result (its pending error is then raised;
// the caller returns status 1).
double* create_result(int output, std::int32_t rows, std::int32_t cols);
bool has_missing(void* arg);
// The outputs that create_result has given during the current entry-point
// call on this thread (the latest result of each output number), read back
// by the check at the end of every call.
struct CreatedOutput {
  int output = 0;
  std::int32_t rows = 0;
  std::int32_t cols = 0;
  const double* data = nullptr;
};
inline constexpr int kMaxOutputs = 8;
void forget_created_outputs();
int created_output_count();
const CreatedOutput& created_output(int i);
void* context_block();
void result_complete();
std::uint32_t clock_seed();

// ---- Errors and messages
int error_pending();
void raise_error(int code);
// Asks error_pending; a pending code is raised and 1 returned, else 0.
int check_host_error();
// Status 1 for a failed allocation: raises the pending error (or an
// out-of-memory error when the host reported none).
int allocation_failed();
// Status 1 for a result of more than kMaxCount rows, which create_result's
// 32-bit count cannot ask for: raises the host's error that says so.
int result_rows_exceeded();

struct Insert {
  mcn_insert v{};
  Insert(const char* s) { v.kind = MCN_INSERT_TEXT; v.s = s; }                 // NOLINT
  Insert(int i) { v.kind = MCN_INSERT_INT; v.i = i; }                           // NOLINT
  Insert(long i) { v.kind = MCN_INSERT_INT; v.i = i; }                          // NOLINT
  Insert(long long i) { v.kind = MCN_INSERT_INT; v.i = i; }                     // NOLINT
  Insert(double d) { v.kind = MCN_INSERT_DOUBLE; v.d = d; }                     // NOLINT
};
void issue_message(int number, std::initializer_list<Insert> inserts = {});
// Issues a stopping message and returns kStatusMessage.
int fail_message(int number, std::initializer_list<Insert> inserts = {});
void fatal_error(int code, int second);
void print_note(const char* format, const char* insert);
void error_code_report(int code);

// ---- Cancellation (cancel_requested: frame/cancel.hpp)
// Issues message 398 (kMsgCancelled) and returns kStatusMessage: how a
// cancelled call ends, its work blocks freed by their guards on the way out.
int cancelled();

// ---- Pools, temporary blocks, utility files, sweep, modules
mcn_allocator* pool_create();
void pool_release(mcn_allocator* pool);
void* pool_alloc(mcn_allocator* pool, std::uint64_t bytes);
void pool_free(mcn_allocator* pool, void* block);

// Two pairs of temporary blocks, A and B.
void* temp_a_obtain(std::uint64_t bytes);
void temp_a_release(void** var);
void* temp_b_obtain(std::uint64_t bytes);
void temp_b_release(void** var);

// The utility-file descriptor (mcn_utility_descriptor, 240 bytes) as bytes.
void utility_descriptor(std::uint8_t out[sizeof(mcn_utility_descriptor)]);
// Each returns MCN_UTILITY_OK or the negative MCN_UTILITY_* code of the failure.
int utility_create(void** handle, const std::uint8_t* descriptor);
int utility_rewind(void* handle);
int utility_write(void* handle, const void* data, std::int64_t bytes);
int utility_read(void* handle, void* buffer, std::int64_t bytes);
int utility_close(void* handle);

int sweep_pivot(double* packed, int pivot, int order, char* flags, double* work,
                double tolerance);

int module_load(void** handle_var, const char* name);
int entry_lookup(void* handle, void** function_var);

// ---- RAII guard over a work block of `count` elements of T, zero-filled.
//   WorkBlock<double> w(n);  if (!w) return w.status();
template <class T>
class WorkBlock {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  WorkBlock() = default;
  explicit WorkBlock(std::uint64_t count) { allocate(count); }
  WorkBlock(const WorkBlock&) = delete;
  WorkBlock& operator=(const WorkBlock&) = delete;
  WorkBlock(WorkBlock&& o) noexcept : p_(o.p_), n_(o.n_), status_(o.status_) { o.p_ = nullptr; }
  ~WorkBlock() { reset(); }

  // Allocates; returns 0 or status 1 after raising the host error.
  int allocate(std::uint64_t count) {
    reset();
    n_ = count;
    p_ = static_cast<T*>(host_alloc(checked_bytes(count == 0 ? 1 : count, sizeof(T))));
    status_ = p_ ? check_host_error() : allocation_failed();
    if (status_ != 0 && p_) {
      host_free(p_);
      p_ = nullptr;
    }
    return status_;
  }
  void reset() {
    if (p_) host_free(p_);
    p_ = nullptr;
    n_ = 0;
  }
  explicit operator bool() const { return p_ != nullptr; }
  int status() const { return status_; }
  T* data() const { return p_; }
  T& operator[](std::int64_t i) const { return p_[i]; }
  std::uint64_t size() const { return n_; }
  T* release() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  T* p_ = nullptr;
  std::uint64_t n_ = 0;
  int status_ = 1;
};

}  // namespace mvtsa
