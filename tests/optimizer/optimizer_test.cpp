// The optimizer module orvnlbrg, driven through the bridge exactly as the
// fitting functions drive it: known minima, failure regions on the path,
// active bounds, a failing start, determinism, and the bridge's load paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "host/host.hpp"
#include "module/frame/host.hpp"
#include "module/fit/optimizer_bridge.hpp"

namespace {

using mvtsa::BridgeCall;
using mvtsa::BridgeStats;

// An objective with its bookkeeping: every point the optimizer asked for.
struct Problem {
  std::function<bool(const std::vector<double>&, double*)> f;  // false: failed
  // The gradient where the objective gives one (false: it gives none here).
  std::function<bool(const std::vector<double>&, double*)> grad;
  int gradients_asked = 0;
  int gradients_given = 0;
  std::vector<double> lower, upper;  // empty: unbounded
  std::vector<std::vector<double>> points;
  std::vector<double> values;
  int failed = 0;
  int outside = 0;
  std::vector<unsigned char> options_seen, caller_seen;  // records at the first call
};

int callback(void* args) {
  void* ctx = mvtsa::bridge_context(args);
  auto* p = mvtsa::context_word<Problem*>(ctx, nlbrg::kCtxData);
  const int n = mvtsa::context_word<std::int32_t>(ctx, nlbrg::kCtxCount);
  const double* x = mvtsa::context_word<double*>(ctx, nlbrg::kCtxParams);
  if (p->points.empty()) {
    auto* o = mvtsa::context_word<unsigned char*>(ctx, nlbrg::kCtxOptions);
    auto* c = mvtsa::context_word<unsigned char*>(ctx, nlbrg::kCtxCaller);
    p->options_seen.assign(o, o + nlbrg::kOptionBytes);
    p->caller_seen.assign(c, c + nlbrg::kCallerBytes);
  }
  std::vector<double> v(x, x + n);
  for (int i = 0; i < n && !p->lower.empty(); ++i)
    if (v[i] < p->lower[i] || v[i] > p->upper[i]) ++p->outside;
  p->points.push_back(v);
  double f = 0.0;
  if (!p->f(v, &f)) {
    ++p->failed;
    p->values.push_back(std::numeric_limits<double>::quiet_NaN());
    mvtsa::bridge_report_failure(args, std::numeric_limits<double>::quiet_NaN());
    return 1;
  }
  p->values.push_back(f);
  mvtsa::bridge_report_value(args, f);
  if (double* g = mvtsa::bridge_gradient_wanted(args)) {
    ++p->gradients_asked;
    if (p->grad && p->grad(v, g)) {
      ++p->gradients_given;
      mvtsa::bridge_report_gradient(args);
    }
  }
  return 0;
}

std::size_t distinct(std::vector<std::vector<double>> points) {
  std::sort(points.begin(), points.end());
  return std::size_t(std::unique(points.begin(), points.end()) - points.begin());
}

double rosenbrock(const std::vector<double>& x) {
  double f = 0.0;
  for (std::size_t i = 0; i + 1 < x.size(); ++i)
    f += 100.0 * std::pow(x[i + 1] - x[i] * x[i], 2) + std::pow(1.0 - x[i], 2);
  return f;
}

void rosenbrock_gradient(const std::vector<double>& x, double* g) {
  for (std::size_t i = 0; i < x.size(); ++i) g[i] = 0.0;
  for (std::size_t i = 0; i + 1 < x.size(); ++i) {
    const double r = x[i + 1] - x[i] * x[i];
    g[i] += -400.0 * x[i] * r - 2.0 * (1.0 - x[i]);
    g[i + 1] += 200.0 * r;
  }
}

class OptimizerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.activate();
    mvtsa::set_host_table(host_.table());
  }
  void TearDown() override { EXPECT_EQ(host_.live_blocks(), 0); }

  // One bridge run in a fresh 544-byte context; x is start in, result out.
  int run(Problem& p, std::vector<double>& x, BridgeCall call = {}, void* preset_handle = nullptr) {
    mvtsa::WorkBlock<unsigned char> ctx(nlbrg::kContextBytes);
    EXPECT_TRUE(ctx);
    void* c = ctx.data();
    mvtsa::set_context_word<std::int32_t>(c, nlbrg::kCtxCount, std::int32_t(x.size()));
    mvtsa::set_context_word<double*>(c, nlbrg::kCtxParams, x.data());
    mvtsa::set_context_word<Problem*>(c, nlbrg::kCtxData, &p);
    mvtsa::set_context_word<void*>(c, nlbrg::kCtxHostWord, mvtsa::host_context_word());
    if (!p.lower.empty()) {
      mvtsa::set_context_word<double*>(c, nlbrg::kCtxLower, p.lower.data());
      mvtsa::set_context_word<double*>(c, nlbrg::kCtxUpper, p.upper.data());
      call.caller = mvtsa::FitCaller::kFarmafit;
    }
    mvtsa::set_context_word<void*>(c, nlbrg::kCtxHandle, preset_handle);
    call.objective = callback;
    return mvtsa::optimizer_bridge(c, call);
  }

  mvts::Host host_;
};

