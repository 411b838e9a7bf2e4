// End-to-end tests of the built `mvts` program: standard output, standard
// error and exit status as a shell user sees them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "host/host.hpp"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// The bytes of a string literal, embedded NULs included.
template <std::size_t N>
std::string bytes(const char (&s)[N]) {
  return std::string(s, N - 1);
}

struct Result {
  int status = -1;
  std::string out, err;
};

class Command : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/mvts_cli_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }

  static std::string path(const std::string& name) { return dir_ + "/" + name; }

  static void write(const std::string& name, const std::string& text) {
    std::ofstream(path(name)) << text;
  }

  // Runs mvts with `args` (shell syntax) in the temporary directory.
  static Result mvts(const std::string& args, const std::string& input = "") {
    write("stdin", input);
    const std::string cmd = "cd '" + dir_ + "' && '" MVTS_BUILD_DIR "/bin/mvts' " + args +
                            " <stdin 2>stderr";
    Result r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    std::size_t got;
    while ((got = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, got);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    std::ifstream e(path("stderr"));
    r.err.assign(std::istreambuf_iterator<char>(e), std::istreambuf_iterator<char>());
    return r;
  }

  static std::vector<json> json_lines(const std::string& text) {
    std::vector<json> v;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) v.push_back(json::parse(line));
    return v;
  }

  static inline std::string dir_;
};

// The deviates of the generator, computed here from its definition: the
// Lehmer generator seed * 397204094 mod (2^31 - 1) and one Box-Muller
// deviate sqrt(-2 ln u1) cos(2 pi u2) per pair of uniforms.
std::vector<double> deviates(std::uint64_t seed, int count) {
  std::vector<double> z;
  auto uniform = [&] {
    seed = seed * 397204094u % 2147483647u;
    return double(seed) / 2147483647.0;
  };
  for (int i = 0; i < count; ++i) {
    const double u1 = uniform(), u2 = uniform();
    z.push_back(std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2));
  }
  return z;
}

TEST_F(Command, VnormalJsonHoldsTheDrawsOfTheGenerator) {
  Result r = mvts("vnormal mu=\"1 2\" n=3 seed=1 --format json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const json j = json::parse(r.out);
  EXPECT_EQ(j["function"], "VNORMAL");
  EXPECT_EQ(j["status"], 0);
  EXPECT_TRUE(j["messages"].empty());
  ASSERT_EQ(j["outputs"].size(), 1u);
  const json& o = j["outputs"][0];
  EXPECT_EQ(o["name"], "series");
  EXPECT_EQ(o["index"], 1);
  ASSERT_EQ(o["rows"], 3);
  ASSERT_EQ(o["cols"], 2);
  const std::vector<double> z = deviates(1, 6);
  const double mu[2] = {1, 2};
  for (int t = 0; t < 3; ++t)
    for (int m = 0; m < 2; ++m) EXPECT_DOUBLE_EQ(o["data"][t][m].get<double>(), mu[m] + z[2 * t + m]);
}

// The input whose check failed is named by number and name in every format.
TEST_F(Command, AFailedCheckNamesItsArgument) {
  const std::string call = "VARMASIM phi='0.5 0; 0 0.5' n=5 initial=.";
  Result t = mvts(call);
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.err, "ERROR: VARMASIM failed with status 17: argument 8 (`initial`) contains "
                   "missing values.\n");
  Result c = mvts(call + " --format csv");
  EXPECT_EQ(c.err, t.err);
  Result j = mvts(call + " --format json");
  EXPECT_EQ(j.status, 1);
  const json o = json::parse(j.out);
  EXPECT_EQ(o["argument"]["index"], 8);
  EXPECT_EQ(o["argument"]["name"], "initial");
  // A message about the argument is prefixed with its name; a script line too.
  Result m = mvts("run -", "VARMACOV phi='0.5 0; 0 0.5' sigma='1 0 0; 0 1 0'\n");
  EXPECT_EQ(m.err, "ERROR: stdin:1: argument 3 (`sigma`): The covariance matrix is not square.\n");
}

