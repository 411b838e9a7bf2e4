// The statistics kernels of the VARMA family called directly: forecasts and
// their MSE matrices against the conditional Gaussian moments of the
// stacked series, residuals against the Cholesky factor of its covariance
// and against the likelihood's own sums, the observed information against a
// closed form.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "host/host.hpp"
#include "module/frame/host.hpp"
#include "module/linalg/covariance.hpp"
#include "module/varma/varma_forecast.hpp"
#include "module/varma/varma_info.hpp"
#include "module/varma/varma_kalman.hpp"
#include "module/varma/varma_resid.hpp"
#include "module/varma/varmafit_kalman.hpp"
#include "tests/varma/model_support.hpp"
#include "tests/varma/stats_dense.hpp"
#include "tests/varma/varma_test_util.hpp"

namespace {

using stats_test::Vec;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class StatsKernels : public ::testing::Test {
 protected:
  void SetUp() override {  // the filter's generalized inverse sweeps through the host
    h_.activate();
    mvtsa::set_host_table(h_.table());
  }
  mvts::Host h_;
};

// The kernels' view of a test model (the vectors stay alive with it).
struct Params {
  std::vector<int> arl, mal;
  Vec sigma_packed;
  mvtsa::VarmaParams p;
  explicit Params(const lik_test::Model& m)
      : arl(m.ar_lags), mal(m.ma_lags), sigma_packed(std::size_t(m.k) * (m.k + 1) / 2) {
    mvtsa::pack_symmetric(m.sigma.data(), m.k, sigma_packed.data());
    p.k = m.k;
    p.ar = m.phi.data();
    p.ar_count = int(arl.size());
    p.pmax = m.pmax();
    p.ar_lags = arl.data();
    p.ma = m.theta.data();
    p.ma_count = int(mal.size());
    p.qmax = m.qmax();
    p.ma_lags = mal.data();
    p.sigma_packed = sigma_packed.data();
  }
};

struct Forecast {
  Vec mean, mse;
  int status = 0;
};

Forecast forecast(const lik_test::Model& m, const Vec& y, std::int64_t T, std::int64_t h,
                  const double* mu = nullptr) {
  Params P(m);
  Forecast f;
  f.mean.assign(std::size_t(h * m.k), 0.0);
  f.mse.assign(std::size_t(h * m.k * m.k), 0.0);
  Vec work(mvtsa::varma_forecast_work(m.k, m.pmax(), m.qmax()));
  f.status = mvtsa::varma_forecast(P.p, y.data(), T, h, mu, f.mean.data(), f.mse.data(),
                                   work.data());
  return f;
}

struct Residuals {
  Vec resid, innov, logdet;
  int status = 0;
};

Residuals residuals(const lik_test::Model& m, const Vec& y, std::int64_t T) {
  Params P(m);
  Residuals r;
  r.resid.assign(std::size_t(T * m.k), 0.0);
  r.innov = r.resid;
  r.logdet.assign(std::size_t(T), 0.0);
  Vec work(mvtsa::varma_residuals_work(m.k, m.pmax(), m.qmax()));
  r.status = mvtsa::varma_residuals(P.p, y.data(), T, r.resid.data(), r.innov.data(),
                                    r.logdet.data(), work.data());
  return r;
}

// Rows 3 and 11 wholly missing, row 7 partly (the filter leaves out a row
// with any missing value, as the likelihood does).
void punch_holes(Vec* y, int k) {
  for (int a = 0; a < k; ++a) (*y)[std::size_t(3 * k + a)] = (*y)[std::size_t(11 * k + a)] = kNaN;
  (*y)[std::size_t(7 * k + 1)] = kNaN;
}

double max_abs(const Vec& v) {
  double s = 0;
  for (double x : v) s = std::fmax(s, std::fabs(x));
  return s;
}

TEST_F(StatsKernels, ForecastsAreTheConditionalMomentsOfTheStackedSeries) {
  std::mt19937 g(2101);
  const int shapes[][3] = {{2, 1, 0}, {2, 1, 1}, {3, 2, 1}, {2, 0, 2}, {2, 2, 2}, {3, 1, 1}};
  for (const auto& sh : shapes)
    for (int holes = 0; holes < 2; ++holes) {
      const lik_test::Model m = lik_test::random_model(sh[0], sh[1], sh[2], sh[0] == 2, g);
      const std::int64_t T = 24, h = 6;
      Vec y = lik_test::random_series(T, m.k, g);
      if (holes) punch_holes(&y, m.k);
      SCOPED_TRACE(testing::Message() << "k " << m.k << " p " << m.pmax() << " q " << m.qmax()
                                      << (holes ? " with missing rows" : ""));
      Vec mean, mse;
      ASSERT_TRUE(stats_test::conditional_forecast(m, y, T, h, &mean, &mse));
      const Forecast f = forecast(m, y, T, h);
      ASSERT_EQ(f.status, 0);
      const double sm = max_abs(mse);
      for (std::size_t i = 0; i < mean.size(); ++i)
        EXPECT_NEAR(f.mean[i], mean[i], 1e-10 * (1 + max_abs(mean))) << i;
      for (std::size_t i = 0; i < mse.size(); ++i) EXPECT_NEAR(f.mse[i], mse[i], 1e-10 * sm) << i;
    }
}

// VAR(1): forecast(j) = Phi^j y(T), MSE(j) = sum_{i < j} Phi^i Sigma Phi^i';
// far out the forecast reaches the mean and the MSE the variance Gamma(0).
TEST_F(StatsKernels, Var1ForecastsFollowTheClosedFormToTheVariance) {
  lik_test::Model m;
  m.k = 2;
  m.ar_lags = {1};
  m.phi = {0.5, 0.25, -0.125, 0.75};
  m.sigma = {1.0, 0.3, 0.3, 2.0};
  const Vec y = {0.5, -1.0, 1.5, 2.0, -0.25, 1.0};
  const double mu[2] = {10.0, -3.0};
  const std::int64_t h = 400;
  const Forecast f = forecast(m, y, 3, h, mu);
  ASSERT_EQ(f.status, 0);
  Vec a = {y[4], y[5]}, mse = {0, 0, 0, 0}, pw = {1, 0, 0, 1};  // Phi^i
  for (std::int64_t j = 0; j < h; ++j) {
    // mse += Phi^j Sigma Phi^j'
    const Vec ps = varma_test::matmul(pw, m.sigma, 2);
    const Vec add = varma_test::matmul(ps, varma_test::transpose(pw, 2), 2);
    for (int e = 0; e < 4; ++e) mse[e] += add[e];
    pw = varma_test::matmul(m.phi, pw, 2);
    a = {m.phi[0] * a[0] + m.phi[1] * a[1], m.phi[2] * a[0] + m.phi[3] * a[1]};
    for (int i = 0; i < 2; ++i) {
      EXPECT_NEAR(f.mean[j * 2 + i], mu[i] + a[i], 1e-13 * (1 + std::fabs(mu[i]))) << j;
      for (int c = 0; c < 2; ++c) EXPECT_NEAR(f.mse[(j * 2 + i) * 2 + c], mse[i * 2 + c], 1e-12);
    }
  }
  Vec gam;
  ASSERT_TRUE(varma_test::lyapunov_autocov(m.phi, 1, {}, 0, m.sigma, 2, 0, &gam));
  for (int e = 0; e < 4; ++e) EXPECT_NEAR(f.mse[(h - 1) * 4 + e], gam[e], 1e-12);
  EXPECT_NEAR(f.mean[(h - 1) * 2], mu[0], 1e-12);
}

// With no rows the forecasts are the stationary mean and variance; a series
// of missing rows only is the same.
TEST_F(StatsKernels, NothingObservedForecastsTheStationaryMoments) {
  std::mt19937 g(2102);
  const lik_test::Model m = lik_test::random_model(2, 1, 1, false, g);
  Vec gam;
  ASSERT_TRUE(varma_test::lyapunov_autocov(m.phi, 1, m.theta, 1, m.sigma, 2, 0, &gam));
  const Vec none(8, kNaN);
  for (std::int64_t T : {0, 4}) {
    const Forecast f = forecast(m, none, T, 1);
    ASSERT_EQ(f.status, 0);
    for (int e = 0; e < 4; ++e) EXPECT_NEAR(f.mse[e], gam[e], 1e-12 * max_abs(gam)) << T;
    EXPECT_EQ(f.mean[0], 0.0);
  }
}

TEST_F(StatsKernels, IntervalsAreForecastsPlusMinusZStandardErrors) {
  const Vec fc = {1.0, -2.0, 3.0, 4.0};               // h = 2, k = 2
  const Vec mse = {4.0, 1.0, 1.0, 9.0, 16.0, 0.5, 0.5, 0.25};
  Vec iv(8);
  mvtsa::varma_forecast_interval(fc.data(), mse.data(), 2, 2, 1.5, iv.data());
  const Vec want = {-2.0, -6.5, 4.0, 2.5, -3.0, 3.25, 9.0, 4.75};
  for (int i = 0; i < 8; ++i) EXPECT_DOUBLE_EQ(iv[i], want[i]) << i;
}

// resid = L^-1 y over the observed rows (L the Cholesky factor of their
// stacked covariance), v(t) = L_tt resid(t), log det F(t) = 2 sum log of
// L_tt's diagonal: the filter's innovations are the block Cholesky's.
TEST_F(StatsKernels, ResidualsAreTheStackedCholeskyForwardSubstitution) {
  std::mt19937 g(2103);
  const int shapes[][3] = {{2, 1, 1}, {3, 2, 0}, {2, 0, 1}, {3, 1, 2}};
  for (const auto& sh : shapes)
    for (int holes = 0; holes < 2; ++holes) {
      const lik_test::Model m = lik_test::random_model(sh[0], sh[1], sh[2], true, g);
      const int k = m.k;
      const std::int64_t T = 20;
      Vec y = lik_test::random_series(T, k, g);
      if (holes) punch_holes(&y, k);
      SCOPED_TRACE(testing::Message() << "k " << k << " p " << m.pmax() << " q " << m.qmax());
      const std::vector<std::int64_t> rows = stats_test::observed_rows(y, T, k);
      stats_test::Stacked s = stats_test::stacked(m, rows, T);
      ASSERT_TRUE(s.ok && stats_test::cholesky(s.c, s.n));
      Vec yo;
      for (std::int64_t r : rows)
        for (int a = 0; a < k; ++a) yo.push_back(y[std::size_t(r * k + a)]);
      const Vec z = stats_test::forward(s.c, s.n, yo);
      const Residuals r = residuals(m, y, T);
      ASSERT_EQ(r.status, 0);
      std::size_t i = 0;
      for (std::int64_t t = 0; t < T; ++t) {
        if (i < rows.size() && rows[i] == t) {
          double ld = 0;
          for (int a = 0; a < k; ++a) {
            const std::int64_t d = std::int64_t(i) * k + a;
            ld += 2 * std::log(s.c[d * s.n + d]);
            double v = 0;
            for (int b = 0; b <= a; ++b) v += s.c[d * s.n + std::int64_t(i) * k + b] * z[i * k + b];
            EXPECT_NEAR(r.resid[t * k + a], z[d], 1e-9) << t;
            EXPECT_NEAR(r.innov[t * k + a], v, 1e-9) << t;
          }
          EXPECT_NEAR(r.logdet[t], ld, 1e-10) << t;
          ++i;
        } else {
          for (int a = 0; a < k; ++a) EXPECT_TRUE(std::isnan(r.resid[t * k + a]) &&
                                                  std::isnan(r.innov[t * k + a]));
          EXPECT_TRUE(std::isnan(r.logdet[t]));
        }
      }
    }
}

// sum resid^2 + sum log det F(t) = D + S of the likelihood, over long
// series (where the filter repeats a steady state), with missing rows, and
// with a singular Sigma whose F(t) the likelihood floors.
TEST_F(StatsKernels, SquaredResidualsAndLogDeterminantsAddUpToTheLikelihood) {
  std::mt19937 g(2104);
  for (int trial = 0; trial < 12; ++trial) {
    lik_test::Model m = lik_test::random_model(2 + trial % 2, 1 + trial % 3 / 2, trial % 3,
                                               trial % 4 == 3, g);
    if (trial == 10) {  // a VAR(1) with Sigma of rank one: F(t) = Sigma from row 2 on
      m.sigma = {1.0, 2.0, 2.0, 4.0};
      m.ma_lags.clear();
      m.theta.clear();
    }
    const int k = m.k;
    const std::int64_t T = 300;
    Vec y = lik_test::random_series(T, k, g);
    if (trial % 2) punch_holes(&y, k);
    if (trial == 10)  // on the span of Sigma, as the model's rows lie
      for (std::int64_t t = 0; t < T; ++t) y[t * k + 1] = 2 * y[t * k];
    const Residuals r = residuals(m, y, T);
    ASSERT_EQ(r.status, 0) << trial;
    double sq = 0, ld = 0;
    for (std::int64_t t = 0; t < T; ++t) {
      if (std::isnan(r.logdet[t])) continue;
      ld += r.logdet[t];
      for (int a = 0; a < k; ++a) sq += r.resid[t * k + a] * r.resid[t * k + a];
    }
    if (trial == 10) {  // the floored pivot: 4 2^-26.5 beside Sigma_11 = 1
      EXPECT_NEAR(r.logdet[5], std::log(4 * mvtsa::kCloseTol), 1e-12);
    }
    Params P(m);
    double out[3];
    Vec work(mvtsa::varmafit_kalman_work_size(k, m.pmax(), m.qmax()));
    ASSERT_GE(mvtsa::varmafit_kalman_loglik(out, y.data(), T, k, P.p.ar, P.p.ar_count, m.pmax(),
                                            P.p.ar_lags, P.p.ma, P.p.ma_count, m.qmax(),
                                            P.p.ma_lags, P.p.sigma_packed, work.data()),
              0);
    EXPECT_NEAR(ld, out[1], 1e-12 * std::fabs(out[1]) + 1e-12) << trial;
    EXPECT_NEAR(sq + ld, -2 * out[0], 1e-10 * std::fabs(out[0])) << trial;
  }
}

// A white-noise model (Phi = 0): l = -T/2 log det Sigma - tr(Sigma^-1 S)/2,
// S = sum y y', so the Sigma block of the Hessian is
//   T/2 tr(A D_i A D_j) - (tr(A D_i A D_j A S) + tr(A D_j A D_i A S))/2,
// A = Sigma^-1, D_i = dSigma/dsigma_i (E_ab + E_ba, or E_aa).
TEST_F(StatsKernels, InformationOfWhiteNoiseMatchesTheClosedForm) {
  std::mt19937 g(2105);
  lik_test::Model m;
  m.k = 2;
  m.ar_lags = {1};
  m.phi = {0, 0, 0, 0};
  m.sigma = {1.5, 0.4, 0.4, 0.8};
  const std::int64_t T = 200;
  const Vec y = lik_test::random_series(T, 2, g);
  Params P(m);
  const std::int64_t n = mvtsa::varma_info_parameter_count(2, 1, 0);
  ASSERT_EQ(n, 7);
  Vec H(std::size_t(n * n)), work(mvtsa::varma_info_work(P.p));
  ASSERT_EQ(mvtsa::varma_info_hessian(P.p, y.data(), T, H.data(), work.data()), 0);
  const double det = 1.5 * 0.8 - 0.16;
  const Vec A = {0.8 / det, -0.4 / det, -0.4 / det, 1.5 / det};
  Vec S(4, 0.0);
  for (std::int64_t t = 0; t < T; ++t)
    for (int a = 0; a < 2; ++a)
      for (int b = 0; b < 2; ++b) S[a * 2 + b] += y[t * 2 + a] * y[t * 2 + b];
  const Vec D[3] = {{1, 0, 0, 0}, {0, 1, 1, 0}, {0, 0, 0, 1}};  // sigma_11, sigma_21, sigma_22
  auto tr = [](const Vec& a) { return a[0] + a[3]; };
  using varma_test::matmul;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const Vec adad = matmul(matmul(A, D[i], 2), matmul(A, D[j], 2), 2);
      const Vec adad2 = matmul(matmul(A, D[j], 2), matmul(A, D[i], 2), 2);
      const double want = 0.5 * T * tr(adad) -
                          0.5 * (tr(matmul(adad, matmul(A, S, 2), 2)) +
                                 tr(matmul(adad2, matmul(A, S, 2), 2)));
      EXPECT_NEAR(H[(4 + i) * n + 4 + j], want, 1e-8 * std::fabs(want)) << i << j;
    }
  for (std::int64_t i = 0; i < n; ++i)
    for (std::int64_t j = 0; j < i; ++j) EXPECT_EQ(H[i * n + j], H[j * n + i]);
}