// Rosenbrock from the classical start; evaluations fail where x_0 > 1.1,
// which a quasi-Newton trial step near the end of the valley reaches.
TEST_F(OptimizerTest, Rosenbrock2WithFailureRegion) {
  Problem p;
  p.f = [](const std::vector<double>& x, double* f) {
    if (x[0] > 1.1) return false;
    *f = rosenbrock(x);
    return true;
  };
  std::vector<double> x = {-1.2, 1.0};
  BridgeStats st;
  BridgeCall call;
  call.stats = &st;
  const int code = run(p, x, call);
  EXPECT_GE(code, 0);
  EXPECT_LE(code, nlbrg::kConvergedFunction);
  EXPECT_NEAR(x[0], 1.0, 1e-5);
  EXPECT_NEAR(x[1], 1.0, 1e-5);
  EXPECT_GE(p.failed, 1);
  // The optimizer's own counts agree with the objective's.
  EXPECT_EQ(st.evaluations, int(p.points.size()));
  EXPECT_EQ(st.failed, p.failed);
  EXPECT_EQ(st.code, code);
  EXPECT_EQ(st.value, rosenbrock(x));
  // The returned point is the best evaluated, and no point is evaluated twice.
  double best = std::numeric_limits<double>::infinity();
  for (double v : p.values)
    if (!std::isnan(v)) best = std::min(best, v);
  EXPECT_EQ(rosenbrock(x), best);
  EXPECT_EQ(distinct(p.points), p.points.size());
  EXPECT_LT(rosenbrock(x), 1e-9);
  EXPECT_GT(st.gradient_evaluations, 0);
  EXPECT_LT(st.gradient_evaluations, st.evaluations);
}

TEST_F(OptimizerTest, Rosenbrock10WithFailureRegion) {
  Problem p;
  p.f = [](const std::vector<double>& x, double* f) {
    if (x[1] < -0.03) return false;  // crossed on the way into the valley
    *f = rosenbrock(x);
    return true;
  };
  std::vector<double> x(10);
  for (int i = 0; i < 10; ++i) x[i] = i % 2 == 0 ? -1.2 : 1.0;
  const int code = run(p, x);
  EXPECT_GE(code, 0);
  EXPECT_LE(code, nlbrg::kConvergedFunction);
  for (double v : x) EXPECT_NEAR(v, 1.0, 1e-4);
  EXPECT_GE(p.failed, 1);
}

// A value that is not finite counts as a failed evaluation even when the
// callback reports success.
TEST_F(OptimizerTest, NonFiniteValueIsAFailure) {
  Problem p;
  p.f = [](const std::vector<double>& x, double* f) {
    *f = x[0] > 1.1 ? std::numeric_limits<double>::infinity() : rosenbrock(x);
    return true;
  };
  std::vector<double> x = {-1.2, 1.0};
  BridgeStats st;
  BridgeCall call;
  call.stats = &st;
  EXPECT_GE(run(p, x, call), 0);
  EXPECT_GE(st.failed, 1);
  EXPECT_EQ(p.failed, 0);
  EXPECT_NEAR(x[0], 1.0, 1e-5);
}

