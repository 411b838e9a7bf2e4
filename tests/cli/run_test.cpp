// The runner over a real host, the catalogue against the registration table,
// and the sample moments of `stats`.
#include "cli/run.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <limits>
#include <sstream>

#include "host/catalog.hpp"
#include "cli/stats.hpp"

// Every operator new of this program counted: the bytes live now and the
// most live at once since the last reset.  The host's result matrices are
// vectors, so a copy of one shows in the peak; the module's work blocks come
// from the host's allocator and do not.
namespace {
std::atomic<std::int64_t> g_live{0}, g_peak{0};
constexpr std::size_t kHeader = 16;  // keeps malloc's alignment
}  // namespace

void* operator new(std::size_t n) {
  void* p = std::malloc(n + kHeader);
  if (!p) throw std::bad_alloc();
  *static_cast<std::size_t*>(p) = n;
  const std::int64_t live = g_live += std::int64_t(n);
  for (std::int64_t peak = g_peak; live > peak && !g_peak.compare_exchange_weak(peak, live);) {
  }
  return static_cast<char*>(p) + kHeader;
}
void operator delete(void* p) noexcept {
  if (!p) return;
  char* block = static_cast<char*>(p) - kHeader;
  g_live -= std::int64_t(*reinterpret_cast<std::size_t*>(block));
  std::free(block);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace mvts::cli {
namespace {

TEST(CliCatalog, NamesEveryRegisteredFunctionsInputsAndOutputs) {
  // The input and output names of the command-line contract.
  const std::map<std::string, std::pair<std::string, std::string>> contract = {
      {"VNORMAL", {"mu sigma n seed", "series"}},
      {"VARMACOV", {"phi theta sigma p q lag", "cov"}},
      {"VARMASIM", {"phi theta mu sigma n p q initial seed", "series"}},
      {"VARMALIK", {"series phi theta sigma p q method", "loglik"}},
      {"VARMAFIT", {"series p q", "ar ma sigma"}},
      {"VTSROOT", {"phi theta p q", "roots"}},
      {"FDIF", {"series d", "series"}},
      {"FARMACOV", {"d phi theta sigma p q lag", "cov"}},
      {"FARMALIK", {"series d phi theta sigma p q opt", "loglik"}},
      {"FARMASIM", {"d phi theta mu sigma n p q initial seed", "series"}},
      {"FARMAFIT", {"series p q opt", "d ar ma sigma"}},
      {"UCMSIM", {"level slope cycle1 cycle2 cycle3 season1 init1 season2 init2 season3 init3 "
                  "irregular n seed", "series"}},
      {"FARMAFCST", {"series d phi theta sigma p q h mean level", "forecast mse interval"}},
      {"FARMARES", {"series d phi theta sigma p q opt mean", "resid var"}},
      {"FARMAFITMEAN", {"series p q opt", "d ar ma sigma mean"}},
      {"FARMAINFO", {"series d phi theta sigma p q opt mean", "hessian cov"}},
      {"VARMAFCST", {"series phi theta sigma p q h mean level", "forecast mse interval"}},
      {"VARMARES", {"series phi theta sigma p q mean", "resid innov logdet"}},
      {"VARMAINFO", {"series phi theta sigma p q mean", "hessian cov"}},
      {"VTSACF", {"series lag", "cov corr"}},
  };
  Session s;
  ASSERT_EQ(s.functions().size(), contract.size());
  EXPECT_EQ(catalog().size(), contract.size());
  for (const FunctionInfo& f : s.functions()) {
    const std::optional<Signature> sig = signature_of(s, f.name);
    ASSERT_TRUE(sig && find_doc(f.name)) << f.name;
    std::string inputs, outputs;
    for (const std::string& n : sig->input_names) inputs += (inputs.empty() ? "" : " ") + n;
    for (const std::string& n : sig->output_names) outputs += (outputs.empty() ? "" : " ") + n;
    EXPECT_EQ(inputs, contract.at(f.name).first) << f.name;
    EXPECT_EQ(outputs, contract.at(f.name).second) << f.name;
    EXPECT_EQ(find_doc(f.name)->inputs.size(), std::size_t(f.max_inputs)) << f.name;
  }
  EXPECT_EQ(signature_of(s, "vNoRmAl")->name, "VNORMAL");
  EXPECT_FALSE(signature_of(s, "VNORMALS"));
}

TEST(CliStats, MeansAndCovarianceOverCompleteRows) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Columns (1, 3, 5) and (2, 4, 9): means 3 and 5, variances 4 and 13,
  // covariance ((-2)(-3) + 0(-1) + 2(4)) / 2 = 7.  The row with a missing
  // value is left out.
  ColumnMoments m = column_moments(Matrix(4, 2, {1, 2, 3, 4, nan, 100, 5, 9}));
  EXPECT_EQ(m.rows_used, 3);
  EXPECT_EQ(m.mean.data, (std::vector<double>{3, 5}));
  EXPECT_EQ(m.cov.data, (std::vector<double>{4, 7, 7, 13}));

  // Centring first keeps the variance exact on a large offset, where
  // E[x^2] - E[x]^2 loses every digit.
  m = column_moments(Matrix(3, 1, {1e9 + 1, 1e9 + 2, 1e9 + 3}));
  EXPECT_EQ(m.cov.data[0], 1.0);

  m = column_moments(Matrix(1, 2, {1, 2}));  // one row: no covariance
  EXPECT_EQ(m.mean.data, (std::vector<double>{1, 2}));
  EXPECT_TRUE(std::isnan(m.cov.data[0]));
}

struct ScriptRun {
  int status;
  std::string out, err;
  Variables vars;
};

ScriptRun run_script(const std::string& text, bool keep_going, Format format = Format::kTable) {
  Session s;
  std::ostringstream out, err;
  Printer printer(format, out, err);
  Runner runner(s, printer);
  const int status = runner.script(text, "t.mvts", keep_going);
  return {status, out.str(), err.str(), runner.variables()};
}

TEST(CliRunner, AssignedOutputsAreTheCallsOutputs) {
  ScriptRun r = run_script("y = VNORMAL mu=\"1 2\" n=4 seed=11\nlet m = \"1 2\"\n", false);
  ASSERT_EQ(r.status, kExitOk) << r.err;
  EXPECT_TRUE(r.out.empty());  // assigned results are not printed
  Session s;
  CallResult direct = s.call("VNORMAL", {Value::row({1, 2}), Value::omitted(), Value::scalar(4),
                                         Value::scalar(11)});
  ASSERT_EQ(direct.status, 0);
  EXPECT_EQ(r.vars.at("y")->data, direct.outputs[0]->data);
  EXPECT_EQ(r.vars.at("m")->data, (std::vector<double>{1, 2}));
}

TEST(CliRunner, FailedCallLeavesItsNamesUnsetAndLaterUseNamesTheLine) {
  const std::string script =
      "y = VNORMAL mu=\"1 2\" n=0.5\n"
      "print y\n"
      "VNORMAL mu=\"1 2\" n=1 seed=3\n";
  ScriptRun stop = run_script(script, false);
  EXPECT_EQ(stop.status, kExitFailed);
  EXPECT_TRUE(stop.out.empty());
  EXPECT_NE(stop.err.find("ERROR: t.mvts:1: "), std::string::npos) << stop.err;

  ScriptRun go = run_script(script, true);
  EXPECT_EQ(go.status, kExitUsage);  // a usage error outranks a failed call
  EXPECT_NE(go.err.find("mvts: t.mvts:2: variable y has no value: the call on line 1"),
            std::string::npos) << go.err;
  EXPECT_NE(go.out.find("series: 1 x 2"), std::string::npos);  // line 3 still ran
  EXPECT_FALSE(go.vars.count("y"));
}

TEST(CliRunner, StoredResultsAreNotCopied) {
  // A 16 MB result, stored and summarised: at most once in memory.
  Session s;
  std::ostringstream out, err;
  Printer printer(Format::kTable, out, err);
  Runner runner(s, printer);
  g_peak = g_live.load();
  const std::int64_t before = g_live;
  ASSERT_EQ(runner.script("y = VNORMAL mu=\"0 0\" n=1e6 seed=1\nstats y\n", "t.mvts", false), kExitOk)
      << err.str();
  const std::int64_t result = 2000000 * std::int64_t(sizeof(double));
  EXPECT_GE(g_peak - before, result);
  EXPECT_LT(g_peak - before, result * 5 / 4);
}

TEST(CliRunner, CharacterValueCannotBeStored) {
  ScriptRun r = run_script("let z = abc\n", false);
  EXPECT_EQ(r.status, kExitUsage);
  EXPECT_NE(r.err.find("t.mvts:1: let"), std::string::npos);
}

}  // namespace
}  // namespace mvts::cli
