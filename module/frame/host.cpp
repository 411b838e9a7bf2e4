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

// The services of the shared list (abi/mcn_abi.h), one tag each, with the
// group, slot and calling form of its row.
enum class Service {
#define MVTSA_SERVICE_TAG(name, group, slot, form) name,
  MCN_SERVICE_LIST(MVTSA_SERVICE_TAG)
#undef MVTSA_SERVICE_TAG
};
template <Service>
struct Row;
#define MVTSA_SERVICE_ROW(name, group_, slot_, form)  \
  template <>                                          \
  struct Row<Service::name> {                          \
    static constexpr int group = group_;               \
    static constexpr int slot = slot_;                 \
    using Fn = form;                                   \
  };
MCN_SERVICE_LIST(MVTSA_SERVICE_ROW)
#undef MVTSA_SERVICE_ROW

// The operation of service S in this thread's table, its group marked used.
template <Service S>
typename Row<S>::Fn op() {
  t_host->used[Row<S>::group] = 1;
  return reinterpret_cast<typename Row<S>::Fn>(t_host->groups[Row<S>::group][Row<S>::slot]);
}

// The outputs created during the call running on this thread.
struct CreatedOutputs {
  CreatedOutput list[kMaxOutputs];
  int count = 0;
};
constinit thread_local CreatedOutputs t_created{};

}  // namespace

void set_host_table(const mcn_host_table* table) { t_host = table; }
const mcn_host_table* host_table() { return t_host; }

void* host_alloc(std::uint64_t bytes) {
  mcn_allocator* a = t_host->work;
  return a->alloc(a, bytes, MCN_ALLOC_FLAGS);
}

void host_free(void* block) {
  if (!block) return;
  mcn_allocator* a = t_host->work;
  a->release(a, block, MCN_RELEASE_WORD_A, MCN_RELEASE_WORD_B);
}

void get_arg_matrix(void* arg, MatrixArg* out) {
  *out = MatrixArg{};
  op<Service::get_arg_matrix>()(arg, &out->rows, &out->cols, &out->type, &out->data);
}

double* create_result(int output, std::int32_t rows, std::int32_t cols) {
  double* out = op<Service::create_result>()(output, rows, cols);
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
  return op<Service::has_missing>()(arg) != 0;
}

void* context_block() {
  return op<Service::context_block>()();
}

void result_complete() {
  (void)op<Service::result_complete>()(MCN_RESULT_COMPLETE_WORD);
}

std::uint32_t clock_seed() {
  return op<Service::clock_seed>()();
}

bool cancel_requested() {
  if (!t_host) return false;
  constexpr int g = Row<Service::cancel_requested>::group, s = Row<Service::cancel_requested>::slot;
  if (!t_host->groups[g] || !t_host->groups[g][s]) return false;
  return op<Service::cancel_requested>()() != 0;
}

int cancelled() { return fail_message(kMsgCancelled); }

int error_pending() {
  return op<Service::error_pending>()();
}

void raise_error(int code) {
  op<Service::raise_error>()(code);
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
  raise_error(code != 0 ? code : MCN_ERROR_OUT_OF_MEMORY);
  return kStatusHostError;
}

int result_rows_exceeded() {
  raise_error(MCN_ERROR_RESULT_ROWS);
  return kStatusHostError;
}

void issue_message(int number, std::initializer_list<Insert> inserts) {
  mcn_insert buf[4];
  int n = 0;
  for (const Insert& i : inserts) {
    if (n == 4) break;
    buf[n++] = i.v;
  }
  (void)op<Service::issue_message>()(MCN_MESSAGE_GROUP, number, n, buf);
}

int fail_message(int number, std::initializer_list<Insert> inserts) {
  issue_message(number, inserts);
  return kStatusMessage;
}

void fatal_error(int code, int second) {
  op<Service::fatal_error>()(code, second);
}

void print_note(const char* format, const char* insert) {
  op<Service::print_note>()(format, insert);
}

void error_code_report(int code) {
  op<Service::error_code_report>()(MCN_ERROR_REPORT_WORD, code);
}

mcn_allocator* pool_create() {
  return op<Service::pool_create>()(nullptr, MCN_POOL_CHUNK, MCN_POOL_WORD_A, MCN_POOL_WORD_B);
}

void pool_release(mcn_allocator* pool) {
  if (pool) op<Service::pool_release>()(pool, MCN_POOL_RELEASE_WORD);
}

void* pool_alloc(mcn_allocator* pool, std::uint64_t bytes) {
  return pool->alloc(pool, bytes, MCN_ALLOC_FLAGS);
}

void pool_free(mcn_allocator* pool, void* block) {
  if (block) pool->release(pool, block, MCN_RELEASE_WORD_A, MCN_RELEASE_WORD_B);
}

void* temp_a_obtain(std::uint64_t bytes) {
  void* var = nullptr;
  op<Service::temp_a_obtain>()(&var, bytes);
  return var;
}

void temp_a_release(void** var) {
  if (*var) op<Service::temp_a_release>()(var);
  *var = nullptr;
}

void* temp_b_obtain(std::uint64_t bytes) {
  void* var = nullptr;
  op<Service::temp_b_obtain>()(&var, bytes);
  return var;
}

void temp_b_release(void** var) {
  if (*var) op<Service::temp_b_release>()(var);
  *var = nullptr;
}

void utility_descriptor(std::uint8_t out[sizeof(mcn_utility_descriptor)]) {
  mcn_utility_descriptor d{};
  std::memset(d.blanks_a, ' ', sizeof d.blanks_a);
  std::memset(d.blanks_b, ' ', sizeof d.blanks_b);
  std::memcpy(d.kind, MCN_UTILITY_KIND, sizeof d.kind);
  d.flags = MCN_UTILITY_FLAGS;
  d.count = MCN_UTILITY_COUNT;
  std::memcpy(out, &d, sizeof d);
}

int utility_create(void** handle, const std::uint8_t* descriptor) {
  return op<Service::utility_create>()(handle, descriptor);
}

int utility_rewind(void* handle) {
  return op<Service::utility_rewind>()(handle, MCN_UTILITY_REWIND_WORD);
}

int utility_write(void* handle, const void* data, std::int64_t bytes) {
  return op<Service::utility_write>()(handle, data, bytes);
}

int utility_read(void* handle, void* buffer, std::int64_t bytes) {
  return op<Service::utility_read>()(handle, buffer, bytes);
}

int utility_close(void* handle) {
  return op<Service::utility_close>()(handle, MCN_UTILITY_CLOSE_WORD);
}

int sweep_pivot(double* packed, int pivot, int order, char* flags, double* work,
                double tolerance) {
  return op<Service::sweep_pivot>()(packed, pivot, order, flags, work, tolerance);
}

int module_load(void** handle_var, const char* name) {
  return op<Service::module_load>()(handle_var, name, MCN_MODULE_LOAD_WORD_A, MCN_MODULE_LOAD_WORD_B,
                                   MCN_MODULE_LOAD_WORD_C, MCN_MODULE_LOAD_WORD_D);
}

int entry_lookup(void* handle, void** function_var) {
  return op<Service::entry_lookup>()(handle, function_var);
}

}  // namespace mvtsa