// The information changes with the units of the data as the parameters do:
// series column a times c_a scales Phi(a, b) by c_a / c_b and Sigma_ab by
// c_a c_b, so H in those parameters scales by the inverse products.
TEST_F(StatsKernels, InformationFollowsTheUnitsOfTheData) {
  std::mt19937 g(2106);
  const lik_test::Model m = lik_test::random_model(2, 1, 1, false, g);
  const std::int64_t T = 80;
  const Vec y = lik_test::random_series(T, 2, g);
  const double c[2] = {1024.0, 0.125};
  lik_test::Model s = m;
  Vec ys = y;
  for (std::int64_t t = 0; t < T; ++t) ys[t * 2] *= c[0], ys[t * 2 + 1] *= c[1];
  for (int b = 0; b < 2; ++b)
    for (int r = 0; r < 2; ++r)
      for (int col = 0; col < 2; ++col) {
        (b == 0 ? s.phi : s.theta)[r * 2 + col] *= c[r] / c[col];
      }
  for (int r = 0; r < 2; ++r)
    for (int col = 0; col < 2; ++col) s.sigma[r * 2 + col] *= c[r] * c[col];
  // the scale of each parameter: AR and MA entries c_r / c_col, Sigma c_r c_col
  Vec scale;
  for (int b = 0; b < 2; ++b)
    for (int r = 0; r < 2; ++r)
      for (int col = 0; col < 2; ++col) scale.push_back(c[r] / c[col]);
  for (int r = 0; r < 2; ++r)
    for (int col = 0; col <= r; ++col) scale.push_back(c[r] * c[col]);
  Params P(m), Ps(s);
  const std::int64_t n = 11;
  Vec H(n * n), Hs(n * n), work(mvtsa::varma_info_work(P.p));
  ASSERT_EQ(mvtsa::varma_info_hessian(P.p, y.data(), T, H.data(), work.data()), 0);
  ASSERT_EQ(mvtsa::varma_info_hessian(Ps.p, ys.data(), T, Hs.data(), work.data()), 0);
  for (std::int64_t i = 0; i < n; ++i)
    for (std::int64_t j = 0; j < n; ++j)
      EXPECT_NEAR(Hs[i * n + j] * scale[i] * scale[j], H[i * n + j],
                  1e-6 * std::sqrt(std::fabs(H[i * n + i] * H[j * n + j])))
          << i << " " << j;
}