TEST_F(Command, TheThreeFormatsShowTheSameNumbers) {
  const std::string call = "VNORMAL '1 2' '1 0.5; 0.5 2' 4 9";
  Result j = mvts(call + " --format=json"), c = mvts(call + " --format csv"), t = mvts(call);
  ASSERT_EQ(j.status + c.status + t.status, 0);
  const json data = json::parse(j.out)["outputs"][0]["data"];

  std::istringstream csv(c.out);
  std::string line;
  std::getline(csv, line);
  EXPECT_EQ(line, "# series");
  for (int i = 0; i < 4; ++i) {
    std::getline(csv, line);
    const std::size_t comma = line.find(',');
    EXPECT_EQ(std::strtod(line.substr(0, comma).c_str(), nullptr), data[i][0].get<double>());
    EXPECT_EQ(std::strtod(line.substr(comma + 1).c_str(), nullptr), data[i][1].get<double>());
  }

  std::istringstream table(t.out);
  std::getline(table, line);
  EXPECT_EQ(line, "series: 4 x 2");
  std::size_t width = 0;
  for (int i = 0; i < 4; ++i) {
    std::getline(table, line);
    if (i == 0) width = line.size();
    EXPECT_EQ(line.size(), width) << "rows are aligned";
    double a = 0, b = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf %lf", &a, &b), 2);
    EXPECT_NEAR(a, data[i][0].get<double>(), 1e-6 * (1 + std::fabs(a)));
    EXPECT_NEAR(b, data[i][1].get<double>(), 1e-6 * (1 + std::fabs(b)));
  }
  // Case, position and name do not change the call.
  EXPECT_EQ(mvts("vnormal seed=9 SIGMA='1 0.5; 0.5 2' mu='1,2' n=4").out, t.out);
}

TEST_F(Command, ArgumentChecksReachTheUser) {
  struct Case { const char* n; int status; int rows; };
  const Case cases[] = {
      {"2.9", 0, 2},     // truncated
      {"0.5", 100, 0},   // message 353
      {"3e9", 18, 0},
      {"'1;2'", 15, 0},  // 2 x 1
      {"abc", 13, 0},    // character
      {"", 2, 0},        // no value
  };
  for (const Case& c : cases) {
    const std::string call = std::string("vnormal mu='1 2' seed=3 n=") + c.n;
    Result r = mvts(call + " --format json");
    EXPECT_EQ(r.status, c.status == 0 ? 0 : 1) << c.n;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["status"], c.status) << c.n;
    if (c.status == 0) {
      EXPECT_EQ(j["outputs"][0]["rows"], c.rows);
    } else {
      EXPECT_TRUE(j["outputs"].empty()) << c.n;
    }
    if (c.status == 100) {
      EXPECT_EQ(j["messages"][0]["number"], 353);
    }

    Result t = mvts(call);
    EXPECT_EQ(t.status, r.status);
    if (c.status != 0) {
      EXPECT_EQ(t.out, "") << c.n;
      EXPECT_EQ(t.err.rfind("ERROR: ", 0), 0u) << t.err;
    }
  }
}