// min (x0 - 2)^2 + (x1 - 0.5)^2 + 0.5 x0 x1 on [-1, 1]^2: the free minimum
// (2, 0) lies outside; the bounded one is x0 = 1, x1 = 0.5 - 0.25 = 0.25.
TEST_F(OptimizerTest, BoundActiveOptimumEndsOnTheBound) {
  Problem p;
  p.f = [](const std::vector<double>& x, double* f) {
    *f = std::pow(x[0] - 2, 2) + std::pow(x[1] - 0.5, 2) + 0.5 * x[0] * x[1];
    return true;
  };
  p.lower = {-1, -1};
  p.upper = {1, 1};
  for (std::vector<double> x : {std::vector<double>{0, 0}, std::vector<double>{5, -7}}) {
    const bool start_outside = x[0] > 1;
    p.points.clear();
    const int code = run(p, x);
    EXPECT_GE(code, 0);
    EXPECT_EQ(x[0], 1.0);  // exactly on the bound
    EXPECT_NEAR(x[1], 0.25, 1e-6);
    EXPECT_EQ(p.outside, 0);
    if (start_outside) {  // clamped into the box before the first evaluation
      EXPECT_EQ(p.points.front(), (std::vector<double>{1.0, -1.0}));
    }
  }
}

// The sufficient-decrease (Armijo) rule f(x + t d) <= f(x) + c1 t g'd with
// c1 = 1e-4.  From x = 1 with f(x) = x nearby, the first step is -0.1 (a
// tenth of the typical size 1), so the first trial point is 0.9 and the
// window of values that decrease f without decreasing it enough is
// (1 - 1e-5, 1].  A trial value inside it is rejected: the next point is
// the backtracking step to 0.95.  A value just below it is accepted: the
// next point is a gradient probe at 0.9.  (A sign error in the rule
// accepts the first; a decrease test without the c1 term too.)
TEST_F(OptimizerTest, SufficientDecreaseDecidesTheFirstTrialPoint) {
  struct Case {
    double value_at_trial;  // f for x <= 0.92
    double next_point;
  };
  const Case cases[] = {{1.0 - 0.5e-5, 0.95}, {1.0 - 1e-9, 0.95}, {1.0, 0.95},
                        {1.0 - 2e-5, 0.9}};
  for (const Case& c : cases) {
    Problem p;
    p.f = [&](const std::vector<double>& x, double* f) {
      *f = x[0] > 0.92 ? x[0] : c.value_at_trial;
      return true;
    };
    std::vector<double> x = {1.0};
    BridgeCall call;
    call.iteration_factor = 1.0;
    run(p, x, call);
    ASSERT_GE(p.points.size(), 4u) << c.value_at_trial;
    EXPECT_EQ(p.points[0][0], 1.0);
    EXPECT_EQ(p.points[1][0], 1.0 + 0x1p-26);  // the forward-difference probe
    EXPECT_DOUBLE_EQ(p.points[2][0], 0.9);      // the first trial point
    EXPECT_NEAR(p.points[3][0], c.next_point, 1e-7) << "f at the trial point " << c.value_at_trial;
  }
}

// Bounds with a box narrower than the difference step, and a fixed parameter.
TEST_F(OptimizerTest, NarrowAndFixedBounds) {
  Problem p;
  p.f = [](const std::vector<double>& x, double* f) {
    *f = std::pow(x[0] - 3, 2) + std::pow(x[1] + 1, 2) + std::pow(x[2] - 0.3, 2);
    return true;
  };
  p.lower = {0.5, 2.0, -1.0};
  p.upper = {0.5 + 1e-9, 2.0, 1.0};
  std::vector<double> x = {0.5, 2.0, 0.0};
  EXPECT_GE(run(p, x), 0);
  EXPECT_EQ(x[0], 0.5 + 1e-9);
  EXPECT_EQ(x[1], 2.0);
  EXPECT_NEAR(x[2], 0.3, 1e-6);
  EXPECT_EQ(p.outside, 0);
}

TEST_F(OptimizerTest, FailingStartIsAnError) {
  Problem p;
  p.f = [](const std::vector<double>& x, double* f) {
    if (x[0] < 0) return false;
    *f = x[0] * x[0];
    return true;
  };
  std::vector<double> x = {-1.0, 2.0};
  const int code = run(p, x);
  EXPECT_EQ(code, nlbrg::kStartFailed);
  EXPECT_LT(code, 0);
  EXPECT_EQ(p.points.size(), 1u);
  EXPECT_EQ(x, (std::vector<double>{-1.0, 2.0}));
}

