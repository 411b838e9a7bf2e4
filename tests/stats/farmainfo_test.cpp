// FARMAINFO and FARMAFITMEAN through the session.  FARMAINFO: the standard
// error of d of fractional noise at n = 10^4 against its asymptotic value
// sqrt(6 / (pi^2 n)), the Hessian against plain central differences of
// FARMALIK in all four parameters (sigma included), negative definite at a
// fitted maximum, and the planted non-maximum and the point at the bound
// reported by a note without cov.  FARMAFITMEAN: translation invariance for
// both methods, the conditional method as FARMAFIT of the centred series, and
// the exact method's mean as the GLS formula at the estimates.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/host.hpp"

extern "C" void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info);
extern "C" void dpotrs_(const char* uplo, const int* n, const int* nrhs, const double* a,
                        const int* lda, double* b, const int* ldb, int* info);

namespace {

using mvts::Value;
const Value O = Value::omitted();

class FarmaInfo : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(s_.live_blocks(), 0); }
  std::vector<double> simulate(double d, double phi, double theta, int n, int seed,
                               double mu = 0.0) {
    auto r = s_.call("FARMASIM", {Value::scalar(d), Value::scalar(phi), Value::scalar(theta),
                                  Value::scalar(mu), O, Value::scalar(n), O, O, O,
                                  Value::scalar(seed)});
    EXPECT_EQ(r.status, 0);
    return r.status == 0 ? r.outputs[0]->data : std::vector<double>{};
  }
  // x = (d, phi, theta, sigma); a NaN leaves phi or theta out.
  mvts::CallResult info(const std::vector<double>& y, const double x[4], int opt,
                        double mean = 0.0) {
    return s_.call("FARMAINFO",
                   {Value::column(y), Value::scalar(x[0]),
                    std::isnan(x[1]) ? O : Value::scalar(x[1]),
                    std::isnan(x[2]) ? O : Value::scalar(x[2]), Value::scalar(x[3]), O, O,
                    Value::scalar(opt), Value::scalar(mean)});
  }
  double farmalik(const std::vector<double>& y, const double x[4], int opt) {
    auto r = s_.call("FARMALIK", {Value::column(y), Value::scalar(x[0]), Value::scalar(x[1]),
                                  Value::scalar(x[2]), Value::scalar(x[3]), O, O,
                                  Value::scalar(opt)});
    EXPECT_EQ(r.status, 0);
    return r.status == 0 ? r.outputs[0]->data[0] : std::nan("");
  }
  mvts::CallResult fitmean(const std::vector<double>& y, Value p, Value q, int opt) {
    return s_.call("FARMAFITMEAN", {Value::column(y), p, q, Value::scalar(opt)});
  }
  static int note(const mvts::CallResult& r) {
    return r.messages.empty() ? 0 : r.messages.back().number;
  }
  mvts::Session s_;
};

TEST_F(FarmaInfo, StandardErrorOfFractionalNoiseMatchesTheAsymptotics) {
  const int n = 10000;
  const auto y = simulate(0.3, 0.0, 0.0, n, 4);
  auto f = s_.call("FARMAFIT", {Value::column(y), O, O, Value::scalar(1)});
  ASSERT_EQ(f.status, 0);
  auto r = s_.call("FARMAINFO", {Value::column(y), Value::scalar(f.outputs[0]->data[0]), O, O,
                                 Value::scalar(f.outputs[3]->data[0]), O, O, Value::scalar(1)});
  ASSERT_EQ(r.status, 0);
  ASSERT_TRUE(r.outputs[1].has_value());
  ASSERT_EQ(r.outputs[1]->rows, 2);
  const double se = std::sqrt(r.outputs[1]->at(0, 0));
  const double asymptotic = std::sqrt(6.0 / (M_PI * M_PI * n));
  EXPECT_NEAR(se / asymptotic, 1.0, 0.05) << se << " " << asymptotic;
  // sigma^2's: 2 sigma^4 / n
  const double s2 = f.outputs[3]->data[0];
  EXPECT_NEAR(std::sqrt(r.outputs[1]->at(1, 1)) / std::sqrt(2 * s2 * s2 / n), 1.0, 0.05);
}

// FARMALIK's exact value is the log-likelihood less n/2 ln 2 pi, a
// function of all four parameters: its plain central differences (step
// 1e-4, no extrapolation) against FARMAINFO's Hessian.
TEST_F(FarmaInfo, HessianAgreesWithDifferencesOfTheLikelihood) {
  const auto y = simulate(0.25, 0.5, -0.3, 500, 12);
  const double x[4] = {0.22, 0.45, -0.35, 1.1};
  auto r = info(y, x, 1);
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.outputs[0]->rows, 4);
  const double h = 1e-4;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      auto L = [&](double si, double sj) {
        double xs[4];
        std::copy(x, x + 4, xs);
        xs[i] += si * h;
        xs[j] += sj * h;
        return farmalik(y, xs, 1);
      };
      const double want = (L(1, 1) - L(1, -1) - L(-1, 1) + L(-1, -1)) / (4 * h * h);
      EXPECT_NEAR(r.outputs[0]->at(i, j), want, 2e-4 * (1 + std::fabs(want))) << i << j;
    }
}