TEST_F(Command, UsageErrorsExitTwoAndNameTheProblem) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "usage: mvts"},
      {"nosuch 1", "unknown function \"nosuch\""},
      {"vnormal bogus=1", "no input named \"bogus\""},
      {"vnormal 1 2 3 4 5", "at most 4 inputs"},
      {"vnormal mu=1 mu=2", "given twice"},
      {"vnormal mu=@absent.csv", "cannot read absent.csv"},
      {"vnormal mu='1 2; 3'", "row 2 has 1 elements where row 1 has 2"},
      {"vnormal --format xml", "unknown format \"xml\""},
      {"vnormal --frmat json", "unknown option \"--frmat\""},
      {"vnormal --keep-going", "--keep-going"},
      {"vnormal 'mu=$y'", "variables exist only in scripts"},
      {"help nosuch", "unknown function \"nosuch\""},
      {"run", "run needs one script"},
      {"run absent.mvts", "cannot read absent.mvts"},
      {"vnormal mu=0x10", "\"0x10\": hexadecimal numbers are not read"},
      {"vnormal mu=infinity", "\"infinity\": not a number mvts reads"},
      {"vnormal 'mu=1 nan(12)'", "\"nan(12)\": not a number mvts reads"},
      {"--version list", "take no other arguments"},
      {"--version --man", "take no other arguments"},
      {"--bash-completion --format csv", "take no other arguments"},
  };
  for (const auto& [args, problem] : cases) {
    Result r = mvts(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.err.find(problem), std::string::npos) << args << "\n" << r.err;
    EXPECT_EQ(r.out, "") << args;
  }
}

TEST_F(Command, BinaryFilesAreShownWithControlBytesEscaped) {
  write("bin.dat", bytes("1,2\n3,\x1b[2J\x1b]0;owned\x07\x7ftail\n"));
  Result r = mvts("vnormal mu=@bin.dat");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("bin.dat:2: \"\\x1B[2J\\x1B]0;owned\\x07\\x7Ftail\" is not a number"),
            std::string::npos) << r.err;
  for (char c : r.err) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << int(c);
  // A script line, too, is shown escaped.
  write("bin.mvts", bytes("VNORMAL mu=1\n\x1b[2J\x9b" "1m = 2\n"));
  r = mvts("run bin.mvts");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("\\x1B[2J\\x9B1m"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
}

// A stream that cannot be a file of numbers is refused at once, with exit
// status 2 and the file and line named, however long it would run: a NUL
// byte (/dev/zero), or a field longer than any number (an endless run of
// digits).  The runs are bounded by `timeout`: a read that does not stop
// ends with its status 124.
TEST_F(Command, EndlessStreamsThatHoldNoNumbersAreRefusedAtOnce) {
  auto run = [](const std::string& command) {
    Result r;
    const std::string cmd = "cd '" + dir_ + "' && " + command + " 2>stderr >/dev/null";
    const int st = std::system(cmd.c_str());
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    std::ifstream e(path("stderr"));
    r.err.assign(std::istreambuf_iterator<char>(e), std::istreambuf_iterator<char>());
    return r;
  };
  const std::string mvts_bin = "timeout 60 '" MVTS_BUILD_DIR "/bin/mvts'";
  Result r = run(mvts_bin + " fdif series=@/dev/zero d=0.3");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "mvts: /dev/zero:1: a NUL byte: this is not a text file of numbers\n");
  r = run("yes 1 | tr -d '\\n' | " + mvts_bin + " fdif series=@/dev/stdin d=0.3");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("/dev/stdin:1: a field of more than 4096 bytes"), std::string::npos) << r.err;
}

TEST_F(Command, ByteOrderMarkStartsScriptsAndDataFiles) {
  write("bom.csv", "\xEF\xBB\xBF" "1,2\n");
  write("bom.mvts", "\xEF\xBB\xBF" "let x = @bom.csv\nprint x\n");
  Result r = mvts("run bom.mvts --format csv");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "# x\n1,2\n");
}

TEST_F(Command, WriteFailuresGiveTheReasonAndExitOne) {
  const std::string full = "cannot write /dev/full: " + std::string(std::strerror(ENOSPC));
  Result r = mvts("run -", "y = VNORMAL mu='1 2' n=3 seed=1\nwrite y /dev/full\nprint y\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("stdin:2: " + full), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");  // the script stops at the failed line
  // Standard output that cannot be written fails the run as well.
  r = mvts("vnormal mu='1 2' n=3 seed=1 >/dev/full");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write standard output: " + std::string(std::strerror(ENOSPC))),
            std::string::npos) << r.err;
}