TEST_F(OptimizerTest, RunsAreBitIdentical) {
  auto once = [&](std::vector<double>* x) {
    Problem p;
    p.f = [](const std::vector<double>& v, double* f) {
      if (v[0] > 1.5 || v[2] < -1.9) return false;
      *f = rosenbrock(v) + std::sin(v[1]);
      return true;
    };
    *x = {-1.2, 1.0, -1.2, 1.0};
    const int code = run(p, *x);
    return std::make_pair(code, p);
  };
  std::vector<double> x1, x2;
  auto [c1, p1] = once(&x1);
  auto [c2, p2] = once(&x2);
  EXPECT_EQ(c1, c2);
  ASSERT_EQ(p1.points.size(), p2.points.size());
  EXPECT_EQ(std::memcmp(x1.data(), x2.data(), sizeof(double) * x1.size()), 0);
  for (std::size_t i = 0; i < p1.points.size(); ++i)
    ASSERT_EQ(std::memcmp(p1.points[i].data(), p2.points[i].data(), sizeof(double) * 4), 0)
        << "evaluation " << i;
}

// An iteration factor of 1 with two parameters allows two iterations: the
// run stops at the limit with a better point than the start.
TEST_F(OptimizerTest, IterationLimitStopsWithTheBestPoint) {
  Problem p;
  p.f = [](const std::vector<double>& x, double* f) {
    *f = rosenbrock(x);
    return true;
  };
  std::vector<double> x = {-1.2, 1.0};
  BridgeStats st;
  BridgeCall call;
  call.iteration_factor = 1.0;
  call.stats = &st;
  EXPECT_EQ(run(p, x, call), nlbrg::kIterationLimit);
  EXPECT_EQ(st.iterations, 2);
  EXPECT_LT(rosenbrock(x), rosenbrock({-1.2, 1.0}));
  double best = std::numeric_limits<double>::infinity();
  for (double v : p.values)
    if (!std::isnan(v)) best = std::min(best, v);
  EXPECT_EQ(rosenbrock(x), best);
}

// An ill-scaled ridge: u = x0 / 1e-3 and v = x1 / 1e3 are the natural
// units, and in them f = 1e4 (u + v - 2)^2 + (u - v)^2 has its minimum at
// u = v = 1 with a condition number of 2e4.  From a start of the right
// sizes the run converges by its gradient rule, evaluates no point twice,
// and spends most evaluations on forward differences.  Handed the same
// problem in natural units, it ends at the same point at a similar cost.
TEST_F(OptimizerTest, IllScaledRidgeConvergesInItsOwnUnits) {
  auto ridge = [](double u, double v) {
    return 1e4 * (u + v - 2) * (u + v - 2) + (u - v) * (u - v) + 1.0;
  };
  Problem scaled;
  scaled.f = [&](const std::vector<double>& x, double* f) {
    *f = ridge(x[0] / 1e-3, x[1] / 1e3);
    return true;
  };
  std::vector<double> x = {3e-3, 0.5e3};
  BridgeStats st;
  BridgeCall call;
  call.stats = &st;
  EXPECT_EQ(run(scaled, x, call), nlbrg::kConvergedGradient);
  EXPECT_NEAR(x[0] / 1e-3, 1.0, 1e-4);
  EXPECT_NEAR(x[1] / 1e3, 1.0, 1e-4);
  EXPECT_EQ(distinct(scaled.points), scaled.points.size());
  EXPECT_LT(st.evaluations, 200);
  EXPECT_GT(2 * st.gradient_evaluations, st.evaluations);

  Problem natural;
  natural.f = [&](const std::vector<double>& y, double* f) {
    *f = ridge(y[0], y[1]);
    return true;
  };
  std::vector<double> y = {3.0, 0.5};
  BridgeStats nt;
  BridgeCall ncall;
  ncall.stats = &nt;
  EXPECT_EQ(run(natural, y, ncall), nlbrg::kConvergedGradient);
  EXPECT_NEAR(y[0], x[0] / 1e-3, 1e-4);
  EXPECT_NEAR(y[1], x[1] / 1e3, 1e-4);
  EXPECT_LT(nt.evaluations, 200);
}

