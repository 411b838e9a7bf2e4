// VARMA statistics: seconds for the forecasts with their MSE matrices and
// intervals (VARMAFCST) and for the observed information with the standard
// errors (VARMAINFO) of a VARMA(1,1), k = 3, T = 1000, through the session as
// a user calls them; bench/varma_stats_peer.py times statsmodels' VARMAX on
// the same series and model and prints the ratio.
//
//   bench_varma_stats --series FILE.csv   (T x 3, written by the peer script)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/host.hpp"

namespace {

using mvts::Value;

// The model of bench/varma_stats_peer.py.
const std::vector<double> kPhi = {0.375, 0.125, -0.0625, 0.0625, 0.25, 0.125, -0.125, 0.0, 0.5};
const std::vector<double> kTheta = {0.25, 0.0, 0.125, -0.125, 0.375, 0.0, 0.0, 0.25, -0.5};
const std::vector<double> kSigma = {1.5, 0.25, -0.5, 0.25, 1.0, 0.125, -0.5, 0.125, 2.0};

std::string g_series_path;

// The T x 3 series from the CSV file.
std::vector<double> read_series(const std::string& path, int* T) {
  std::ifstream in(path);
  std::vector<double> v;
  std::string line;
  *T = 0;
  while (std::getline(in, line)) {
    std::stringstream row(line);
    std::string cell;
    while (std::getline(row, cell, ',')) v.push_back(std::stod(cell));
    ++*T;
  }
  return v;
}

std::vector<Value> model_args(const std::vector<double>& y, int T) {
  return {Value::matrix(T, 3, y), Value::matrix(3, 3, kPhi), Value::matrix(3, 3, kTheta),
          Value::matrix(3, 3, kSigma)};
}

void BM_VarmaForecast(benchmark::State& st) {
  int T = 0;
  const std::vector<double> y = read_series(g_series_path, &T);
  mvts::Session s;
  std::vector<Value> args = model_args(y, T);
  args.push_back(Value::omitted());
  args.push_back(Value::omitted());
  args.push_back(Value::scalar(double(st.range(0))));
  for (auto _ : st) {
    auto r = s.call("VARMAFCST", args);
    if (r.status != 0) st.SkipWithError("VARMAFCST failed");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_VarmaForecast)->Arg(12)->Unit(benchmark::kMillisecond);

void BM_VarmaInfo(benchmark::State& st) {
  int T = 0;
  const std::vector<double> y = read_series(g_series_path, &T);
  mvts::Session s;
  const std::vector<Value> args = model_args(y, T);
  for (auto _ : st) {
    auto r = s.call("VARMAINFO", args);
    if (r.status != 0) st.SkipWithError("VARMAINFO failed");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_VarmaInfo)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--series") == 0 && i + 1 < argc) {
      g_series_path = argv[++i];
      continue;
    }
    rest.push_back(argv[i]);
  }
  if (g_series_path.empty()) {
    std::fprintf(stderr, "usage: bench_varma_stats --series FILE.csv [benchmark options]\n");
    return 2;
  }
  int n = int(rest.size());
  benchmark::Initialize(&n, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
