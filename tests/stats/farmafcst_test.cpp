// FARMAFCST and FARMARES through the session: forecasts and their mean
// squared errors against a dense solve with the Toeplitz covariance of the
// model (autocovariances from FARMACOV, Cholesky by LAPACK) at n = 1000, the
// intervals, the mean, the innovations against FARMALIK's two likelihoods,
// and bad input named by its argument.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/host.hpp"

extern "C" void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info);
extern "C" void dpotrs_(const char* uplo, const int* n, const int* nrhs, const double* a,
                        const int* lda, double* b, const int* ldb, int* info);

namespace {

using mvts::Value;

class FarmaStats : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(s_.live_blocks(), 0); }
  std::vector<double> simulate(double d, double phi, double theta, int n, int seed,
                               double mu = 0.0) {
    auto r = s_.call("FARMASIM", {Value::scalar(d), Value::scalar(phi), Value::scalar(theta),
                                  Value::scalar(mu), Value::omitted(), Value::scalar(n),
                                  Value::omitted(), Value::omitted(), Value::omitted(),
                                  Value::scalar(seed)});
    EXPECT_EQ(r.status, 0);
    return r.status == 0 ? r.outputs[0]->data : std::vector<double>{};
  }
  std::vector<double> farmacov(double d, double phi, double theta, double sigma, int lag) {
    auto r = s_.call("FARMACOV", {Value::scalar(d), Value::scalar(phi), Value::scalar(theta),
                                  Value::scalar(sigma), Value::omitted(), Value::omitted(),
                                  Value::scalar(lag)});
    EXPECT_EQ(r.status, 0);
    return r.status == 0 ? r.outputs[0]->data : std::vector<double>{};
  }
  // series d phi theta sigma p q h mean level
  mvts::CallResult fcst(const std::vector<double>& y, double d, double phi, double theta,
                        double sigma, int h, Value mean = Value::omitted(),
                        Value level = Value::omitted()) {
    return s_.call("FARMAFCST", {Value::column(y), Value::scalar(d), Value::scalar(phi),
                                 Value::scalar(theta), Value::scalar(sigma), Value::omitted(),
                                 Value::omitted(), Value::scalar(h), mean, level});
  }
  // series d phi theta sigma p q opt mean
  mvts::CallResult res(const std::vector<double>& y, double d, double phi, double theta,
                       double sigma, int opt, double mean) {
    return s_.call("FARMARES", {Value::column(y), Value::scalar(d), Value::scalar(phi),
                                Value::scalar(theta), Value::scalar(sigma), Value::omitted(),
                                Value::omitted(), Value::scalar(opt), Value::scalar(mean)});
  }
  double farmalik(const std::vector<double>& y, double d, double phi, double theta, double sigma,
                  int opt) {
    auto r = s_.call("FARMALIK", {Value::column(y), Value::scalar(d), Value::scalar(phi),
                                  Value::scalar(theta), Value::scalar(sigma), Value::omitted(),
                                  Value::omitted(), Value::scalar(opt)});
    EXPECT_EQ(r.status, 0);
    return r.status == 0 ? r.outputs[0]->data[0] : std::nan("");
  }
  mvts::Session s_;
};

