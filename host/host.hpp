// The host library: implements the service table that modules expect, loads
// modules with dlopen, and offers a call API (load a module, call a
// registered function by name with argument matrices, get back the status,
// the messages and the created outputs).
//
//   mvts::Session s;                                  // loads both modules
//   auto r = s.call("VNORMAL", {mvts::Value::matrix(1, 2, {1, 2}),
//                               mvts::Value::omitted(), mvts::Value::scalar(3),
//                               mvts::Value::scalar(1)});
//   r.status, r.messages, r.outputs[0]->at(0, 1)
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "abi/mcn_abi.h"

namespace mvts {

// A numeric matrix, row-major.
struct Matrix {
  std::int32_t rows = 0;
  std::int32_t cols = 0;
  std::vector<double> data;

  Matrix() = default;
  Matrix(std::int32_t r, std::int32_t c) : rows(r), cols(c), data(std::size_t(r) * c, 0.0) {}
  Matrix(std::int32_t r, std::int32_t c, std::vector<double> d)
      : rows(r), cols(c), data(std::move(d)) {}
  double at(std::int64_t i, std::int64_t j) const { return data[std::size_t(i * cols + j)]; }
  double& at(std::int64_t i, std::int64_t j) { return data[std::size_t(i * cols + j)]; }
};

// One argument slot of a call.
struct Value {
  enum class Kind { kOmitted, kNoValue, kNumeric, kText };
  Kind kind = Kind::kOmitted;
  Matrix m;          // kNumeric
  std::string text;  // kText: a 1 x 1 character matrix

  static Value omitted() { return {}; }
  static Value no_value() { Value v; v.kind = Kind::kNoValue; return v; }
  static Value matrix(Matrix m) { Value v; v.kind = Kind::kNumeric; v.m = std::move(m); return v; }
  static Value matrix(std::int32_t r, std::int32_t c, std::vector<double> d) {
    return matrix(Matrix(r, c, std::move(d)));
  }
  static Value scalar(double x) { return matrix(1, 1, {x}); }
  static Value row(std::vector<double> d) {
    auto n = static_cast<std::int32_t>(d.size());
    return matrix(1, n, std::move(d));
  }
  static Value column(std::vector<double> d) {
    auto n = static_cast<std::int32_t>(d.size());
    return matrix(n, 1, std::move(d));
  }
  static Value character(std::string s) { Value v; v.kind = Kind::kText; v.text = std::move(s); return v; }
};

using InsertValue = std::variant<std::string, std::int64_t, double>;

struct Message {
  int number = 0;
  std::vector<InsertValue> inserts;
  std::string text;
  bool note = false;  // a note does not stop the call
};

struct CallResult {
  int status = 0;
  std::vector<Message> messages;
  std::vector<std::optional<Matrix>> outputs;  // index i: output i + 1, if created
  std::vector<std::string> notes;              // lines written with print_note
  int raised_error = 0;                        // host error code handed back, if any
  // The input (1-based, as in the function's input list) whose check ended
  // the call: the argument being read when a check failed.  0 when the call
  // succeeded or failed for another reason (memory, a numerical failure).
  int argument = 0;
};

struct FunctionInfo {
  std::string name;
  int max_inputs = 0;
  int outputs = 0;
  mcn_entry_fn entry = nullptr;
};

// The host's text for a message number with its inserts filled in.
std::string message_text(int number, const std::vector<InsertValue>& inserts);
// Whether a message number is a note (the call goes on).
bool message_is_note(int number);
// Whether a stopping message is about the input being checked (a shape,
// dimension, count or value the input must have).
bool message_names_argument(int number);
// The host's text for a host error code.
std::string error_text(int code);
// What a status of the module's functions means, for a call that failed
// without a message; empty for a status with no general meaning.
std::string status_text(int status);
// What an argument status says of the argument that CallResult::argument
// names ("contains missing values"); empty for a status of no argument.
std::string argument_status_text(int status);

class HostImpl;

// An argument block built from values, as the host hands it to an entry
// point: slot i is null for an omitted value.  Lets tests call entry points
// and the module's argument checks directly.
class ArgumentBlock {
 public:
  explicit ArgumentBlock(const std::vector<Value>& args);
  // The same, taking the values over instead of copying them.
  explicit ArgumentBlock(std::vector<Value>&& args);
  ~ArgumentBlock();
  ArgumentBlock(const ArgumentBlock&) = delete;
  ArgumentBlock& operator=(const ArgumentBlock&) = delete;
  void** slots() { return slots_.empty() ? nullptr : slots_.data(); }
  const std::vector<void*>& slot_list() const { return slots_; }
  const std::int32_t* given() const { return &given_; }

