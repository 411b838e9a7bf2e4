// Typed calls into the host service table: every call sets the group's
// "used" byte first, then calls the operation at groups[G][slot].
#include "module/frame/host.hpp"

#include <cstring>

namespace mvtsa {
namespace {

// The service table of the host whose call runs on this thread.  One
// process may hold several hosts (sessions), each with its own table, and
// run their calls on several threads at once: a single module-wide pointer
// would hand one host's operations another host's table, possibly one
// already freed.  The host therefore hands its table to mcn_main on the
// calling thread before every call and takes it back afterwards, and the
// module reads it from this thread's copy only.
constinit thread_local const mcn_host_table* t_host = nullptr;

template <class Fn>
Fn op(int group, int slot) {
  t_host->used[group] = 1;
  return reinterpret_cast<Fn>(t_host->groups[group][slot]);
}

constexpr std::uint64_t kImpossibleSize = std::numeric_limits<std::uint64_t>::max();

// The outputs created during the call running on this thread.
struct CreatedOutputs {
  CreatedOutput list[kMaxOutputs];
  int count = 0;
};
constinit thread_local CreatedOutputs t_created{};

}  // namespace

void set_host_table(const mcn_host_table* table) { t_host = table; }
const mcn_host_table* host_table() { return t_host; }

std::uint64_t checked_mul(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > kImpossibleSize / a) return kImpossibleSize;
  return a * b;
}

std::uint64_t checked_bytes(std::uint64_t count, std::uint64_t elem_size) {
  return checked_mul(count, elem_size);
}

void* host_alloc(std::uint64_t bytes) {
  mcn_allocator* a = t_host->work;
  return a->alloc(a, bytes, MCN_ALLOC_FLAGS);
}

void host_free(void* block) {
  if (!block) return;
  mcn_allocator* a = t_host->work;
  a->release(a, block, 0, 4);
}

void get_arg_matrix(void* arg, MatrixArg* out) {
  *out = MatrixArg{};
  op<mcn_get_arg_matrix_fn>(MCN_GROUP_ARGS, MCN_SLOT_GET_ARG_MATRIX)(arg, &out->rows, &out->cols,
                                                                     &out->type, &out->data);
}

double* create_result(int output, std::int32_t rows, std::int32_t cols) {
  double* out =
      op<mcn_create_result_fn>(MCN_GROUP_ARGS, MCN_SLOT_CREATE_RESULT)(output, rows, cols);
  CreatedOutputs& c = t_created;
  int i = 0;
  while (i < c.count && c.list[i].output != output) ++i;
  if (!out) {
    // A refused result ends the call with status 1; the host's reason is
    // handed back so that the caller sees why.  An earlier result of the
    // same number is gone too.
    if (i < c.count) c.list[i] = c.list[--c.count];
    (void)check_host_error();
    return out;
  }
  if (i < kMaxOutputs) {
    c.list[i] = CreatedOutput{output, rows, cols, out};
    if (i == c.count) ++c.count;
  }
  return out;
}

void forget_created_outputs() { t_created.count = 0; }
int created_output_count() { return t_created.count; }
const CreatedOutput& created_output(int i) { return t_created.list[i]; }

bool has_missing(void* arg) {
  return op<mcn_has_missing_fn>(MCN_GROUP_ARGS, MCN_SLOT_HAS_MISSING)(arg) != 0;
}

void* context_block() {
  return op<mcn_context_block_fn>(MCN_GROUP_ARGS, MCN_SLOT_CONTEXT_BLOCK)();
}

void result_complete() {
  (void)op<mcn_result_complete_fn>(MCN_GROUP_ARGS, MCN_SLOT_RESULT_COMPLETE)(0);
}

std::uint32_t clock_seed() {
  return op<mcn_clock_seed_fn>(MCN_GROUP_CLOCK, MCN_SLOT_CLOCK_SEED)();
}

int error_pending() {
  return op<mcn_error_pending_fn>(MCN_GROUP_ERRORS, MCN_SLOT_ERROR_PENDING)();
}

void raise_error(int code) {
  op<mcn_raise_error_fn>(MCN_GROUP_ERRORS, MCN_SLOT_RAISE_ERROR)(code);
}

int check_host_error() {
  int code = error_pending();
  if (code == 0) return kStatusOk;
  raise_error(code);
  return kStatusHostError;
}

int allocation_failed() {
  int code = error_pending();
  // A host that returned null without an error still ends the call with 1;
  // raising 0 would hand the host nothing, so an out-of-memory code stands in.
  raise_error(code != 0 ? code : 1001);
  return kStatusHostError;
}

void issue_message(int number, std::initializer_list<Insert> inserts) {
  mcn_insert buf[4];
  int n = 0;
  for (const Insert& i : inserts) {
    if (n == 4) break;
    buf[n++] = i.v;
  }
  (void)op<mcn_issue_message_fn>(MCN_GROUP_ERRORS, MCN_SLOT_ISSUE_MESSAGE)(MCN_MESSAGE_GROUP,
                                                                            number, n, buf);
}

