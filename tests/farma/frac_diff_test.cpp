// frac_diff_filter: the three paths, checked against closed forms and a
// direct binomial expansion written here.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "module/farma/frac_diff.hpp"
#include "module/frame/status.hpp"

namespace {

std::vector<double> filter(double d, const std::vector<double>& x, int* status = nullptr) {
  const auto n = std::int64_t(x.size());
  std::vector<double> out(n, -12345.0), w(n), work(mvtsa::frac_diff_work_size(n) - n);
  const int st = mvtsa::frac_diff_filter(out.data(), w.data(), d, x.data(), n, work.data());
  if (status) *status = st;
  return out;
}

// (1 - B)^d x truncated at the start, with the weights as ratios of gamma
// functions: w_k = Gamma(k - d) / (Gamma(-d) Gamma(k + 1)), by lgamma.
std::vector<double> direct(double d, const std::vector<double>& x) {
  const std::size_t n = x.size();
  std::vector<double> w(n), out(n);
  for (std::size_t k = 0; k < n; ++k) {
    if (k == 0) { w[k] = 1; continue; }
    const double sign_num = std::tgamma(k - d) < 0 ? -1 : 1;
    const double sign_den = std::tgamma(-d) < 0 ? -1 : 1;
    w[k] = sign_num * sign_den *
           std::exp(std::lgamma(k - d) - std::lgamma(-d) - std::lgamma(double(k) + 1));
  }
  for (std::size_t t = 0; t < n; ++t) {
    double s = 0;
    for (std::size_t j = 0; j <= t; ++j) s += w[j] * x[t - j];
    out[t] = s;
  }
  return out;
}

std::vector<double> test_series(std::size_t n) {
  std::vector<double> x(n);
  for (std::size_t t = 0; t < n; ++t) x[t] = std::sin(0.7 * t) + 0.05 * t + (t % 3 == 0 ? 1 : 0);
  return x;
}

TEST(FracDiffFilter, BinomialFilterOnConstantSeries) {
  // w = 1, -0.4, -0.12: missing, 1 - 0.4, 1 - 0.4 - 0.12.
  auto y = filter(0.4, {1, 1, 1});
  EXPECT_TRUE(mvtsa::is_missing(y[0]));
  EXPECT_NEAR(y[1], 0.6, 1e-15);
  EXPECT_NEAR(y[2], 0.48, 1e-15);
}

TEST(FracDiffFilter, AgreesWithTheGammaRatioExpansion) {
  const auto x = test_series(200);
  // w_1 = Gamma(1 - d) / Gamma(-d) carries the rounding of sin(pi d) next to
  // the pole at -d = -1: for d = 0.999999 it is -d to within 6.2e-12
  // relative, and the later weights inherit that.
  for (double d : {0.4, -0.3, 0.49, 0.999999, 0.05, -0.49, 0.75}) {
    auto y = filter(d, x);
    auto ref = direct(d, x);
    const double tol = d > 0.99 ? 1e-10 : 1e-12;
    EXPECT_TRUE(mvtsa::is_missing(y[0])) << d;
    for (std::size_t t = 1; t < x.size(); ++t)
      ASSERT_NEAR(y[t], ref[t], tol * (1 + std::fabs(ref[t]))) << "d " << d << " t " << t;
  }
}

TEST(FracDiffFilter, BelowMinusHalfSumsOnceThenDifferencesWithDPlusOne) {
  // (1 - B)^0.3 applied to the running sum equals the direct (1 - B)^-0.7
  // expansion, the truncated filters composing exactly.
  const auto x = test_series(120);
  for (double d : {-0.7, -0.5, -0.95}) {
    auto y = filter(d, x);
    auto ref = direct(d, x);
    EXPECT_TRUE(mvtsa::is_missing(y[0]));
    for (std::size_t t = 1; t < x.size(); ++t)
      ASSERT_NEAR(y[t], ref[t], 1e-11 * (1 + std::fabs(ref[t]))) << "d " << d << " t " << t;
  }
  // The same thing spelt out on a short series.
  const std::vector<double> s = {1, 2, 3};
  auto y = filter(-0.7, s);
  const std::vector<double> cum = {1, 3, 6};
  const double w1 = -0.3, w2 = w1 * (1 - 0.3) / 2;
  EXPECT_NEAR(y[1], cum[1] + w1 * cum[0], 1e-15);
  EXPECT_NEAR(y[2], cum[2] + w1 * cum[1] + w2 * cum[0], 1e-15);
}

TEST(FracDiffFilter, NearZeroCopiesAndNearOneTakesTheFirstDifference) {
  const std::vector<double> x = {3, 5, 4, 10};
  for (double d : {0.0, 1e-9, -1e-9}) {
    auto y = filter(d, x);
    EXPECT_EQ(y, x) << d;  // no value set missing
  }
  for (double d : {1.0, 1 - 1e-9, 1 + 1e-8}) {
    auto y = filter(d, x);
    EXPECT_TRUE(mvtsa::is_missing(y[0]));
    EXPECT_EQ(y[1], 2);
    EXPECT_EQ(y[2], -1);
    EXPECT_EQ(y[3], 6);
  }
  // 0.999999 is outside the first-difference band: the binomial weights of
  // order k >= 2 are small but not zero.
  auto y = filter(0.999999, x);
  EXPECT_NE(y[3], 6.0);
  EXPECT_NEAR(y[3], 6.0, 1e-4);
}

TEST(FracDiffFilter, SingleValueAndEmptySeries) {
  auto y = filter(0.3, {7});
  ASSERT_EQ(y.size(), 1u);
  EXPECT_TRUE(mvtsa::is_missing(y[0]));
  EXPECT_EQ(mvtsa::frac_diff_filter(nullptr, nullptr, 0.3, nullptr, 0, nullptr), 0);
}

TEST(FracDiffFilter, GammaFailureAtIntegerOrdersGives315) {
  // d = 2 and d = -1 + 1e-14 (summed, then d + 1 ~ 1e-14 is within the pole
  // band of Gamma(-d)) reach the gamma function at a pole.
  int st = 0;
  filter(2.0, {1, 2, 3}, &st);
  EXPECT_EQ(st, 315);
  filter(-1 + 1e-14, {1, 2, 3}, &st);
  EXPECT_EQ(st, 315);
  filter(0.3, {1, 2, 3}, &st);
  EXPECT_EQ(st, 0);
}

}  // namespace
