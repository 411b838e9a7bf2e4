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
// Calls whose work grows past small-input bounds are not made: whole-number
// sizes (n, lag) between 5000 and 2^31, lag-list elements above 16 (VARMA)
// or 64 (ARFIMA), and VARMA likelihoods and fits beyond k = 4 with lags
// above 4 or with more parameters than observations.
//
// Properties checked after every call: the status is one of those the
// entry points return, or the number of a message the call issued; no work block, pool, utility file or temporary block
// is left; the host's memory in use is back where it was; a successful call
// hands back one output slot per output of the function; the rounding mode
// and the trapped floating-point exceptions are those of the caller.
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
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

bool is_whole_size(const std::string& name) { return name == "n" || name == "lag"; }
bool is_lag_list(const std::string& name) { return name == "p" || name == "q"; }

// Whether the call stays within the bounds of small inputs.
bool bounded(const mvts::FunctionDoc& f, const std::vector<Value>& args) {
  const std::string fn = f.name;
  const bool varma = fn[0] == 'V';
  const bool varma_heavy = fn == "VARMALIK" || fn == "VARMAFIT";
  const double lag_bound = varma_heavy ? 4 : varma ? 16 : 64;
  std::int64_t lags = 0, k = 0, rows = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i].kind != Value::Kind::kNumeric) continue;
    const std::string name = f.inputs[i].name;
    const Matrix& m = args[i].m;
    for (double x : m.data) {
      const double a = std::fabs(x);
      if (is_whole_size(name) && std::isfinite(a) && a > 5000 && a < 2147483648.0) return false;
      if (is_lag_list(name) && std::isfinite(a) && a > lag_bound && a < 2147483648.0) return false;
    }
    if (is_lag_list(name)) lags += std::int64_t(m.data.size());
    if (name == "series") {
      k = std::max<std::int64_t>(m.rows > 1 && m.cols > 1 ? m.cols : 1, k);
      rows = m.rows > 1 && m.cols > 1 ? m.rows : std::max(m.rows, m.cols);
    }
    if (name == "phi" || name == "theta" || name == "sigma") k = std::max<std::int64_t>(k, m.cols);
  }
  if (varma_heavy && k > 4) return false;
  if (fn == "VARMAFIT" && k * k * lags > rows) return false;
  return true;
}

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

}  // namespace

int session_input(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  Reader r(data, size);
  const mvts::FunctionDoc& f = mvts::catalog()[r.byte() % mvts::catalog().size()];
  std::vector<Value> args;
  for (std::size_t i = 0; i < f.inputs.size() && r.more(); ++i)
    args.push_back(argument(r, f.inputs[i].name));
  if (!bounded(f, args)) return 0;

  Session& s = session();
  const std::uint64_t in_use = s.memory_in_use();
  const int round_before = std::fegetround(), traps_before = fegetexcept();
  const CallResult res = s.call(f.name, args);
  // MVTS_FUZZ_TRACE=1 shows each call made, for sorting findings.
  static const bool trace = std::getenv("MVTS_FUZZ_TRACE") != nullptr;
  if (trace) std::fprintf(stderr, "%s: status %d\n", f.name, res.status);

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
