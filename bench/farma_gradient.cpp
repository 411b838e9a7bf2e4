// The cost of the ARFIMA likelihood gradients against one value, on the
// kernels alone (farma_loglik against farma_loglik_gradient, the same
// series and model): ARFIMA(1, d, 1) with d = 0.3, phi = -0.5, theta = 0.3,
// at n = 2000 and 1e4.  Arguments: n, method (0 conditional, 1 exact),
// gradient (0 value, 1 value and gradient).  The ratio of the two times is
// what bench/farma_gradient.md reports (targets: 2.5 conditional, 2 exact).
#include <benchmark/benchmark.h>

#include <vector>

#include "host/host.hpp"
#include "module/farma/farma_gradient.hpp"
#include "module/farma/farma_loglik.hpp"
#include "module/frame/host.hpp"
#include "tests/fit/simulate.hpp"

namespace {

void BM_FarmaLoglik(benchmark::State& state) {
  mvts::Host host;
  host.activate();
  mvtsa::set_host_table(host.table());
  const std::int64_t n = state.range(0);
  const int method = int(state.range(1));
  const bool gradient = state.range(2) != 0;
  const auto y = fit_test::arfima11(0.3, -0.5, 0.3, int(n), 7);
  const double ar[2] = {1.0, 0.5}, ma[2] = {1.0, -0.3};  // phi = -0.5, theta = 0.3
  std::vector<double> work(mvtsa::farma_gradient_work_size(n, 1, 1, method)), grad(6);
  for (auto _ : state) {
    const int st = gradient ? mvtsa::farma_loglik_gradient(work.data(), y.data(), n, 0.3, 1, 1,
                                                           ar, ma, 1.0, method, grad.data())
                            : mvtsa::farma_loglik(work.data(), y.data(), n, 0.3, 1, 1, ar, ma,
                                                  1.0, method);
    if (st != 0) {
      state.SkipWithError("the likelihood failed");
      return;
    }
    benchmark::DoNotOptimize(work[0]);
  }
  state.counters["loglik"] = work[0];
}
BENCHMARK(BM_FarmaLoglik)
    ->ArgsProduct({{2000, 10000}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