// Typical sizes handed through the bridge replace those of the start: a
// start of 0 for a parameter of size 1e-4 then gets steps of its size.
TEST_F(OptimizerTest, TypicalSizesFromTheCaller) {
  Problem p;
  p.f = [](const std::vector<double>& x, double* f) {
    *f = std::pow(x[0] / 1e-4 - 1, 2) + std::pow(x[1] - 2, 2);
    return true;
  };
  std::vector<double> x = {0.0, 0.0};
  const std::vector<double> typical = {1e-4, 1.0};
  BridgeCall call;
  call.typical = typical.data();
  EXPECT_EQ(run(p, x, call), nlbrg::kConvergedGradient);
  EXPECT_NEAR(x[0], 1e-4, 1e-10);
  EXPECT_NEAR(x[1], 2.0, 1e-6);
  // the first difference step of x0 is sqrt(eps) * 1e-4
  ASSERT_GE(p.points.size(), 2u);
  EXPECT_NEAR(p.points[1][0], 1.4901161193847656e-12, 1e-20);
  // a typical size that is not positive is a bad set-up
  const std::vector<double> bad = {0.0, 1.0};
  call.typical = bad.data();
  std::vector<double> z = {1.0, 1.0};
  EXPECT_EQ(run(p, z, call), nlbrg::kBadSetup);
}

// A parameter whose bounds coincide is never moved, not even by a difference
// probe.
TEST_F(OptimizerTest, FixedParameterIsNeverProbed) {
  Problem p;
  p.f = [](const std::vector<double>& x, double* f) {
    *f = std::pow(x[0] - 1, 2) + x[1] * x[1] * x[0] * x[0];
    return true;
  };
  p.lower = {-5, 0.25};
  p.upper = {5, 0.25};
  std::vector<double> x = {3.0, 0.25};
  EXPECT_GE(run(p, x), 0);
  for (const auto& pt : p.points) EXPECT_EQ(pt[1], 0.25);
  EXPECT_NEAR(x[0], 1.0 / (1.0 + 0.0625), 1e-6);
}

// The records as the optimizer holds them during the run.
TEST_F(OptimizerTest, BridgeFillsOptionAndCallerRecords) {
  Problem p;
  p.f = [](const std::vector<double>& x, double* f) {
    *f = x[0] * x[0] + x[1] * x[1];
    return true;
  };
  p.lower = {-1, -1};
  p.upper = {1, 1};
  std::vector<double> x = {0.5, 0.5};
  BridgeCall call;
  call.reset_caller_state = true;
  EXPECT_GE(run(p, x, call), 0);
  ASSERT_EQ(p.options_seen.size(), nlbrg::kOptionBytes);
  const unsigned char* o = p.options_seen.data();
  using nlbrg::get;
  EXPECT_EQ(get<std::uint8_t>(o, 19), 1);
  EXPECT_EQ(get<std::int32_t>(o, 28), 4);
  EXPECT_EQ(get<std::int32_t>(o, 32), 4);
  EXPECT_EQ(get<std::uint8_t>(o, 48), 4);
  EXPECT_EQ(get<std::uint8_t>(o, 49), 4);
  EXPECT_EQ(get<std::int32_t>(o, 88), 10);
  EXPECT_EQ(get<std::int32_t>(o, 120), 2);
  EXPECT_EQ(get<std::int32_t>(o, 164), 1);
  EXPECT_EQ(get<std::int32_t>(o, 168), 1);
  EXPECT_EQ(get<double>(o, 208), 50.0);
  EXPECT_EQ(get<double*>(o, 480), x.data());
  EXPECT_EQ(get<double*>(o, 536), p.lower.data());
  EXPECT_EQ(get<double*>(o, 544), p.upper.data());
  const unsigned char* c = p.caller_seen.data();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(c + 696), 4), std::string("QMX\0", 4));
  EXPECT_EQ(get<std::int32_t>(c, 728), 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(c + 732), 9), std::string("FARMAFIT\0", 9));
  EXPECT_EQ(get<std::int32_t>(c, 764), 8);
  EXPECT_EQ(get<std::int32_t>(c, 4), 1);
  EXPECT_EQ(get<std::int32_t>(c, 44), 1);
  EXPECT_EQ(get<void*>(c, 192), mvtsa::host_context_word());
}