TEST_F(StatsKernels, InformationNearTheStationarityBoundIsRefused) {
  lik_test::Model m;
  m.k = 2;
  m.ar_lags = {1};
  m.phi = {1.0 - 0x1p-20, 0.0, 0.0, 0.5};  // a root 2^-20 inside: every step crosses it
  m.sigma = {1.0, 0.0, 0.0, 1.0};
  std::mt19937 g(2107);
  const Vec y = lik_test::random_series(50, 2, g);
  Params P(m);
  Vec H(49), work(mvtsa::varma_info_work(P.p));
  EXPECT_EQ(mvtsa::varma_info_hessian(P.p, y.data(), 50, H.data(), work.data()),
            mvtsa::kVarmaInfoOutside);
  // 2^-9 inside: the steps of share 2^-6 cross the bound, those of 2^-10
  // do not, and give the Hessian of one-level differences at 2^-16
  m.phi[0] = 1.0 - 0x1p-9;
  Params Q(m);
  ASSERT_EQ(mvtsa::varma_info_hessian(Q.p, y.data(), 50, H.data(), work.data()), 0);
  double out[3], f0, fp, fm;
  Vec fw(mvtsa::varmafit_kalman_work_size(2, 1, 0));
  auto loglik = [&](double phi11) {
    m.phi[0] = phi11;
    Params R(m);
    mvtsa::varmafit_kalman_loglik(out, y.data(), 50, 2, R.p.ar, 1, 1, R.p.ar_lags, nullptr, 0,
                                  0, nullptr, R.p.sigma_packed, fw.data());
    return out[0];
  };
  const double x = 1.0 - 0x1p-9, h = 0x1p-16;
  f0 = loglik(x), fp = loglik(x + h), fm = loglik(x - h);
  EXPECT_NEAR(H[0], (fp - 2 * f0 + fm) / (h * h), 1e-4 * std::fabs(H[0]));
  Vec w(mvtsa::varma_stationarity_work(2, 1));
  const int lag = 1;
  const double unit[4] = {1.0, 0.0, 0.0, 0.5};
  EXPECT_EQ(mvtsa::varma_ar_nonstationary(unit, 1, 1, &lag, 2, w.data()), 1);
  const double rotation[4] = {0.0, -0.99, 0.99, 0.0};  // roots +-0.99 i
  EXPECT_EQ(mvtsa::varma_ar_nonstationary(rotation, 1, 1, &lag, 2, w.data()), 0);
}

}  // namespace