TEST_F(FarmaStats, ForecastsEqualTheDenseToeplitzSolveAtN1000) {
  const int n = 1000, h = 25;
  const double d = 0.35, phi = 0.6, theta = -0.4, sigma = 1.7, mu = 5.0;
  const auto y = simulate(d, phi, theta, n, 8, mu);
  auto r = fcst(y, d, phi, theta, sigma, h, Value::scalar(mu));
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.outputs[0]->rows, h);
  ASSERT_EQ(r.outputs[2]->cols, 2);
  // G c_k = r_k with r_k(t) = gamma(n - 1 + k - t); forecast mu + r_k' G^-1 (y - mu),
  // mse gamma(0) - r_k' G^-1 r_k.
  const auto g = farmacov(d, phi, theta, sigma, n + h);
  ASSERT_EQ(g.size(), std::size_t(n + h + 1));
  std::vector<double> G(std::size_t(n) * n), B(std::size_t(n) * (h + 1));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) G[std::size_t(j) * n + i] = g[std::size_t(std::abs(i - j))];
  for (int t = 0; t < n; ++t) {
    B[t] = y[t] - mu;
    for (int k = 1; k <= h; ++k) B[std::size_t(k) * n + t] = g[std::size_t(n - 1 + k - t)];
  }
  const std::vector<double> R(B.begin() + n, B.end());
  int info = 0, nrhs = h + 1;
  dpotrf_("L", &n, G.data(), &n, &info);
  ASSERT_EQ(info, 0);
  dpotrs_("L", &n, &nrhs, G.data(), &n, B.data(), &n, &info);
  for (int k = 0; k < h; ++k) {
    double f = mu, mse = g[0];
    for (int t = 0; t < n; ++t) {
      f += R[std::size_t(k) * n + t] * B[t];
      mse -= R[std::size_t(k) * n + t] * B[std::size_t(k + 1) * n + t];
    }
    EXPECT_NEAR(r.outputs[0]->at(k, 0), f, 1e-9 * std::sqrt(g[0])) << k;
    EXPECT_NEAR(r.outputs[1]->at(k, 0), mse, 1e-9 * g[0]) << k;
    // the 95% interval: forecast -+ 1.959963984540054 sqrt(mse)
    const double half = 1.9599639845400542 * std::sqrt(r.outputs[1]->at(k, 0));
    EXPECT_NEAR(r.outputs[2]->at(k, 0), r.outputs[0]->at(k, 0) - half, 1e-12 * (mu + half));
    EXPECT_NEAR(r.outputs[2]->at(k, 1), r.outputs[0]->at(k, 0) + half, 1e-12 * (mu + half));
  }
  // another level: 80%, z = 1.2815515655446004
  auto r80 = fcst(y, d, phi, theta, sigma, 3, Value::scalar(mu), Value::scalar(0.8));
  ASSERT_EQ(r80.status, 0);
  EXPECT_NEAR(r80.outputs[2]->at(2, 1) - r80.outputs[0]->at(2, 0),
              1.2815515655446004 * std::sqrt(r80.outputs[1]->at(2, 0)), 1e-12);
}

TEST_F(FarmaStats, ForecastsFollowTheMeanAndDefaultToOneStep) {
  const auto y = simulate(0.2, 0.3, 0.0, 300, 5);
  std::vector<double> up(y);
  for (double& v : up) v += 1000.0;
  auto a = fcst(y, 0.2, 0.3, 0.0, 1.0, 4);
  auto b = fcst(up, 0.2, 0.3, 0.0, 1.0, 4, Value::scalar(1000.0));
  ASSERT_EQ(a.status, 0);
  ASSERT_EQ(b.status, 0);
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(b.outputs[0]->at(k, 0) - 1000.0, a.outputs[0]->at(k, 0), 1e-9);
    EXPECT_NEAR(b.outputs[1]->at(k, 0), a.outputs[1]->at(k, 0), 1e-12);
  }
  // without h: one step (the autocovariances to another lag may differ in
  // their last bits)
  auto one = s_.call("FARMAFCST", {Value::column(y), Value::scalar(0.2), Value::scalar(0.3)});
  ASSERT_EQ(one.status, 0);
  EXPECT_EQ(one.outputs[0]->rows, 1);
  EXPECT_NEAR(one.outputs[0]->at(0, 0), a.outputs[0]->at(0, 0), 1e-13);
}