 private:
  struct Held;
  template <class V>
  void hold(std::size_t slot, V&& value);
  std::vector<std::unique_ptr<Held>> held_;
  std::vector<void*> slots_;
  std::int32_t given_ = 0;
};

class Host {
 public:
  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Loads a module by name ("orvmvtsa") or path; calls mcn_main and
  // module_query 1 and 2.  Returns false with a reason on failure.
  bool load(const std::string& name_or_path, std::string* error = nullptr);
  // Attaches a module linked into this program (its mcn_main).
  bool attach(mcn_main_fn main, std::string* error = nullptr);

  const std::vector<FunctionInfo>& functions() const;
  const FunctionInfo* find(std::string_view name) const;  // case-insensitive

  // Calls a registered function.  Unknown name: status -1 and no message.
  // Hosts are independent: calls on different hosts may run on different
  // threads at once; one host serves one call at a time.
  CallResult call(std::string_view name, const std::vector<Value>& args);
  // The same, taking the argument values over: each value reaches the
  // module without another copy (language bindings build them once).
  CallResult call(std::string_view name, std::vector<Value>&& args);

  // Asks the call running on this host (from another thread, or from a
  // signal handler: it only sets a flag) to stop: its long loops see the
  // request within a fraction of a second, and the call ends with status
  // 100 and message 398, its memory given back.  A request made while no
  // call runs is forgotten when the next call starts.
  void cancel();

  // The service table handed to modules.
  const mcn_host_table* table() const;
  // The context record (MCN_CONTEXT_SIZE bytes).
  unsigned char* context() const;

  // ---- Test hooks
  // Makes the n-th allocation from now fail (1 = the next); 0 disables.
  void fail_allocation_at(std::int64_t n);
  // Makes the n-th utility-file operation from now fail; 0 disables.
  void fail_utility_at(std::int64_t n);
  // Allocations made so far (work allocator and pools).
  std::int64_t allocation_count() const;
  // Live work blocks, not counting the generator record parked in the
  // context record.
  std::int64_t live_blocks() const;
  std::int64_t live_pools() const;
  std::int64_t open_utility_files() const;
  std::int64_t live_temp_blocks() const;
  // Fixes what clock_seed returns (0: derive it from the clock).
  void set_clock_seed(std::uint32_t seed);
  // The largest single allocation the host gives (default 16 GiB).
  void set_allocation_limit(std::uint64_t bytes);
  // The most memory live at once in work blocks, pools, temporary blocks and
  // the outputs of the current call (default: half the machine's memory).
  void set_memory_limit(std::uint64_t bytes);
  std::uint64_t memory_limit() const;
  std::uint64_t memory_in_use() const;

  // Messages, notes and errors since the last call started.
  const CallResult& current() const;

  // Makes this host the one that the service operations act on, on this
  // thread, and hands its table to its modules, until another host is
  // activated here.  call() and load() do this for their own length and then
  // restore what was there, so that several hosts (sessions) can be used
  // in one process, on one thread or on several; activate() is for code
  // that calls entry points or module routines itself (tests, benchmarks).
  void activate();
  static Host* active();

  HostImpl* impl() const { return impl_.get(); }

 private:
  bool register_functions(mcn_main_fn main, std::string* error);
  CallResult run(const FunctionInfo& f, ArgumentBlock& block);
  std::unique_ptr<HostImpl> impl_;
};

// A host with the product's modules loaded.
class Session : public Host {
 public:
  // Loads "orvmvtsa" (the twelve functions) and "orvmvtst" (the statistics
  // built on them); throws std::runtime_error when one cannot be loaded.
  Session();
};

// Directories searched for modules: MVTS_MODULE_PATH (colon-separated), the
// directory of the first module loaded, then this library's own directory
// (the build tree keeps the modules there) and its subdirectory mvts/ (an
// installed library keeps them in <libdir>/mvts).
std::vector<std::string> module_search_path();

// The version of this library, "major.minor.patch": the project's version,
// which the command line, the Python package, the CMake and pkg-config files
// and the Debian package all report.
const char* version();

}  // namespace mvts
