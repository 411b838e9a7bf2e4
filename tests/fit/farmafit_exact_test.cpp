// FARMAFIT by the exact method on a long series: the estimates of a
// simulated ARFIMA(1, 0.3, 1) at n = 2000 against the truth (n = 1000 in
// the sanitizer build, whose unoptimised likelihood is 20 times slower).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/host.hpp"
#include "tests/fit/simulate.hpp"

namespace {

using mvts::Value;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kSeriesLength = 1000;
#else
constexpr int kSeriesLength = 2000;
#endif

// Asymptotic standard errors at n = 2000 from the inverse of the Whittle
// information (1/4pi) int d ln f d ln f' over (-pi, pi) for
// f(l) ~ |1 - 0.3 e^-il|^2 / (|1 + 0.5 e^-il|^2 |1 - e^-il|^0.6):
// d 0.039, phi 0.029, theta 0.057, and sigma^2 sqrt(2 / n) = 0.032; they
// grow as 1/sqrt(n).  The tolerances are 3.5 of them.
TEST(FarmafitExact, EstimatesOfALongSeriesNearTheTruth) {
  const double d = 0.3, phi = -0.5, theta = 0.3;
  const int n = kSeriesLength;
  const double scale = 3.5 * std::sqrt(2000.0 / n);
  mvts::Session s;
  const Value y = Value::column(fit_test::arfima11(d, phi, theta, n, 7));
  auto r = s.call("FARMAFIT", {y, Value::scalar(1), Value::scalar(1), Value::scalar(1)});
  ASSERT_EQ(r.status, 0);
  const double est[4] = {r.outputs[0]->at(0, 0), r.outputs[1]->at(0, 0), r.outputs[2]->at(0, 0),
                         r.outputs[3]->at(0, 0)};
  EXPECT_NEAR(est[0], d, scale * 0.039);
  EXPECT_NEAR(est[1], phi, scale * 0.029);
  EXPECT_NEAR(est[2], theta, scale * 0.057);
  EXPECT_NEAR(est[3], 1.0, scale * 0.032);
  // A maximum of the exact likelihood: at least as high as at the truth.
  auto lik = [&](double a, double b, double c, double s2) {
    auto l = s.call("FARMALIK", {y, Value::scalar(a), Value::scalar(b), Value::scalar(c),
                                 Value::scalar(s2), Value::omitted(), Value::omitted(),
                                 Value::scalar(1)});
    EXPECT_EQ(l.status, 0);
    return l.status == 0 ? l.outputs[0]->at(0, 0) : -HUGE_VAL;
  };
  EXPECT_GE(lik(est[0], est[1], est[2], est[3]), lik(d, phi, theta, 1.0));
  EXPECT_EQ(s.live_blocks(), 0);
}

}  // namespace
