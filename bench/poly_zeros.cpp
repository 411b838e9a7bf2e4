// Zeros of a scalar polynomial of degree n with zeros near the unit circle
// and no common power factor, (z^n1 - 0.999^n1)(z^n2 - 1.001^n2): the
// Jenkins-Traub stages alone (poly_roots), with the polishing of poly_zeros,
// and LAPACK dgeev on the companion matrix (what numpy.roots does), on one
// thread.  The counter modulus_error is the largest distance of a zero's
// modulus from its circle.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "module/farma/poly_roots.hpp"

extern "C" void dgeev_(const char* jobvl, const char* jobvr, const int* n, double* a,
                       const int* lda, double* wr, double* wi, double* vl, const int* ldvl,
                       double* vr, const int* ldvr, double* work, const int* lwork, int* info,
                       std::size_t, std::size_t);

namespace {

// (z^n1 - 0.999^n1)(z^n2 - 1.001^n2), n1 + n2 = n,
// n1 and n2 coprime, highest power first.
std::vector<double> two_circles(int n) {
  const int n1 = n / 2 + 1, n2 = n - n1;
  const double a1 = std::pow(0.999, n1), a2 = std::pow(1.001, n2);
  std::vector<double> c(n + 1, 0.0);
  c[0] = 1;
  c[n - n1] -= a2;
  c[n - n2] -= a1;
  c[n] += a1 * a2;
  return c;
}

void run_poly(benchmark::State& state, bool polish) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> c = two_circles(n);
  std::vector<double> re(n), im(n), work(mvtsa::poly_roots_work_size(n));
  for (auto _ : state) {
    int degree = n;
    const int code = polish ? mvtsa::poly_zeros(c.data(), &degree, re.data(), im.data(), work.data())
                            : mvtsa::poly_roots(c.data(), &degree, re.data(), im.data(), work.data());
    benchmark::DoNotOptimize(code);
    benchmark::DoNotOptimize(re.data());
  }
  // Largest distance of a zero's modulus from its circle.
  double worst = 0.0;
  for (int i = 0; i < n; ++i) {
    const double m = std::hypot(re[i], im[i]);
    worst = std::max(worst, std::min(std::fabs(m - 0.999), std::fabs(m - 1.001)));
  }
  state.counters["modulus_error"] = worst;
}

void BM_PolyRootsDeflation(benchmark::State& state) { run_poly(state, false); }
void BM_PolyZerosPolished(benchmark::State& state) { run_poly(state, true); }
BENCHMARK(BM_PolyRootsDeflation)->Arg(30)->Arg(100)->Arg(500)->Arg(1000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PolyZerosPolished)->Arg(30)->Arg(100)->Arg(500)->Arg(1000)
    ->Unit(benchmark::kMillisecond);

void BM_DgeevPolynomial(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> c = two_circles(n);
  std::vector<double> a(std::size_t(n) * n, 0.0);  // column-major companion
  for (int j = 0; j < n; ++j) a[std::size_t(j) * n] = -c[j + 1];
  for (int i = 1; i < n; ++i) a[std::size_t(i - 1) * n + i] = 1.0;
  std::vector<double> copy(a.size()), wr(n), wi(n);
  int lwork = -1, info = 0, one = 1;
  double query = 0.0, dummy = 0.0;
  dgeev_("N", "N", &n, copy.data(), &n, wr.data(), wi.data(), &dummy, &one, &dummy, &one, &query,
         &lwork, &info, 1, 1);
  lwork = static_cast<int>(query);
  std::vector<double> work(lwork);
  for (auto _ : state) {
    std::memcpy(copy.data(), a.data(), sizeof(double) * a.size());
    dgeev_("N", "N", &n, copy.data(), &n, wr.data(), wi.data(), &dummy, &one, &dummy, &one,
           work.data(), &lwork, &info, 1, 1);
    if (info != 0) state.SkipWithError("dgeev failed");
    benchmark::DoNotOptimize(wr.data());
  }
}
BENCHMARK(BM_DgeevPolynomial)->Arg(30)->Arg(100)->Arg(500)->Arg(1000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