TEST_F(Command, OutOfMemoryNamesTheLine) {
  // A 1 x 1,000,000 variable: its covariance would take 8 TB.
  std::string line = "let x = \"";
  for (int i = 0; i < 1000000; ++i) line += "1 ";
  write("wide.mvts", line + "\"\nstats x\n");
  Result r = mvts("run wide.mvts");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("wide.mvts:2: stats: variable x has 1000000 columns"), std::string::npos)
      << r.err;
}

TEST_F(Command, ListAndHelp) {
  Result list = mvts("list");
  ASSERT_EQ(list.status, 0);
  for (const char* f : {"VNORMAL(mu, sigma, n, seed) -> series", "VARMAFIT(series, p, q) -> ar, ma, sigma",
                        "FARMAFIT(series, p, q, opt) -> d, ar, ma, sigma", "UCMSIM(level, slope"})
    EXPECT_NE(list.out.find(f), std::string::npos) << f;
  Result help = mvts("help vnormal");
  ASSERT_EQ(help.status, 0);
  for (const char* s : {"1  mu", "4  seed", "omitted: identity", "omitted: 100", "1  series"})
    EXPECT_NE(help.out.find(s), std::string::npos) << s;
  EXPECT_EQ(mvts("--help").status, 0);
}

// Every function's help fits 79 columns, and every function taking a lag
// list says how the list is read: sorted, with the i-th smallest lag taking
// the i-th block, so that a list out of order is not mistaken for another
// model.
TEST_F(Command, HelpLinesFitAndLagListsSayHowTheyAreRead) {
  for (const char* f : {"vnormal", "varmacov", "varmasim", "varmalik", "varmafit", "vtsroot", "fdif",
                        "farmacov", "farmalik", "farmasim", "farmafit", "ucmsim"}) {
    Result help = mvts(std::string("help ") + f);
    ASSERT_EQ(help.status, 0) << f;
    std::size_t start = 0;
    while (start < help.out.size()) {
      std::size_t end = help.out.find('\n', start);
      if (end == std::string::npos) end = help.out.size();
      EXPECT_LE(end - start, 79u) << f << ": " << help.out.substr(start, end - start);
      start = end + 1;
    }
    const bool lag_list = help.out.find("lag list") != std::string::npos;
    const bool fit = std::string(f).find("fit") != std::string::npos;
    EXPECT_EQ(lag_list, std::string(f) != "vnormal" && std::string(f) != "fdif" &&
                            std::string(f) != "ucmsim")
        << f;
    if (lag_list) {
      std::string flat = help.out;
      for (char& c : flat)
        if (c == '\n') c = ' ';
      std::string squeezed;
      for (char c : flat)
        if (!(c == ' ' && !squeezed.empty() && squeezed.back() == ' ')) squeezed += c;
      EXPECT_NE(squeezed.find(fit ? "(sorted, repeats dropped, fractions cut off"
                                  : "the i-th smallest lag takes the i-th one"),
                std::string::npos)
          << f;
    }
  }
}