int fail_message(int number, std::initializer_list<Insert> inserts) {
  issue_message(number, inserts);
  return kStatusMessage;
}

void fatal_error(int code, int second) {
  op<mcn_fatal_error_fn>(MCN_GROUP_ERRORS, MCN_SLOT_FATAL_ERROR)(code, second);
}

void print_note(const char* format, const char* insert) {
  op<mcn_print_note_fn>(MCN_GROUP_ERRORS, MCN_SLOT_PRINT_NOTE)(format, insert);
}

void error_code_report(int code) {
  op<mcn_error_code_report_fn>(MCN_GROUP_ERRORS, MCN_SLOT_ERROR_CODE_REPORT)(0, code);
}

mcn_allocator* pool_create() {
  return op<mcn_pool_create_fn>(MCN_GROUP_ERRORS, MCN_SLOT_POOL_CREATE)(nullptr, 1024, 2, 0);
}

void pool_release(mcn_allocator* pool) {
  if (pool) op<mcn_pool_release_fn>(MCN_GROUP_ERRORS, MCN_SLOT_POOL_RELEASE)(pool, 0);
}

void* pool_alloc(mcn_allocator* pool, std::uint64_t bytes) {
  return pool->alloc(pool, bytes, MCN_ALLOC_FLAGS);
}

void pool_free(mcn_allocator* pool, void* block) {
  if (block) pool->release(pool, block, 0, 4);
}

void* temp_a_obtain(std::uint64_t bytes) {
  void* var = nullptr;
  op<mcn_temp_obtain_fn>(MCN_GROUP_ARGS, MCN_SLOT_TEMP_A_OBTAIN)(&var, bytes);
  return var;
}

void temp_a_release(void** var) {
  if (*var) op<mcn_temp_release_fn>(MCN_GROUP_ARGS, MCN_SLOT_TEMP_A_RELEASE)(var);
  *var = nullptr;
}

void* temp_b_obtain(std::uint64_t bytes) {
  void* var = nullptr;
  op<mcn_temp_obtain_fn>(MCN_GROUP_ARGS, MCN_SLOT_TEMP_B_OBTAIN)(&var, bytes);
  return var;
}

void temp_b_release(void** var) {
  if (*var) op<mcn_temp_release_fn>(MCN_GROUP_ARGS, MCN_SLOT_TEMP_B_RELEASE)(var);
  *var = nullptr;
}

void utility_descriptor(std::uint8_t out[240]) {
  std::memset(out, 0, 240);
  std::memset(out, ' ', 8);            // bytes 0-7 blanks
  std::memset(out + 34, ' ', 32);      // bytes 34-65 blanks
  std::memcpy(out + 66, "UTILITY ", 8);
  const std::uint32_t w80 = 0x84000008u, w84 = 1u;
  std::memcpy(out + 80, &w80, 4);
  std::memcpy(out + 84, &w84, 4);
}

int utility_create(void** handle, const std::uint8_t* descriptor) {
  return op<mcn_utility_create_fn>(MCN_GROUP_UTILITY, MCN_SLOT_UTILITY_CREATE)(handle, descriptor);
}

int utility_rewind(void* handle) {
  return op<mcn_utility_rewind_fn>(MCN_GROUP_UTILITY, MCN_SLOT_UTILITY_REWIND)(handle, 0);
}

int utility_write(void* handle, const void* data, std::int64_t bytes) {
  return op<mcn_utility_write_fn>(MCN_GROUP_UTILITY, MCN_SLOT_UTILITY_WRITE)(handle, data, bytes);
}

int utility_read(void* handle, void* buffer, std::int64_t bytes) {
  return op<mcn_utility_read_fn>(MCN_GROUP_UTILITY, MCN_SLOT_UTILITY_READ)(handle, buffer, bytes);
}

int utility_close(void* handle) {
  return op<mcn_utility_close_fn>(MCN_GROUP_UTILITY, MCN_SLOT_UTILITY_CLOSE)(handle, 1);
}

int sweep_pivot(double* packed, int pivot, int order, char* flags, double* work,
                double tolerance) {
  return op<mcn_sweep_pivot_fn>(MCN_GROUP_SWEEP, MCN_SLOT_SWEEP_PIVOT)(packed, pivot, order,
                                                                       flags, work, tolerance);
}

int module_load(void** handle_var, const char* name) {
  return op<mcn_module_load_fn>(MCN_GROUP_MODULES, MCN_SLOT_MODULE_LOAD)(handle_var, name, 3, 1,
                                                                         0, 1);
}

int entry_lookup(void* handle, void** function_var) {
  return op<mcn_entry_lookup_fn>(MCN_GROUP_MODULES, MCN_SLOT_ENTRY_LOOKUP)(handle, function_var);
}

}  // namespace mvtsa
