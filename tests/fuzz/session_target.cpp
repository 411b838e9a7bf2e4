// Fuzz target: the registered functions of both modules through the Session API.
//
// Input layout: byte 0 chooses the function (catalogue order); then, for
// each input slot in turn while bytes remain, one byte chooses its kind
// (omitted, no value, character, numeric); a numeric argument takes a
// shape byte (rows and columns 0..7; a series takes its rows, 0..63, from
// one more byte) and one byte per
// element: an index into a table of telling values, or, from 224 on, the
// next eight bytes as a raw double.
//
// No input is skipped for its size: every call runs under a time budget
// (MVTS_FUZZ_BUDGET_MS, 1000 ms by default).  A watchdog thread cancels a
// call still running at the budget, as Ctrl-C does; the call must then end
// within kCancelGraceMs with its memory given back.  A call that ran past
// its budget is reported on stderr ("over budget") and, when
// MVTS_FUZZ_SLOW_DIR names a folder, its input is written there, so that
// the slow regions can be studied; a call that does not end within the
// grace after its cancellation is a finding (a long loop that does not ask
// whether the call has been cancelled).

// Properties checked after every call: the status is one of those the
// entry points return, or the number of a message the call issued; no work block, pool, utility file or temporary block
// is left; the host's memory in use is back where it was; a successful call
// hands back one output slot per output of the function; the rounding mode
// and the trapped floating-point exceptions are those of the caller.
#include <cfenv>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/catalog.hpp"
#include "host/host.hpp"
#include "tests/fuzz/targets.hpp"

namespace mvts::fuzz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Values that sit on the boundaries the entry points test.
constexpr double kValues[] = {
    0, 1, -1, 2, 3, 4, 7, 12, 100, 5000, 0.5, -0.5, 0.25, 0.1, 0.2, 0.3, 0.4, 0.45, 0.49,
    0.4999999, 0.5000001, 0.9, 0.99, 0.999999, 1.0000001, -0.2, -0.9, 1e-8, 1e-14, 1e-300,
    4.9e-324, 2.2250738585072014e-308, 1e8, 1e150, 1.3407807929942597e152, 1e300, 1e308,
    -1e308, 1.7976931348623157e308, kNaN, kInf, -kInf, 2147483646, 2147483647, 2147483648,
    4294967295, 4294967296, 1e10, -2147483647, -7, 0.75, 2.5, 1.5, 6, 8, 16, 64, 0.05};
constexpr int kValueCount = sizeof kValues / sizeof kValues[0];

class Reader {
 public:
  Reader(const std::uint8_t* d, std::size_t n) : d_(d), n_(n) {}
  bool more() const { return i_ < n_; }
  std::uint8_t byte() { return i_ < n_ ? d_[i_++] : 0; }
  double value() {
    const std::uint8_t b = byte();
    if (b < 224) return kValues[b % kValueCount];
    double x = 0;
    unsigned char raw[8] = {};
    for (unsigned char& r : raw) r = byte();
    std::memcpy(&x, raw, 8);
    return x;
  }

 private:
  const std::uint8_t* d_;
  std::size_t n_;
  std::size_t i_ = 0;
};

Value argument(Reader& r, const std::string& name) {
  const std::uint8_t kind = r.byte() % 8;
  if (kind <= 1) return Value::omitted();
  if (kind == 2) return Value::no_value();
  if (kind == 3) {
    std::string text(r.byte() % 9, 'x');
    for (char& c : text) c = char(r.byte());
    return Value::character(text);
  }
  const std::uint8_t shape = r.byte();
  const int cols = (shape >> 3) & 7;
  const int rows = name == "series" ? r.byte() % 64 : shape & 7;
  std::vector<double> data(std::size_t(rows) * std::size_t(cols));
  for (double& x : data) x = r.value();
  return Value::matrix(rows, cols, std::move(data));
}

[[noreturn]] void fail(const char* function, const char* what, long a, long b) {
  std::fprintf(stderr, "fuzz_session: %s: %s (%ld, %ld)\n", function, what, a, b);
  std::abort();
}

Session& session() {
  static Session* s = [] {
    auto* made = new Session;  // lives for the whole process
    made->set_memory_limit(std::uint64_t(256) << 20);
    made->set_clock_seed(12345);
    return made;
  }();
  return *s;
}

// Time a cancelled call may take to end: the long loops ask every few
// thousand operations (well under 0.1 s in a release build), several times
// slower under the sanitizers, on a machine that may be shared.
constexpr long kCancelGraceMs = 5000;

long budget_ms() {
  static const long budget = [] {
    const char* e = std::getenv("MVTS_FUZZ_BUDGET_MS");
    const long v = e ? std::strtol(e, nullptr, 10) : 0;
    return v > 0 ? v : 1000L;
  }();
  return budget;
}

// Cancels the session's call when it runs past its deadline.  One thread
// for the whole process; arm() before a call, disarm() after it.
class Watchdog {
 public:
  explicit Watchdog(Host& host) : host_(host), thread_([this] { watch(); }) { thread_.detach(); }