TEST_F(Command, VersionIsTheLibrarys) {
  Result r = mvts("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "mvts " + std::string(mvts::version()) + "\n");
  // major.minor.patch
  int major = -1, minor = -1, patch = -1;
  EXPECT_EQ(std::sscanf(mvts::version(), "%d.%d.%d", &major, &minor, &patch), 3) << mvts::version();
  EXPECT_GE(major, 1);
}

TEST_F(Command, ScriptsKeepVariablesAndContinueStreams) {
  // Seed -7 starts the stream; the call with seed 0 continues it.  Each call
  // draws k * (n + 1) deviates, so the second call's rows are rows 3 and 4
  // of one call of five rows from seed 7.
  write("s.mvts",
        "# streams\n"
        "a = VNORMAL mu=\"0 0\" n=2 seed=-7\n"
        "b = VNORMAL mu=\"0 0\" n=2 seed=0\n"
        "print b\n"
        "write a a.csv\n"
        "let c = @a.csv\n"
        "print c\n"
        "VNORMAL $c\n");  // a 2 x 2 mean: a usage of the module's checks
  Result r = mvts("run s.mvts --format json");
  EXPECT_EQ(r.status, 1);
  const std::vector<json> lines = json_lines(r.out);
  ASSERT_EQ(lines.size(), 5u);  // two assigned calls, two prints, the failing call
  EXPECT_TRUE(lines[0]["outputs"].empty());
  const json b = lines[2]["outputs"][0]["data"];
  const json whole = json::parse(mvts("vnormal '0 0' n=5 seed=7 --format json").out)["outputs"][0]["data"];
  EXPECT_EQ(b[0], whole[3]);
  EXPECT_EQ(b[1], whole[4]);
  EXPECT_EQ(lines[3]["outputs"][0]["data"][1], whole[1]);  // written and read back exactly
  EXPECT_EQ(lines[4]["status"], 100);
  EXPECT_EQ(lines[4]["messages"][0]["number"], 351);
}

TEST_F(Command, FailingLineStopsTheScriptUnlessKeepGoing) {
  const std::string script = "VNORMAL mu='1 2' n=0\nVNORMAL mu='1 2' n=1 seed=5\n";
  Result stop = mvts("run -", script);
  EXPECT_EQ(stop.status, 1);
  EXPECT_EQ(stop.out, "");
  EXPECT_NE(stop.err.find("ERROR: stdin:1: "), std::string::npos) << stop.err;
  Result go = mvts("run - --keep-going", script);
  EXPECT_EQ(go.status, 1);
  EXPECT_EQ(go.out.rfind("series: 1 x 2\n", 0), 0u) << go.out;
}

TEST_F(Command, ScriptWithSyntaxErrorsRunsNothing) {
  write("bad.mvts", "VNORMAL mu='1 2' n=2\nx = NOSUCH 1\nprint $never\n");
  Result r = mvts("run bad.mvts");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("bad.mvts:2: unknown function \"NOSUCH\""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("bad.mvts:3: variable never is used before"), std::string::npos) << r.err;
}

TEST_F(Command, MissingValuesInEachFormat) {
  const std::string script = "let x = \"1 . inf; -inf nan 2\"\nprint x\n";
  EXPECT_EQ(mvts("run - --format csv", script).out, "# x\n1,.,.\n.,.,2\n");
  EXPECT_EQ(mvts("run -", script).out, "x: 2 x 3\n  1  .  .\n  .  .  2\n");
  const json j = json::parse(mvts("run - --format json", script).out);
  EXPECT_EQ(j["outputs"][0]["data"], json::parse("[[1,null,null],[null,null,2]]"));
}

TEST_F(Command, DemoScriptShowsSampleMomentsNearTheModel) {
  Result r = mvts("run '" MVTS_SOURCE_DIR "/examples/demo.mvts' --format json");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<json> lines = json_lines(r.out);
  const json* stats = nullptr;
  for (const json& l : lines)
    if (l.contains("stats")) stats = &l;
  ASSERT_NE(stats, nullptr);
  const json mean = (*stats)["outputs"][0]["data"][0], cov = (*stats)["outputs"][1]["data"];
  // mu = (1, 2), sigma = [1 0.6; 0.6 2], n = 2000: within five standard errors.
  EXPECT_NEAR(mean[0].get<double>(), 1.0, 5 * std::sqrt(1.0 / 2000));
  EXPECT_NEAR(mean[1].get<double>(), 2.0, 5 * std::sqrt(2.0 / 2000));
  EXPECT_NEAR(cov[0][0].get<double>(), 1.0, 5 * std::sqrt(2.0 / 2000));
  EXPECT_NEAR(cov[0][1].get<double>(), 0.6, 5 * std::sqrt(2.36 / 2000));
  EXPECT_NEAR(cov[1][1].get<double>(), 2.0, 5 * std::sqrt(8.0 / 2000));
  EXPECT_EQ(mvts("run '" MVTS_SOURCE_DIR "/examples/demo.mvts'").status, 0);
}

}  // namespace
