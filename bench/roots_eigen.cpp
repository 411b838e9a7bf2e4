// general_eigenvalues against LAPACK's dgeev (eigenvalues only, no
// eigenvectors) on companion matrices of random scalar AR polynomials of
// orders 10, 50 and 200.  Both get a fresh copy of the same matrix on every
// iteration (the copy is timed in both).  Report: the ratio of the two
// times per order; target no slower than dgeev at order 10 and within 2x at
// order 200.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "module/linalg/general_eigenvalues.hpp"

extern "C" void dgeev_(const char* jobvl, const char* jobvr, const int* n, double* a,
                       const int* lda, double* wr, double* wi, double* vl, const int* ldvl,
                       double* vr, const int* ldvr, double* work, const int* lwork, int* info,
                       std::size_t, std::size_t);

namespace {

// Companion matrix (row-major) of 1 - phi_1 z - ... - phi_n z^n with
// coefficients scaled so that the roots lie near the unit circle.
std::vector<double> companion(int n) {
  std::mt19937_64 rng(42 + n);
  std::normal_distribution<double> z;
  std::vector<double> c(std::size_t(n) * n, 0.0);
  for (int j = 0; j < n; ++j) c[j] = 0.5 / std::sqrt(double(n)) * z(rng);
  for (int j = 0; j + 1 < n; ++j) c[std::size_t(j + 1) * n + j] = 1.0;
  return c;
}

void BM_general_eigenvalues(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> c = companion(n);
  std::vector<double> a(c.size()), wr(n), wi(n), work(mvtsa::general_eigenvalues_work(n));
  for (auto _ : state) {
    std::memcpy(a.data(), c.data(), sizeof(double) * c.size());
    const int st = mvtsa::general_eigenvalues(n, a.data(), n, wr.data(), wi.data(), work.data());
    if (st != 0) state.SkipWithError("general_eigenvalues failed");
    benchmark::DoNotOptimize(wr.data());
  }
}

void BM_dgeev(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> c = companion(n);
  std::vector<double> a(c.size()), wr(n), wi(n);
  int lwork = -1, info = 0, one = 1;
  double query = 0.0, dummy = 0.0;
  dgeev_("N", "N", &n, a.data(), &n, wr.data(), wi.data(), &dummy, &one, &dummy, &one, &query,
         &lwork, &info, 1, 1);
  lwork = static_cast<int>(query);
  std::vector<double> work(lwork);
  for (auto _ : state) {
    std::memcpy(a.data(), c.data(), sizeof(double) * c.size());
    dgeev_("N", "N", &n, a.data(), &n, wr.data(), wi.data(), &dummy, &one, &dummy, &one,
           work.data(), &lwork, &info, 1, 1);
    if (info != 0) state.SkipWithError("dgeev failed");
    benchmark::DoNotOptimize(wr.data());
  }
}

}  // namespace

BENCHMARK(BM_general_eigenvalues)->Arg(10)->Arg(50)->Arg(200);
BENCHMARK(BM_dgeev)->Arg(10)->Arg(50)->Arg(200);
BENCHMARK_MAIN();