TEST_F(OptimizerTest, ModuleThatCannotBeLoadedLeavesTheStart) {
  Problem p;
  p.f = [](const std::vector<double>& x, double* f) {
    *f = x[0] * x[0];
    return true;
  };
  std::vector<double> x = {3.0};
  BridgeCall call;
  call.module = "orvnosuchmodule";
  EXPECT_EQ(run(p, x, call), mvtsa::kBridgeNotRun);
  EXPECT_EQ(x[0], 3.0);
  EXPECT_TRUE(p.points.empty());
  ASSERT_EQ(host_.current().notes.size(), 1u);
  EXPECT_EQ(host_.current().notes[0], "could not load orvnosuchmodule bridge: Bye.");
}

TEST_F(OptimizerTest, AlreadyLoadedContextIsNotLoadedAgain) {
  Problem p;
  p.f = [](const std::vector<double>& x, double* f) {
    *f = x[0] * x[0];
    return true;
  };
  std::vector<double> x = {3.0};
  int dummy = 0;
  EXPECT_EQ(run(p, x, {}, &dummy), mvtsa::kBridgeNotRun);
  EXPECT_EQ(x[0], 3.0);
  EXPECT_TRUE(p.points.empty());
  ASSERT_EQ(host_.current().notes.size(), 2u);
  EXPECT_EQ(host_.current().notes[0], "Server is already loaded: you only load once.");
  EXPECT_EQ(host_.current().notes[1], "could not load  bridge: Bye.");
}

// ---- Objectives that give their gradient

// Rosenbrock in 2 and 10 variables with its exact gradient: the run takes no
// differences, asks for a gradient at every point it evaluates, converges
// by the gradient rule, and needs a small share of the evaluations of the
// same run on values only.
TEST_F(OptimizerTest, GivenGradientReplacesDifferences) {
  for (int n : {2, 10}) {
    auto make = [&](bool with_gradient) {
      Problem p;
      p.f = [](const std::vector<double>& x, double* f) {
        *f = rosenbrock(x);
        return true;
      };
      if (with_gradient)
        p.grad = [](const std::vector<double>& x, double* g) {
          rosenbrock_gradient(x, g);
          return true;
        };
      return p;
    };
    std::vector<double> start(n);
    for (int i = 0; i < n; ++i) start[i] = i % 2 == 0 ? -1.2 : 1.0;
    Problem values = make(false), given = make(true);
    std::vector<double> xv = start, xg = start;
    BridgeStats sv, sg;
    BridgeCall cv, cg;
    cv.stats = &sv;
    cg.stats = &sg;
    cg.gradient = true;
    EXPECT_GE(run(values, xv, cv), 0);
    const int code = run(given, xg, cg);
    EXPECT_GE(code, 0) << n;
    EXPECT_LE(code, nlbrg::kConvergedFunction);
    for (double v : xg) EXPECT_NEAR(v, 1.0, 1e-6) << n;
    EXPECT_EQ(values.gradients_asked, 0);
    EXPECT_EQ(sg.gradient_evaluations, 0);
    EXPECT_EQ(given.gradients_asked, sg.evaluations);
    EXPECT_EQ(sg.analytic, sg.evaluations);
    EXPECT_LT(3 * sg.evaluations, sv.evaluations) << n;
  }
}

// An objective that offers gradients but gives one only where x0 < 0, and
// one whose gradient holds a NaN at some points: elsewhere the optimizer
// takes central differences (probes asked for values only) and still
// converges.
TEST_F(OptimizerTest, PointsWithoutAGradientAreDifferenced) {
  for (int variant = 0; variant < 2; ++variant) {
    Problem p;
    p.f = [](const std::vector<double>& x, double* f) {
      *f = rosenbrock(x);
      return true;
    };
    p.grad = [variant](const std::vector<double>& x, double* g) {
      rosenbrock_gradient(x, g);
      if (variant == 1 && x[0] > 0.5) g[1] = std::numeric_limits<double>::quiet_NaN();
      return variant == 1 || x[0] < 0;
    };
    std::vector<double> x = {-1.2, 1.0};
    BridgeStats st;
    BridgeCall call;
    call.stats = &st;
    call.gradient = true;
    const int code = run(p, x, call);
    EXPECT_GE(code, 0) << variant;
    EXPECT_NEAR(x[0], 1.0, 1e-5) << variant;
    EXPECT_NEAR(x[1], 1.0, 1e-5) << variant;
    EXPECT_GT(st.gradient_evaluations, 0) << variant;
    EXPECT_GT(st.analytic, 0) << variant;
    EXPECT_LT(st.analytic, p.gradients_asked) << variant;
    // differences ask for values only
    EXPECT_EQ(p.gradients_asked + st.gradient_evaluations, st.evaluations) << variant;
  }
}

