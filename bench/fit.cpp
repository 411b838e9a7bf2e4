// VARMAFIT and FARMAFIT: seconds per fit, the maximised log-likelihood, and
// the optimizer's evaluations per fit.  The module runs in this process (the
// host attaches its mcn_main), so the fits' own report of their optimizer
// runs can be read after each call.
//
// VARMAFIT cases come from MVTS_FIT_CASES, a folder written by
// bench/varmafit_vs_statsmodels.py (which also times statsmodels' VARMAX on
// the same series and prints the comparison table); without it, one
// simulated VARMA(1, 1) with k = 2 and T = 500.  A case file holds a line
// "name k T P Q" and then T rows of k values.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "abi/mcn_abi.h"
#include "host/host.hpp"
#include "module/fit/optimizer_bridge.hpp"
#include "tests/fit/simulate.hpp"

extern "C" void* mcn_main(const mcn_host_table* table, void* second);

namespace {

using mvts::Value;

struct Case {
  std::string name;
  int k = 2, T = 0, P = 0, Q = 0;
  std::vector<double> y;
};

std::vector<Case> load_cases() {
  std::vector<Case> out;
  const char* dir = std::getenv("MVTS_FIT_CASES");
  if (!dir) {
    const double phi[4] = {0.5, 0.1, -0.2, 0.3}, theta[4] = {-0.4, 0.0, 0.2, 0.3};
    const double c[3] = {1.0, 0.3, 0.8};
    out.push_back({"sim_k2_varma11_T500", 2, 500, 1, 1, fit_test::varma11(phi, theta, c, 500, 21)});
    return out;
  }
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".txt") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    std::ifstream in(f);
    Case c;
    in >> c.name >> c.k >> c.T >> c.P >> c.Q;
    c.y.resize(std::size_t(c.k) * c.T);
    for (double& v : c.y) in >> v;
    if (in) out.push_back(std::move(c));
  }
  return out;
}

Value lag_list(int n) {
  std::vector<double> l;
  for (int i = 1; i <= n; ++i) l.push_back(i);
  return n > 0 ? Value::row(l) : Value::omitted();
}

void BM_Varmafit(benchmark::State& state, const Case* c) {
  mvts::Host host;
  if (!host.attach(mcn_main)) {
    state.SkipWithError("the module could not be attached");
    return;
  }
  const Value y = Value::matrix(c->T, c->k, c->y);
  const std::vector<Value> args = {y, lag_list(c->P), lag_list(c->Q)};
  mvts::CallResult r;
  mvtsa::FitReport report;
  for (auto _ : state) {
    r = host.call("VARMAFIT", args);
    report = mvtsa::fit_report();
    if (r.status != 0) {
      state.SkipWithError("VARMAFIT failed");
      return;
    }
  }
  // The log-likelihood at the fit by VARMALIK, without -(T k / 2) log 2 pi.
  std::vector<Value> lik = {y, c->P > 0 ? Value::matrix(*r.outputs[0]) : Value::omitted(),
                            c->Q > 0 ? Value::matrix(*r.outputs[1]) : Value::omitted(),
                            Value::matrix(*r.outputs[2]), lag_list(c->P), lag_list(c->Q)};
  auto l = host.call("VARMALIK", lik);
  state.counters["loglik"] = l.status == 0 ? l.outputs[0]->at(0, 0) : std::nan("");
  state.counters["evaluations"] = report.evaluations;
  state.counters["gradient_evaluations"] = report.gradient_evaluations;
  state.counters["iterations"] = report.iterations;
}