TEST_F(FarmaInfo, ConditionalSigmaRowInClosedForm) {
  // -((n - m) ln s + S / s) / 2: H_ss = (n - m) / (2 s^2) - S / s^3, with S
  // from FARMARES's conditional innovations (sum over t >= m = 1).
  const auto y = simulate(0.3, 0.4, 0.0, 400, 6);
  const double x[4] = {0.3, 0.4, std::nan(""), 0.9};
  auto r = info(y, x, 0);
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.outputs[0]->rows, 3);
  auto e = s_.call("FARMARES", {Value::column(y), Value::scalar(0.3), Value::scalar(0.4), O,
                                Value::scalar(0.9), O, O, Value::scalar(0)});
  ASSERT_EQ(e.status, 0);
  double S = 0.0;
  for (int t = 1; t < 400; ++t) S += 0.9 * e.outputs[0]->data[t] * e.outputs[0]->data[t];
  const double s = 0.9;
  EXPECT_NEAR(r.outputs[0]->at(2, 2), 399.0 / (2 * s * s) - S / (s * s * s), 1e-9 * 399.0);
}

TEST_F(FarmaInfo, NegativeDefiniteAtAMaximumAndAPlantedNonMaximumReported) {
  const auto y = simulate(0.3, 0.5, 0.0, 1000, 21, 4.0);
  auto f = fitmean(y, Value::scalar(1), O, 1);
  ASSERT_EQ(f.status, 0);
  const double x[4] = {f.outputs[0]->data[0], f.outputs[1]->data[0], std::nan(""),
                       f.outputs[3]->data[0]};
  const double mean = f.outputs[4]->data[0];
  auto r = info(y, x, 1, mean);
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(r.messages.empty());
  ASSERT_TRUE(r.outputs[1].has_value());
  // cov (-H) = I, and cov positive on its diagonal
  for (int i = 0; i < 3; ++i) {
    EXPECT_GT(r.outputs[1]->at(i, i), 0.0);
    for (int j = 0; j < 3; ++j) {
      double s = 0.0;
      for (int k = 0; k < 3; ++k) s -= r.outputs[1]->at(i, k) * r.outputs[0]->at(k, j);
      EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-8);
    }
  }
  // sigma at ten times its estimate: H_ss = n/(2 s^2) - q/s^3 > 0 there
  const double far[4] = {x[0], x[1], x[2], 10 * x[3]};
  auto bad = info(y, far, 1, mean);
  EXPECT_EQ(bad.status, 0);
  EXPECT_EQ(note(bad), 404);
  EXPECT_TRUE(bad.outputs[0].has_value());
  EXPECT_FALSE(bad.outputs[1].has_value());
  EXPECT_GT(bad.outputs[0]->at(2, 2), 0.0);
  // d next to its bound 1/2: held, its row and column missing, a note, no cov
  const double edge[4] = {0.4999999, x[1], x[2], x[3]};
  auto at_bound = info(y, edge, 1, mean);
  EXPECT_EQ(at_bound.status, 0);
  EXPECT_EQ(note(at_bound), 405);
  EXPECT_FALSE(at_bound.outputs[1].has_value());
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(std::isnan(at_bound.outputs[0]->at(0, i)));
    EXPECT_TRUE(std::isnan(at_bound.outputs[0]->at(i, 0)));
  }
  EXPECT_LT(at_bound.outputs[0]->at(1, 1), 0.0);
  EXPECT_LT(at_bound.outputs[0]->at(2, 2), 0.0);
}

TEST_F(FarmaInfo, BadInputIsNamed) {
  const auto y = simulate(0.2, 0.3, 0.0, 60, 2);
  const Value Y = Value::column(y);
  // a repeated lag leaves the second coefficient without a lag of its own
  auto r = s_.call("FARMAINFO", {Y, Value::scalar(0.2), Value::row({0.1, 0.2}), O, O,
                                 Value::row({1, 1})});
  EXPECT_EQ(r.status, 100);
  EXPECT_EQ(r.argument, 6);
  EXPECT_EQ(note(r), 403);
  // phi of three values where the lag list names two lags
  r = s_.call("FARMAINFO", {Y, Value::scalar(0.2), Value::row({0.1, 0.2, 0.3}), O, O,
                            Value::row({1, 2})});
  EXPECT_EQ(r.argument, 6);
  EXPECT_EQ(note(r), 356);
  // not stationary, exact
  r = s_.call("FARMAINFO", {Y, Value::scalar(0.2), Value::scalar(-1.2), O, O, O, O,
                            Value::scalar(1)});
  EXPECT_EQ(r.argument, 3);
  EXPECT_EQ(note(r), 402);
  // an MA lag beyond the series
  r = s_.call("FARMAINFO", {Value::row({1, 2, 3, 4}), Value::scalar(0.2), O,
                            Value::scalar(0.3), O, O, Value::scalar(4)});
  EXPECT_EQ(r.argument, 1);
  EXPECT_EQ(note(r), 400);
  for (const auto& o : r.outputs) EXPECT_FALSE(o.has_value());
}