// Bounds and a fixed parameter with given gradients: the bound-active
// minimum is reached exactly on its bound, no point leaves the box, and the
// fixed parameter never moves; its gradient entry is not read (a NaN there
// still counts as a gradient given).
TEST_F(OptimizerTest, GivenGradientWithBoundsAndAFixedParameter) {
  Problem p;
  p.f = [](const std::vector<double>& x, double* f) {
    *f = std::pow(x[0] - 2, 2) + std::pow(x[1] - 0.5, 2) + 0.5 * x[0] * x[1] + x[2] * x[0];
    return true;
  };
  p.grad = [](const std::vector<double>& x, double* g) {
    g[0] = 2 * (x[0] - 2) + 0.5 * x[1] + x[2];
    g[1] = 2 * (x[1] - 0.5) + 0.5 * x[0];
    g[2] = std::numeric_limits<double>::quiet_NaN();  // fixed: not read
    return true;
  };
  p.lower = {-1, -1, 0.0};
  p.upper = {1, 1, 0.0};
  std::vector<double> x = {0.0, 0.0, 0.0};
  BridgeStats st;
  BridgeCall call;
  call.stats = &st;
  call.gradient = true;
  EXPECT_EQ(run(p, x, call), nlbrg::kConvergedGradient);
  EXPECT_EQ(x[0], 1.0);
  EXPECT_NEAR(x[1], 0.25, 1e-8);
  EXPECT_EQ(x[2], 0.0);
  EXPECT_EQ(p.outside, 0);
  EXPECT_EQ(st.gradient_evaluations, 0);
  for (const auto& pt : p.points) EXPECT_EQ(pt[2], 0.0);
}

// A wrong gradient (a sign flipped in one entry) gives directions that are
// not descent directions for f: the run cannot reach the minimum.  This is
// what the analytic gradients of the fits are tested against.
TEST_F(OptimizerTest, WrongGradientDoesNotReachTheMinimum) {
  Problem p;
  p.f = [](const std::vector<double>& x, double* f) {
    *f = rosenbrock(x);
    return true;
  };
  p.grad = [](const std::vector<double>& x, double* g) {
    rosenbrock_gradient(x, g);
    g[1] = -g[1];
    return true;
  };
  std::vector<double> x = {-1.2, 1.0};
  BridgeCall call;
  call.gradient = true;
  run(p, x, call);
  EXPECT_GT(rosenbrock(x), 1e-3);
}

// Near the optimum of a long series the gradient test can ask for more than
// f carries: here f = 92 + 1e4 |x - 1|^2 with a gradient biased by 1e-4,
// which keeps the relative gradient at 1e-6 where the difference between
// its zero and the minimum (5e-9) changes f by less than an ulp.  The
// predicted decrease of the quasi-Newton step ends the run there instead
// of line searches backtracking to steps that change nothing.
TEST_F(OptimizerTest, GivenGradientStopsWhenTheStepPromisesNothing) {
  Problem p;
  p.f = [](const std::vector<double>& x, double* f) {
    double s = 92.0;
    for (double v : x) s += 1e4 * (v - 1) * (v - 1);
    *f = s;
    return true;
  };
  p.grad = [](const std::vector<double>& x, double* g) {
    for (std::size_t i = 0; i < x.size(); ++i) g[i] = 2e4 * (x[i] - 1) + 1e-4;
    return true;
  };
  std::vector<double> x = {0.3, 1.6, 0.9};
  BridgeStats st;
  BridgeCall call;
  call.stats = &st;
  call.gradient = true;
  EXPECT_EQ(run(p, x, call), nlbrg::kConvergedFunction);
  for (double v : x) EXPECT_NEAR(v, 1.0, 1e-7);
  EXPECT_LT(st.evaluations, 20);  // 15; without the rule 25
}

}  // namespace