TEST_F(FarmaStats, InnovationsReproduceBothLikelihoods) {
  const double d = 0.3, phi = 0.5, theta = -0.3, sigma = 1.3, mu = 2.5;
  const auto y = simulate(d, phi, theta, 800, 3, mu);
  std::vector<double> c(y);
  for (double& v : c) v -= mu;
  // exact: sum resid^2 + sum log v = -2 L (FARMALIK's value, without -n/2 ln 2 pi)
  auto e = res(y, d, phi, theta, sigma, 1, mu);
  ASSERT_EQ(e.status, 0);
  double s = 0.0;
  for (int t = 0; t < 800; ++t)
    s += e.outputs[0]->data[t] * e.outputs[0]->data[t] + std::log(e.outputs[1]->data[t]);
  const double L = farmalik(c, d, phi, theta, sigma, 1);
  EXPECT_NEAR(s, -2.0 * L, 1e-10 * std::fabs(L));
  // conditional: L = -(n - m)/2 ln(S / (n - m)), S = sigma sum_{t >= 1} resid^2
  auto cs = res(y, d, phi, theta, sigma, 0, mu);
  ASSERT_EQ(cs.status, 0);
  double S = 0.0;
  for (int t = 1; t < 800; ++t) S += sigma * cs.outputs[0]->data[t] * cs.outputs[0]->data[t];
  const double Lc = farmalik(c, d, phi, theta, sigma, 0);
  EXPECT_NEAR(-0.5 * 799.0 * std::log(S / 799.0), Lc, 1e-10 * std::fabs(Lc));
  for (double v : cs.outputs[1]->data) EXPECT_EQ(v, sigma);
  // d = 0 (an ARMA model) is allowed, and its innovations settle to sigma
  auto arma = res(y, 0.0, phi, theta, sigma, 1, mu);
  ASSERT_EQ(arma.status, 0);
  EXPECT_NEAR(arma.outputs[1]->data.back(), sigma, 1e-9);
}

// Bad input: the call fails, names the argument and creates nothing.
TEST_F(FarmaStats, BadInputIsNamed) {
  const auto y = simulate(0.2, 0.3, 0.0, 50, 7);
  const Value Y = Value::column(y), O = Value::omitted();
  struct Case {
    const char* what;
    const char* fn;
    std::vector<Value> args;
    int argument;  // 1-based, as in the input list
    int message;   // 0: the status names the fault
  } cases[] = {
      {"h = 0", "FARMAFCST", {Y, Value::scalar(0.2), O, O, O, O, O, Value::scalar(0)}, 8, 353},
      {"h = -3", "FARMAFCST", {Y, Value::scalar(0.2), O, O, O, O, O, Value::scalar(-3)}, 8, 353},
      {"not stationary", "FARMAFCST", {Y, Value::scalar(0.2), Value::scalar(1.05)}, 3, 402},
      {"not stationary, exact residuals", "FARMARES",
       {Y, Value::scalar(0.2), Value::row({0.5, 0.6}), O, O, O, O, Value::scalar(1)}, 3, 402},
      {"series shorter than the model", "FARMAFCST",
       {Value::row({1, 2, 3}), Value::scalar(0.2), Value::row({0.1, 0.1, 0.1})}, 1, 400},
      {"series shorter than the MA lag", "FARMARES",
       {Value::row({1, 2, 3}), Value::scalar(0.2), O, Value::scalar(0.3), O, O,
        Value::scalar(5)}, 1, 400},
      {"phi longer than its lag list", "FARMAFCST",
       {Y, Value::scalar(0.2), Value::row({0.1, 0.2}), O, O, Value::scalar(1)}, 6, 356},
      {"d at 0.5 for forecasts", "FARMAFCST", {Y, Value::scalar(0.5)}, 2, 401},
      {"d at 0.5, exact residuals", "FARMARES",
       {Y, Value::scalar(0.5), O, O, O, O, O, Value::scalar(1)}, 2, 401},
      {"d at 1, conditional residuals", "FARMARES", {Y, Value::scalar(1.0)}, 2, 401},
      {"level 1", "FARMAFCST", {Y, Value::scalar(0.2), O, O, O, O, O, O, O, Value::scalar(1)},
       10, 0},
      {"sigma 0", "FARMAFCST", {Y, Value::scalar(0.2), O, O, Value::scalar(0.0)}, 5, 0},
      {"missing value in the series", "FARMARES",
       {Value::row({1, std::nan(""), 3, 4}), Value::scalar(0.2)}, 1, 0},
      {"no d", "FARMAFCST", {Y}, 2, 0},
      {"opt 2", "FARMARES", {Y, Value::scalar(0.2), O, O, O, O, O, Value::scalar(2)}, 8, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = s_.call(c.fn, c.args);
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.argument, c.argument);
    if (c.message) {
      ASSERT_FALSE(r.messages.empty());
      EXPECT_EQ(r.messages.back().number, c.message);
    }
    for (const auto& o : r.outputs) EXPECT_FALSE(o.has_value());
  }
}

}  // namespace
