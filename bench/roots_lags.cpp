// Characteristic roots of high-order polynomials.
//
// 1. One 2 x 2 block at a distant lag p (VTSROOT phi="0.5 0.1; 0.1 0.5"
//    p=...): VTSROOT through the host, and companion_roots, which goes
//    through the polynomial in z^p (a 2 x 2 eigenvalue problem and 2p
//    roots), against LAPACK dgeev on the full 2p x 2p companion matrix, the
//    computation it replaces.  Target: under 10 ms at p = 1000.
// 2. General lag lists (no common factor: blocks at lags 1, 2 and p) of a
//    2 x 2 model, AR order p = 250, 500 and 1000 (companion order 500, 1000
//    and 2000): companion_roots (the module's eigenvalue routine on the full
//    companion matrix) against dgeev on the same matrix.
//
// dgeev is the LAPACK linked with the tests (OpenBLAS), on one thread.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "host/host.hpp"
#include "module/frame/host.hpp"
#include "module/linalg/companion_roots.hpp"

extern "C" void dgeev_(const char* jobvl, const char* jobvr, const int* n, double* a,
                       const int* lda, double* wr, double* wi, double* vl, const int* ldvl,
                       double* vr, const int* ldvr, double* work, const int* lwork, int* info,
                       std::size_t, std::size_t);

namespace {

using mvts::Value;

class HostScope {
 public:
  HostScope() {
    h_.activate();
    mvtsa::set_host_table(h_.table());
  }

 private:
  mvts::Host h_;
};

// p blocks of 2 x 2 (row-major, block j at lag j + 1): the block
// [0.5 0.1; 0.1 0.5] at lag p alone, or scaled blocks at lags 1, 2 and p.
std::vector<double> lagged(int p, bool general) {
  std::vector<double> c(4 * std::size_t(p), 0.0);
  const double last[4] = {0.5, 0.1, 0.1, 0.5};
  std::memcpy(c.data() + 4 * std::size_t(p - 1), last, sizeof last);
  if (general) {
    const double b1[4] = {0.2, 0.05, -0.05, 0.1}, b2[4] = {0.1, 0.0, 0.02, -0.1};
    for (int i = 0; i < 4; ++i) {
      c[i] = b1[i];
      c[4 + i] = b2[i];
      c[4 * std::size_t(p - 1) + i] *= 0.5;
    }
  }
  return c;
}

// The full companion matrix of the blocks, column-major for dgeev.
std::vector<double> companion_colmajor(const std::vector<double>& c, int k, int p) {
  const int m = k * p;
  std::vector<double> a(std::size_t(m) * m, 0.0);
  for (int i = 0; i < k; ++i)
    for (int j = 0; j < p; ++j)
      for (int l = 0; l < k; ++l)
        a[std::size_t(j * k + l) * m + i] = c[std::size_t(j) * k * k + i * k + l];
  for (int j = 0; j < m - k; ++j) a[std::size_t(j) * m + k + j] = 1.0;
  return a;
}

// dgeev, eigenvalues only, on a fresh copy of `a` each iteration.
void run_dgeev(benchmark::State& state, const std::vector<double>& a, int m) {
  std::vector<double> copy(a.size()), wr(m), wi(m);
  int lwork = -1, info = 0, one = 1;
  double query = 0.0, dummy = 0.0;
  dgeev_("N", "N", &m, copy.data(), &m, wr.data(), wi.data(), &dummy, &one, &dummy, &one, &query,
         &lwork, &info, 1, 1);
  lwork = static_cast<int>(query);
  std::vector<double> work(lwork);
  for (auto _ : state) {
    std::memcpy(copy.data(), a.data(), sizeof(double) * a.size());
    dgeev_("N", "N", &m, copy.data(), &m, wr.data(), wi.data(), &dummy, &one, &dummy, &one,
           work.data(), &lwork, &info, 1, 1);
    if (info != 0) state.SkipWithError("dgeev failed");
    benchmark::DoNotOptimize(wr.data());
  }
  state.counters["order"] = m;
}

void run_companion_roots(benchmark::State& state, const std::vector<double>& c, int k, int p) {
  HostScope host;
  std::vector<double> copy(c.size()), roots(2 * std::size_t(k) * p);
  std::vector<double> work(mvtsa::companion_roots_work(c.data(), k, p));
  for (auto _ : state) {
    std::memcpy(copy.data(), c.data(), sizeof(double) * c.size());
    if (mvtsa::companion_roots(copy.data(), k, p, roots.data(), work.data()) !=
        mvtsa::kCompanionRootsOk)
      state.SkipWithError("companion_roots failed");
    benchmark::DoNotOptimize(roots.data());
  }
  state.counters["order"] = k * p;
}

// 1. One block at lag p.
void BM_VtsrootDistantLag(benchmark::State& state) {
  const int p = static_cast<int>(state.range(0));
  mvts::Session s;
  const std::vector<Value> args = {Value::matrix(2, 2, {0.5, 0.1, 0.1, 0.5}), Value::omitted(),
                                   Value::scalar(p)};
  for (auto _ : state) {
    auto r = s.call("VTSROOT", args);
    if (r.status != 0) state.SkipWithError("VTSROOT failed");
    benchmark::DoNotOptimize(r.outputs[0]->data.data());
  }
}
BENCHMARK(BM_VtsrootDistantLag)->Arg(100)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_CompanionRootsDistantLag(benchmark::State& state) {
  const int p = static_cast<int>(state.range(0));
  run_companion_roots(state, lagged(p, false), 2, p);
}
BENCHMARK(BM_CompanionRootsDistantLag)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_DgeevDistantLag(benchmark::State& state) {
  const int p = static_cast<int>(state.range(0));
  run_dgeev(state, companion_colmajor(lagged(p, false), 2, p), 2 * p);
}
BENCHMARK(BM_DgeevDistantLag)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

// 2. General lag lists.
void BM_CompanionRootsGeneralLags(benchmark::State& state) {
  const int p = static_cast<int>(state.range(0));
  run_companion_roots(state, lagged(p, true), 2, p);
}
BENCHMARK(BM_CompanionRootsGeneralLags)->Arg(250)->Arg(500)->Arg(1000)
    ->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_DgeevGeneralLags(benchmark::State& state) {
  const int p = static_cast<int>(state.range(0));
  run_dgeev(state, companion_colmajor(lagged(p, true), 2, p), 2 * p);
}
BENCHMARK(BM_DgeevGeneralLags)->Arg(250)->Arg(500)->Arg(1000)
    ->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