  void arm(std::chrono::steady_clock::time_point deadline) {
    std::lock_guard<std::mutex> lock(mutex_);
    deadline_ = deadline;
    armed_ = true;
    fired_ = false;
    wake_.notify_one();
  }
  // Whether the call was cancelled.
  bool disarm() {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
    return fired_;
  }

 private:
  void watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return armed_ && !fired_; });
      if (wake_.wait_until(lock, deadline_, [this] { return !armed_; })) continue;
      host_.cancel();  // sets a flag; a call that has just ended ignores it
      fired_ = true;
    }
  }

  Host& host_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::chrono::steady_clock::time_point deadline_{};
  bool armed_ = false;
  bool fired_ = false;
  std::thread thread_;
};

Watchdog& watchdog() {
  static auto* w = new Watchdog(session());  // lives for the whole process
  return *w;
}

// Writes an input that ran past its budget to MVTS_FUZZ_SLOW_DIR, if set.
void keep_slow_input(const std::uint8_t* data, std::size_t size) {
  const char* dir = std::getenv("MVTS_FUZZ_SLOW_DIR");
  if (dir == nullptr) return;
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a names the file by its bytes
  for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
  char name[32];
  std::snprintf(name, sizeof name, "/slow-%016llx", static_cast<unsigned long long>(h));
  std::ofstream(std::string(dir) + name, std::ios::binary)
      .write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

}  // namespace

int session_input(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  Reader r(data, size);
  const mvts::FunctionDoc& f = mvts::catalog()[r.byte() % mvts::catalog().size()];
  std::vector<Value> args;
  for (std::size_t i = 0; i < f.inputs.size() && r.more(); ++i)
    args.push_back(argument(r, f.inputs[i].name));

  Session& s = session();
  const std::uint64_t in_use = s.memory_in_use();
  const int round_before = std::fegetround(), traps_before = fegetexcept();
  Watchdog& dog = watchdog();
  const auto start = std::chrono::steady_clock::now();
  dog.arm(start + std::chrono::milliseconds(budget_ms()));
  const CallResult res = s.call(f.name, args);
  const bool cancelled = dog.disarm();
  const long ms = long(std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start).count());
  if (cancelled) {
    std::fprintf(stderr, "fuzz_session: %s: over budget (%ld ms, status %d)\n", f.name, ms, res.status);
    keep_slow_input(data, size);
    if (ms > budget_ms() + kCancelGraceMs) fail(f.name, "not ended after its cancellation (ms)", ms, budget_ms());
  }
  // MVTS_FUZZ_TRACE=1 shows each call made, with its numeric arguments, for
  // sorting findings.
  static const bool trace = std::getenv("MVTS_FUZZ_TRACE") != nullptr;
  if (trace) {
    std::fprintf(stderr, "%s: status %d, %ld ms\n", f.name, res.status, ms);
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (args[i].kind != Value::Kind::kNumeric) continue;
      std::fprintf(stderr, "  %s %lld x %lld:", f.inputs[i].name, static_cast<long long>(args[i].m.rows),
                   static_cast<long long>(args[i].m.cols));
      for (double x : args[i].m.data) std::fprintf(stderr, " %.17g", x);
      std::fprintf(stderr, "\n");
    }
  }

  // The argument and host statuses, the statuses 2 and 3 of the VARMA
  // autocovariance solve; any other status is the number of a message the
  // call issued (the ARFIMA functions' 315, 373, 390, ...).
  static const int kStatuses[] = {-1, 0, 1, 2, 3, 6, 8, 10, 11, 13, 15, 17, 18, 100};
  bool known = false;
  for (int st : kStatuses) known = known || res.status == st;
  for (const Message& m : res.messages) known = known || res.status == m.number;
  if (!known) fail(f.name, "a status neither known nor explained by a message", res.status, 0);
  if (s.live_blocks() != 0) fail(f.name, "work blocks left", s.live_blocks(), res.status);
  if (s.live_pools() != 0) fail(f.name, "pools left", s.live_pools(), res.status);
  if (s.open_utility_files() != 0) fail(f.name, "utility files left", s.open_utility_files(), res.status);
  if (s.live_temp_blocks() != 0) fail(f.name, "temporary blocks left", s.live_temp_blocks(), res.status);
  // The generator record, made on the first simulation, may stay.
  if (s.memory_in_use() > in_use + 64) fail(f.name, "memory in use grew", long(in_use), long(s.memory_in_use()));
  if (res.outputs.size() != f.outputs.size()) fail(f.name, "outputs", long(res.outputs.size()), 0);
  if (std::fegetround() != round_before || fegetexcept() != traps_before)
    fail(f.name, "floating-point rounding or traps changed", fegetexcept(), traps_before);
  return 0;
}

}  // namespace mvts::fuzz

#ifdef MVTS_FUZZ_SESSION_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return mvts::fuzz::session_input(data, size);
}
#endif