// ---- FARMAFITMEAN ----------------------------------------------------------

// The optimizer alone stops within a few 1e-6 of the maximum, on a path that
// the roundings of y + 1000 change; the Newton refinement brings both fits to
// the maximum.
TEST_F(FarmaInfo, FitMeanIsTranslationInvariantForBothMethods) {
  for (int seed : {31, 7, 19}) {
    const auto y = simulate(0.3, 0.4, -0.2, 600, seed, 2.0);
    std::vector<double> up(y);
    for (double& v : up) v += 1000.0;
    for (int opt : {1, 0}) {
      SCOPED_TRACE(std::to_string(seed) + " opt " + std::to_string(opt));
      auto a = fitmean(y, Value::scalar(1), Value::scalar(1), opt);
      auto b = fitmean(up, Value::scalar(1), Value::scalar(1), opt);
      ASSERT_EQ(a.status, 0);
      ASSERT_EQ(b.status, 0);
      for (int o = 0; o < 4; ++o)
        EXPECT_NEAR(a.outputs[o]->data[0], b.outputs[o]->data[0], 1e-6) << o;
      EXPECT_NEAR(b.outputs[4]->data[0] - a.outputs[4]->data[0], 1000.0, 1e-6);
      EXPECT_NEAR(a.outputs[4]->data[0], 2.0, 1.5);  // the true mean, within a long-memory error
    }
  }
}

// The conditional method removes the sample mean and fits what is left as
// FARMAFIT does, then refines the maximum by Newton's method: the estimates
// are FARMAFIT's on the centred series to its stopping accuracy, with a
// likelihood no lower.
TEST_F(FarmaInfo, ConditionalFitMeanIsTheFitOfTheCentredSeries) {
  const auto y = simulate(0.25, 0.0, 0.3, 400, 8, -7.0);
  double sum = 0.0;
  for (double v : y) sum += v;
  const double ybar = sum / 400.0;
  std::vector<double> c(y);
  for (double& v : c) v -= ybar;
  auto a = fitmean(y, O, Value::scalar(1), 0);
  auto b = s_.call("FARMAFIT", {Value::column(c), O, Value::scalar(1), Value::scalar(0)});
  ASSERT_EQ(a.status, 0);
  ASSERT_EQ(b.status, 0);
  EXPECT_TRUE(std::isnan(a.outputs[1]->data[0]));  // no AR part
  for (int o : {0, 2, 3}) EXPECT_NEAR(a.outputs[o]->data[0], b.outputs[o]->data[0], 1e-4) << o;
  EXPECT_EQ(a.outputs[4]->data[0], ybar);
  auto css = [&](const mvts::CallResult& r) {
    auto l = s_.call("FARMALIK", {Value::column(c), Value::scalar(r.outputs[0]->data[0]), O,
                                  Value::scalar(r.outputs[2]->data[0])});
    EXPECT_EQ(l.status, 0);
    return l.outputs[0]->data[0];
  };
  EXPECT_GE(css(a), css(b) - 1e-10);
}

TEST_F(FarmaInfo, ExactFitMeanIsTheGlsMeanAtTheEstimates) {
  const int n = 500;
  const auto y = simulate(0.35, 0.3, 0.0, n, 44, 10.0);
  auto a = fitmean(y, Value::scalar(1), O, 1);
  ASSERT_EQ(a.status, 0);
  const double d = a.outputs[0]->data[0], phi = a.outputs[1]->data[0];
  auto g = s_.call("FARMACOV", {Value::scalar(d), Value::scalar(phi), O, Value::scalar(1.0), O, O,
                                Value::scalar(n - 1)});
  ASSERT_EQ(g.status, 0);
  std::vector<double> G(std::size_t(n) * n), B(2 * std::size_t(n));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) G[std::size_t(j) * n + i] = g.outputs[0]->data[std::size_t(std::abs(i - j))];
  for (int t = 0; t < n; ++t) {
    B[t] = y[t];
    B[std::size_t(n + t)] = 1.0;
  }
  int info_ = 0, two = 2;
  dpotrf_("L", &n, G.data(), &n, &info_);
  dpotrs_("L", &n, &two, G.data(), &n, B.data(), &n, &info_);
  double num = 0.0, den = 0.0;
  for (int t = 0; t < n; ++t) {
    num += B[t];
    den += B[std::size_t(n + t)];
  }
  EXPECT_NEAR(a.outputs[4]->data[0], num / den, 1e-8);
  // and the fit is a maximum of FARMALIK at that mean: sigma = q / n there
  std::vector<double> c(y);
  for (double& v : c) v -= num / den;
  const double x[4] = {d, phi, 0.0, a.outputs[3]->data[0]};
  const double L = farmalik(c, x, 1);
  for (double step : {-2e-3, 2e-3}) {
    const double xd[4] = {d + step, phi, 0.0, x[3]};
    const double xp[4] = {d, phi + step, 0.0, x[3]};
    EXPECT_GT(L, farmalik(c, xd, 1));
    EXPECT_GT(L, farmalik(c, xp, 1));
  }
}

}  // namespace
