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
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

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

// Column names read from a file go with the values: to a variable set from
// the file or from another variable, to the outputs of a call shaped like
// the named input (FDIF's series, stored or shown), to print, stats and
// write; an output of another shape (VARMAFIT's coefficients) and a
// variable set again from unnamed values have none.
TEST(CliRunner, ColumnNamesFollowTheValues) {
  const std::string dir = std::filesystem::temp_directory_path().string();
  const std::string one = dir + "/mvts_run_names1.csv", two = dir + "/mvts_run_names2.csv",
                    back = dir + "/mvts_run_names_back.csv";
  std::ofstream(one) << "\"\",\"flow\"\n\"1\",1120\n\"2\",1160\n\"3\",963\n\"4\",1210\n";
  {
    std::ofstream f(two);
    f << "gdp,rate\n";
    for (int i = 0; i < 40; ++i) f << std::sin(i) << "," << std::cos(0.5 * i) << "\n";
  }
  const std::string script =
      "let y = @" + one + "\n"
      "let same = $y\n"
      "d = FDIF $same 0.3\n"
      "FDIF @" + one + " 0.3\n"
      "print d\n"
      "write d " + back + "\n"
      "let v = @" + two + "\n"
      "VARMAFIT $v p=1\n"
      "stats v\n"
      "let y = \"1;2;3\"\n"
      "print y\n";
  ScriptRun r = run_script(script, false, Format::kJson);
  ASSERT_EQ(r.status, kExitOk) << r.err;
  std::vector<nlohmann::json> objects;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) objects.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(objects.size(), 6u) << r.out;  // the first: d = FDIF, its output stored
  const nlohmann::json flow = nlohmann::json::array({"flow"});
  EXPECT_EQ(objects[1]["outputs"][0]["columns"], flow);  // FDIF @file, shown
  EXPECT_EQ(objects[2]["outputs"][0]["columns"], flow);  // print d (FDIF of $same)
  ASSERT_EQ(objects[3]["outputs"].size(), 2u);  // ar and sigma (no MA part)
  for (const nlohmann::json& o : objects[3]["outputs"])  // VARMAFIT: coefficients
    EXPECT_FALSE(o.contains("columns")) << o["name"];
  EXPECT_EQ(objects[4]["outputs"][1]["columns"], nlohmann::json::array({"gdp", "rate"}));  // stats
  EXPECT_FALSE(objects[5]["outputs"][0].contains("columns"));  // y set again
  ColumnNames names;
  const Matrix written = read_matrix_file(back, &names);
  EXPECT_EQ(names, ColumnNames{"flow"});
  const std::vector<double>& d = r.vars.at("d")->data;
  ASSERT_EQ(written.data.size(), d.size());
  EXPECT_TRUE(std::isnan(written.data[0]) && std::isnan(d[0]));  // FDIF's first value: missing
  EXPECT_EQ(std::vector<double>(written.data.begin() + 1, written.data.end()),
            std::vector<double>(d.begin() + 1, d.end()));
  std::remove(one.c_str());
  std::remove(two.c_str());
  std::remove(back.c_str());
}

// A table is written as it is formatted: printing a 2 x 10^6 result holds
// no more than a few blocks beside it.
TEST(CliRunner, PrintedTableIsNotHeldWhole) {
  Session s;
  std::ostringstream err;
  struct Discard : std::streambuf {
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  } discard;
  std::ostream out(&discard);
  Printer printer(Format::kTable, out, err);
  Runner runner(s, printer);
  g_peak = g_live.load();
  const std::int64_t before = g_live;
  ASSERT_EQ(runner.script("y = VNORMAL mu=\"0 0\" n=1e6 seed=1\nprint y\n", "t.mvts", false),
            kExitOk)
      << err.str();
  const std::int64_t result = 2000000 * std::int64_t(sizeof(double));
  EXPECT_LT(g_peak - before, result + (std::int64_t(1) << 20));
}

TEST(CliRunner, CharacterValueCannotBeStored) {
  ScriptRun r = run_script("let z = abc\n", false);
  EXPECT_EQ(r.status, kExitUsage);
  EXPECT_NE(r.err.find("t.mvts:1: let"), std::string::npos);
}

}  // namespace
}  // namespace mvts::cli