// ARFIMA(1, d, 1) with d = 0.3, phi = -0.5, theta = 0.3.  Arguments: n,
// method (0 conditional sum of squares, 1 exact), gradient (1: the analytic
// gradients, 0: values only, the optimizer differencing, as before them).
// loglik is FARMALIK at the estimates (the fit's own objective).
void BM_Farmafit(benchmark::State& state) {
  mvts::Host host;
  if (!host.attach(mcn_main)) {
    state.SkipWithError("the module could not be attached");
    return;
  }
  const int n = int(state.range(0)), method = int(state.range(1));
  mvtsa::fit_settings().analytic_gradients = state.range(2) != 0;
  const Value y = Value::column(fit_test::arfima11(0.3, -0.5, 0.3, n, 7));
  mvts::CallResult r;
  mvtsa::FitReport report;
  for (auto _ : state) {
    r = host.call("FARMAFIT", {y, Value::scalar(1), Value::scalar(1), Value::scalar(method)});
    report = mvtsa::fit_report();
    if (r.status != 0) {
      state.SkipWithError("FARMAFIT failed");
      return;
    }
  }
  state.counters["d"] = r.outputs[0]->at(0, 0);
  state.counters["ar"] = r.outputs[1]->at(0, 0);
  state.counters["ma"] = r.outputs[2]->at(0, 0);
  state.counters["sigma2"] = r.outputs[3]->at(0, 0);
  auto l = host.call("FARMALIK", {y, Value::matrix(*r.outputs[0]), Value::matrix(*r.outputs[1]),
                                  Value::matrix(*r.outputs[2]), Value::matrix(*r.outputs[3]),
                                  Value::omitted(), Value::omitted(), Value::scalar(method)});
  state.counters["loglik"] = l.status == 0 ? l.outputs[0]->at(0, 0) : std::nan("");
  state.counters["analytic"] = report.analytic;
  mvtsa::fit_settings() = mvtsa::FitSettings{};
  state.counters["runs"] = report.runs;
  state.counters["evaluations"] = report.evaluations + report.extra_evaluations;
  state.counters["gradient_evaluations"] = report.gradient_evaluations;
  state.counters["evaluations_first_run"] = report.run_evaluations[0];
  state.counters["second_start_won"] = report.second_start_won;
}
BENCHMARK(BM_Farmafit)
    ->ArgsProduct({{2000, 10000}, {0}, {0, 1}})
    ->ArgsProduct({{200, 300, 2000}, {1}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
// The exact fit at n = 1e4: one fit per run (seconds on values only).
BENCHMARK(BM_Farmafit)
    ->ArgsProduct({{10000}, {1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// VARMAFIT at one distant lag, k = 2, T = 2000 (a VAR(1) series): the AR
// block at lag L alone (argument L), or with argument -L the MA block at lag
// L alone.  The state dimension is 2 L (2 (L + 1)), while the transition has
// one nonzero block: the cost of a distant lag against lag 1 is the target
// (p = 52 within ten times p = 1).
void BM_VarmafitDistantLag(benchmark::State& state) {
  mvts::Host host;
  if (!host.attach(mcn_main)) {
    state.SkipWithError("the module could not be attached");
    return;
  }
  const double phi[4] = {0.5, 0.1, 0.0, 0.3}, none[4] = {0, 0, 0, 0}, c[3] = {1.0, 0.0, 1.0};
  const Value y = Value::matrix(2000, 2, fit_test::varma11(phi, none, c, 2000, 1));
  const long lag = state.range(0);
  const Value l = Value::scalar(double(lag < 0 ? -lag : lag));
  const std::vector<Value> args = {y, lag > 0 ? l : Value::omitted(),
                                   lag < 0 ? l : Value::omitted()};
  mvtsa::FitReport report;
  for (auto _ : state) {
    if (host.call("VARMAFIT", args).status != 0) {
      state.SkipWithError("VARMAFIT failed");
      return;
    }
    report = mvtsa::fit_report();
  }
  state.counters["evaluations"] = report.evaluations;
}
BENCHMARK(BM_VarmafitDistantLag)
    ->Arg(1)
    ->Arg(25)
    ->Arg(52)
    ->Arg(-50)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// VARMAFIT with every AR lag 1 .. P, k = 2, T = 2000 (the series of
// BM_VarmafitDistantLag): 4 P + 3 parameters, the state of dimension 2 P.
void BM_VarmafitManyLags(benchmark::State& state) {
  mvts::Host host;
  if (!host.attach(mcn_main)) {
    state.SkipWithError("the module could not be attached");
    return;
  }
  const double phi[4] = {0.5, 0.1, 0.0, 0.3}, none[4] = {0, 0, 0, 0}, c[3] = {1.0, 0.0, 1.0};
  const Value y = Value::matrix(2000, 2, fit_test::varma11(phi, none, c, 2000, 1));
  std::vector<double> lags;
  for (long l = 1; l <= state.range(0); ++l) lags.push_back(double(l));
  const std::vector<Value> args = {y, Value::column(lags)};
  mvtsa::FitReport report;
  for (auto _ : state) {
    if (host.call("VARMAFIT", args).status != 0) {
      state.SkipWithError("VARMAFIT failed");
      return;
    }
    report = mvtsa::fit_report();
  }
  state.counters["evaluations"] = report.evaluations + report.extra_evaluations;
}
BENCHMARK(BM_VarmafitManyLags)->Arg(12)->Unit(benchmark::kMillisecond)->Iterations(1);

const std::vector<Case>& cases() {
  static const std::vector<Case> c = load_cases();
  return c;
}

const int kRegistered = [] {
  for (const Case& c : cases())
    benchmark::RegisterBenchmark(("BM_Varmafit/" + c.name).c_str(), BM_Varmafit, &c)
        ->Unit(benchmark::kMillisecond);
  return 0;
}();

}  // namespace

BENCHMARK_MAIN();
