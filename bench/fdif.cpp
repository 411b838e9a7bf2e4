// Fractional differencing and the conditional likelihood, with scipy peers.
//   BM_ConvolveDirect / BM_ConvolveFft: the two convolution kernels of the
//     filter on the same weights and series; where they cross sets
//     kFracDiffFftMin (plans cached, as in every call after the first).
//   BM_Fdif: FDIF through the host, n = 10^3 .. 10^6.
//   BM_FarmalikCss: FARMALIK, conditional sum of squares, ARFIMA(1, d, 1).
//   BM_Peer*: scipy on the same data in the same run (bench/peers/fdif_peer.py
//     run by /usr/bin/python3; its best time per call is reported as the
//     iteration time, its CPU time as cpu_ms).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/host.hpp"
#include "module/farma/fft_convolve.hpp"
#include "module/farma/frac_diff.hpp"

namespace {

using mvts::Value;

mvts::Session& session() {
  static mvts::Session s;
  return s;
}

// The series of every benchmark here: x_t = sin(0.01 t) + 0.001 t.
std::vector<double> series(std::int64_t n) {
  std::vector<double> x(n);
  for (std::int64_t t = 0; t < n; ++t) x[t] = std::sin(0.01 * double(t)) + 0.001 * double(t);
  return x;
}

std::vector<double> weights(double d, std::int64_t n) {
  std::vector<double> w(n);
  w[0] = 1;
  for (std::int64_t k = 1; k < n; ++k) w[k] = w[k - 1] * (double(k) - 1 - d) / double(k);
  return w;
}

void BM_ConvolveDirect(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  const std::vector<double> x = series(n), w = weights(0.3, n);
  std::vector<double> out(n), rev(n);
  for (auto _ : state) {
    mvtsa::frac_diff_direct(out.data(), w.data(), x.data(), n, rev.data());
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_ConvolveDirect)->RangeMultiplier(2)->Range(8, 4096)->Arg(10000)
    ->Unit(benchmark::kMicrosecond);

void BM_ConvolveFft(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  const std::vector<double> x = series(n), w = weights(0.3, n);
  std::vector<double> out(n), work(mvtsa::fft_convolve_work_size(n));
  for (auto _ : state) {
    if (!mvtsa::fft_convolve_head(out.data(), w.data(), x.data(), n, work.data()))
      state.SkipWithError("no FFT plan");
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_ConvolveFft)->RangeMultiplier(2)->Range(8, 4096)->Arg(10000)
    ->Unit(benchmark::kMicrosecond);

// FDIF(x, 0.3) and FDIF(x, 0.7) (the second through the differenced form).
void BM_Fdif(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  const double d = state.range(1) / 10.0;
  const std::vector<Value> args = {Value::column(series(n)), Value::scalar(d)};
  for (auto _ : state) {
    auto r = session().call("FDIF", args);
    if (r.status != 0) state.SkipWithError("FDIF failed");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_Fdif)->ArgsProduct({{1000, 10000, 100000, 1000000}, {3}})
    ->Args({100000, 7})->Unit(benchmark::kMillisecond);

// The conditional likelihood of ARFIMA(1, 0.3, 1), phi = 0.5, theta = -0.4.
void BM_FarmalikCss(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  const std::vector<Value> args = {Value::column(series(n)), Value::scalar(0.3),
                                   Value::scalar(0.5),       Value::scalar(-0.4),
                                   Value::omitted(),         Value::omitted(),
                                   Value::omitted(),         Value::scalar(0)};
  for (auto _ : state) {
    auto r = session().call("FARMALIK", args);
    if (r.status != 0) state.SkipWithError("FARMALIK failed");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_FarmalikCss)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

// Runs the scipy peer on the benchmark's series written to a temporary
// file; its best wall time becomes the iteration time.
void run_peer(benchmark::State& state, const std::string& args) {
  const std::int64_t n = state.range(0);
  char path[] = "/tmp/bench_fdif_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    state.SkipWithError("no temporary file");
    return;
  }
  const std::vector<double> x = series(n);
  const bool written = write(fd, x.data(), sizeof(double) * x.size()) ==
                       ssize_t(sizeof(double) * x.size());
  close(fd);
  const int reps = n >= 1000000 ? 3 : n >= 100000 ? 10 : 50;
  const std::string cmd = "/usr/bin/python3 " MVTS_SOURCE_DIR "/bench/peers/fdif_peer.py " +
                          args.substr(0, args.find(' ')) + " " + path +
                          args.substr(args.find(' ')) + " " + std::to_string(reps);
  double wall = 0, cpu = 0;
  FILE* p = written ? popen(cmd.c_str(), "r") : nullptr;
  const bool ok = p && std::fscanf(p, "%lf %lf", &wall, &cpu) == 2;
  if (p) pclose(p);
  unlink(path);
  if (!ok) {
    state.SkipWithError("the scipy peer did not run");
    return;
  }
  for (auto _ : state) state.SetIterationTime(wall);
  state.counters["cpu_ms"] = cpu * 1e3;
}

void BM_PeerScipyFdif(benchmark::State& state) {
  run_peer(state, "fftconvolve " + std::to_string(state.range(1) / 10.0));
}
BENCHMARK(BM_PeerScipyFdif)->ArgsProduct({{1000, 10000, 100000, 1000000}, {3}})
    ->Args({100000, 7})->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_PeerScipyCss(benchmark::State& state) { run_peer(state, "css 0.3 0.5 -0.4"); }
BENCHMARK(BM_PeerScipyCss)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000)
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("OPENBLAS_NUM_THREADS", "1", 0);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
