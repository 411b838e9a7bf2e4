// farma_forecast, farma_residuals and toeplitz_loglik_gls against routes
// written here: the forecasts and their mean squared errors by a dense
// Cholesky solve with the n x n Toeplitz covariance (LAPACK), the ARMA
// forecasts (d = 0) by a Kalman filter on the state space of the ARMA model,
// the innovations against the exact and conditional likelihoods, and the GLS
// mean against the dense formula.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "host/host.hpp"
#include "module/farma/farma_loglik.hpp"
#include "module/farma/farma_predict.hpp"
#include "module/frame/host.hpp"
#include "tests/fit/simulate.hpp"

extern "C" void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info);
extern "C" void dpotrs_(const char* uplo, const int* n, const int* nrhs, const double* a,
                        const int* lda, double* b, const int* ldb, int* info);

namespace {

// A model in the kernels' polynomial form: ar = (1, -phi_1, ...),
// ma = (1, -theta_1, ...).
struct Model {
  double d;
  std::vector<double> phi, theta;
  double sigma2;
  std::vector<double> ar() const {
    std::vector<double> a = {1.0};
    for (double x : phi) a.push_back(-x);
    return a;
  }
  std::vector<double> ma() const {
    std::vector<double> a = {1.0};
    for (double x : theta) a.push_back(-x);
    return a;
  }
  int p() const { return int(phi.size()); }
  int q() const { return int(theta.size()); }
};

class FarmaPredict : public ::testing::Test {
 protected:
  void SetUp() override {
    s_.activate();
    mvtsa::set_host_table(s_.table());
  }
  std::vector<double> gamma(const Model& m, std::int64_t lag) {
    std::vector<double> g(std::size_t(lag) + 1);
    std::vector<double> w(std::size_t(mvtsa::farma_model_gamma_work_size(lag, m.p(), m.q())));
    const auto ar = m.ar(), ma = m.ma();
    EXPECT_EQ(mvtsa::farma_model_gamma(g.data(), lag, m.d, m.p(), m.q(), ar.data(), ma.data(),
                                       m.sigma2, w.data()),
              0);
    return g;
  }
  int forecast(const Model& m, const std::vector<double>& y, double mu, int h,
               std::vector<double>* f, std::vector<double>* mse) {
    const std::int64_t n = std::int64_t(y.size());
    std::vector<double> w(std::size_t(mvtsa::farma_forecast_work_size(n, h, m.p(), m.q())));
    f->assign(std::size_t(h), 0.0);
    mse->assign(std::size_t(h), 0.0);
    const auto ar = m.ar(), ma = m.ma();
    return mvtsa::farma_forecast(w.data(), y.data(), n, mu, h, m.d, m.p(), m.q(), ar.data(),
                                 ma.data(), m.sigma2, f->data(), mse->data());
  }
  int residuals(const Model& m, const std::vector<double>& y, double mu, int method,
                std::vector<double>* r, std::vector<double>* v) {
    const std::int64_t n = std::int64_t(y.size());
    std::vector<double> w(std::size_t(mvtsa::farma_residuals_work_size(n, m.p(), m.q(), method)));
    r->assign(y.size(), 0.0);
    v->assign(y.size(), 0.0);
    const auto ar = m.ar(), ma = m.ma();
    return mvtsa::farma_residuals(w.data(), y.data(), n, mu, m.d, m.p(), m.q(), ar.data(),
                                  ma.data(), m.sigma2, method, r->data(), v->data());
  }
  double loglik(const Model& m, const std::vector<double>& y, int method, double* out3 = nullptr) {
    const std::int64_t n = std::int64_t(y.size());
    std::vector<double> w(std::size_t(mvtsa::farma_loglik_work_size(n, m.p(), m.q(), method)));
    const auto ar = m.ar(), ma = m.ma();
    EXPECT_EQ(mvtsa::farma_loglik(w.data(), y.data(), n, m.d, m.p(), m.q(), ar.data(), ma.data(),
                                  m.sigma2, method),
              0);
    if (out3) std::copy(w.begin(), w.begin() + 4, out3);
    return w[0];
  }
  mvts::Session s_;
};

// The best linear predictor of s_(n-1+k) from s_0..s_(n-1) and its error:
// c_k = G^-1 r_k, r_k = (gamma(n-1+k-t))_t, forecast r_k' G^-1 s,
// mse gamma(0) - r_k' G^-1 r_k, with G = L L' by LAPACK.
void dense_forecast(const std::vector<double>& g, const std::vector<double>& s, int h,
                    std::vector<double>* f, std::vector<double>* mse) {
  const int n = int(s.size()), nrhs = h + 1;
  std::vector<double> G(std::size_t(n) * n), B(std::size_t(n) * nrhs);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) G[std::size_t(j) * n + i] = g[std::size_t(std::abs(i - j))];
  for (int t = 0; t < n; ++t) {
    B[t] = s[t];
    for (int k = 1; k <= h; ++k) B[std::size_t(k) * n + t] = g[std::size_t(n - 1 + k - t)];
  }
  std::vector<double> R(B.begin() + n, B.end());
  int info = 0;
  dpotrf_("L", &n, G.data(), &n, &info);
  ASSERT_EQ(info, 0);
  dpotrs_("L", &n, &nrhs, G.data(), &n, B.data(), &n, &info);
  ASSERT_EQ(info, 0);
  f->assign(std::size_t(h), 0.0);
  mse->assign(std::size_t(h), g[0]);
  for (int k = 0; k < h; ++k)
    for (int t = 0; t < n; ++t) {
      (*f)[k] += R[std::size_t(k) * n + t] * B[t];                 // r_k' G^-1 s
      (*mse)[k] -= R[std::size_t(k) * n + t] * B[std::size_t(k + 1) * n + t];
    }
}

std::vector<double> white(int n, unsigned seed, double mean = 0.0) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> z(mean, 1.0);
  std::vector<double> y(std::size_t(n), 0.0);
  for (double& v : y) v = z(rng);
  return y;
}

TEST_F(FarmaPredict, ForecastsEqualTheDenseToeplitzSolve) {
  struct Case {
    Model m;
    int n, h;
  } cases[] = {
      {{0.3, {0.5}, {-0.3}, 1.7}, 400, 12},
      {{-0.35, {}, {0.6}, 0.5}, 250, 8},
      {{0.45, {1.2, -0.5}, {}, 2.0}, 600, 20},   // complex AR roots, d near 1/2
      {{0.2, {0.7}, {0.4, -0.2}, 1.0}, 1000, 30},
      {{0.0, {0.6}, {0.3}, 1.3}, 300, 10},       // ARMA
  };
  for (const Case& c : cases) {
    const auto y = fit_test::arfima11(c.m.d, 0.4, 0.0, c.n, 7);
    const auto g = gamma(c.m, c.n + c.h);
    std::vector<double> want_f, want_mse, f, mse;
    dense_forecast(g, y, c.h, &want_f, &want_mse);
    ASSERT_EQ(forecast(c.m, y, 0.0, c.h, &f, &mse), 0) << c.m.d;
    const double scale = std::sqrt(g[0]);
    for (int k = 0; k < c.h; ++k) {
      EXPECT_NEAR(f[k], want_f[k], 1e-9 * scale) << c.m.d << " k=" << k;
      EXPECT_NEAR(mse[k], want_mse[k], 1e-9 * g[0]) << c.m.d << " k=" << k;
    }
    // mse_1 is v_n, the one-step variance after n values (residuals of a
    // series one longer: v depends on the model only)
    std::vector<double> y1 = y, r, v;
    y1.push_back(0.0);
    ASSERT_EQ(residuals(c.m, y1, 0.0, mvtsa::kFarmaExact, &r, &v), 0);
    EXPECT_NEAR(mse[0], v.back(), 1e-12 * g[0]);
    // the error grows with the horizon and stays below the variance
    for (int k = 1; k < c.h; ++k) EXPECT_GE(mse[k], mse[k - 1] * (1 - 1e-12));
    EXPECT_LE(mse[c.h - 1], g[0] * (1 + 1e-12));
  }
}

TEST_F(FarmaPredict, TheMeanIsSubtractedAndAddedBack) {
  const Model m{0.25, {0.3}, {0.2}, 1.0};
  const auto y = fit_test::arfima11(0.25, 0.3, -0.2, 300, 9);
  std::vector<double> shifted(y);
  for (double& v : shifted) v += 1000.0;
  std::vector<double> f0, m0, f1, m1;
  ASSERT_EQ(forecast(m, y, 0.0, 6, &f0, &m0), 0);
  ASSERT_EQ(forecast(m, shifted, 1000.0, 6, &f1, &m1), 0);
  for (int k = 0; k < 6; ++k) {
    EXPECT_NEAR(f1[k] - 1000.0, f0[k], 1e-10);
    EXPECT_NEAR(m1[k], m0[k], 1e-12);
  }
}

// The ARMA(p, q) model (d = 0) in the state space form
//   a(t+1) = T a(t) + R eps(t),  y(t) = Z a(t),  r = max(p, q + 1),
//   T = [phi | I; 0], R = (1, -theta_1, ..., -theta_(r-1))', Z = (1, 0, ...),
// P(0) the stationary covariance (T P T' + sigma^2 R R' iterated by
// doubling); the Kalman filter through y, then the h-step prediction
// a(n+k) = T^k a(n|n-1), P(n+k) = T P T' + sigma^2 R R'.
void kalman_forecast(const Model& m, const std::vector<double>& y, int h, std::vector<double>* f,
                     std::vector<double>* mse) {
  const int r = std::max(m.p(), m.q() + 1);
  using Mat = std::vector<double>;
  Mat T(std::size_t(r * r), 0.0), RR(std::size_t(r * r), 0.0), R(std::size_t(r), 0.0);
  for (int i = 0; i < m.p(); ++i) T[std::size_t(i * r)] = m.phi[std::size_t(i)];
  for (int i = 0; i + 1 < r; ++i) T[std::size_t(i * r + i + 1)] = 1.0;
  R[0] = 1.0;
  for (int j = 0; j < m.q(); ++j) R[std::size_t(j + 1)] = -m.theta[std::size_t(j)];
  for (int i = 0; i < r; ++i)
    for (int j = 0; j < r; ++j) RR[std::size_t(i * r + j)] = m.sigma2 * R[i] * R[j];
  auto mul = [r](const Mat& A, const Mat& B) {
    Mat C(std::size_t(r * r), 0.0);
    for (int i = 0; i < r; ++i)
      for (int k = 0; k < r; ++k)
        for (int j = 0; j < r; ++j) C[std::size_t(i * r + j)] += A[std::size_t(i * r + k)] * B[std::size_t(k * r + j)];
    return C;
  };
  auto tr = [r](const Mat& A) {
    Mat C(A.size());
    for (int i = 0; i < r; ++i)
      for (int j = 0; j < r; ++j) C[std::size_t(j * r + i)] = A[std::size_t(i * r + j)];
    return C;
  };
  auto predict = [&](const Mat& P) {  // T P T' + sigma^2 R R'
    Mat C = mul(mul(T, P), tr(T));
    for (std::size_t e = 0; e < C.size(); ++e) C[e] += RR[e];
    return C;
  };
  // P = sum_k T^k RR T'^k by doubling: P <- P + A P A', A <- A A.
  Mat P = RR, A = T;
  for (int it = 0; it < 60; ++it) {
    Mat add = mul(mul(A, P), tr(A));
    for (std::size_t e = 0; e < P.size(); ++e) P[e] += add[e];
    A = mul(A, A);
  }
  std::vector<double> a(static_cast<std::size_t>(r), 0.0);
  for (double yt : y) {
    // F = P_00, K = P(:, 0) / F, a(t|t) = a + K (y - a_0), P(t|t) = P - K P(0, :)
    const double F = P[0], v = yt - a[0];
    std::vector<double> K(static_cast<std::size_t>(r));
    for (int i = 0; i < r; ++i) K[i] = P[std::size_t(i * r)] / F;
    for (int i = 0; i < r; ++i) a[i] += K[i] * v;
    Mat Pu = P;
    for (int i = 0; i < r; ++i)
      for (int j = 0; j < r; ++j) Pu[std::size_t(i * r + j)] -= K[i] * P[std::size_t(j)];
    std::vector<double> an(static_cast<std::size_t>(r), 0.0);
    for (int i = 0; i < r; ++i)
      for (int j = 0; j < r; ++j) an[i] += T[std::size_t(i * r + j)] * a[j];
    a = an;
    P = predict(Pu);
  }
  f->clear();
  mse->clear();
  for (int k = 0; k < h; ++k) {
    f->push_back(a[0]);
    mse->push_back(P[0]);
    std::vector<double> an(static_cast<std::size_t>(r), 0.0);
    for (int i = 0; i < r; ++i)
      for (int j = 0; j < r; ++j) an[i] += T[std::size_t(i * r + j)] * a[j];
    a = an;
    P = predict(P);
  }
}

TEST_F(FarmaPredict, ArmaForecastsEqualTheKalmanFilter) {
  const Model models[] = {
      {0.0, {0.6}, {0.3}, 1.3},
      {0.0, {1.1, -0.4}, {-0.5}, 0.8},
      {0.0, {}, {0.7, 0.2}, 2.0},      // pure MA: the forecast is 0 after q steps
      {0.0, {0.9}, {}, 1.0},
  };
  for (const Model& m : models) {
    const auto y = fit_test::arfima11(0.0, 0.5, 0.2, 500, 13);
    std::vector<double> f, mse, kf, kmse;
    ASSERT_EQ(forecast(m, y, 0.0, 15, &f, &mse), 0);
    kalman_forecast(m, y, 15, &kf, &kmse);
    for (int k = 0; k < 15; ++k) {
      EXPECT_NEAR(f[k], kf[k], 1e-9 * (1 + std::fabs(kf[k]))) << k;
      EXPECT_NEAR(mse[k], kmse[k], 1e-9 * kmse[k]) << k;
    }
    if (m.p() == 0) {
      for (int k = m.q(); k < 15; ++k) EXPECT_NEAR(f[k], 0.0, 1e-12);
    }
  }
}

TEST_F(FarmaPredict, ExactInnovationsReproduceTheLikelihood) {
  const Model models[] = {{0.3, {0.5}, {-0.3}, 1.7}, {-0.2, {}, {}, 0.4}, {0.0, {0.8}, {0.5}, 3.0},
                          {0.45, {0.6, 0.2}, {0.3}, 1.0}};
  for (const Model& m : models) {
    const auto y = fit_test::arfima11(m.d, 0.5, 0.1, 700, 21);
    std::vector<double> r, v;
    ASSERT_EQ(residuals(m, y, 0.0, mvtsa::kFarmaExact, &r, &v), 0);
    double s = 0.0;
    for (std::size_t t = 0; t < y.size(); ++t) s += r[t] * r[t] + std::log(v[t]);
    const double L = loglik(m, y, mvtsa::kFarmaExact);
    EXPECT_NEAR(s, -2.0 * L, 1e-10 * std::fabs(L)) << m.d;
    // v_0 = gamma(0), and the variances fall towards sigma^2
    EXPECT_NEAR(v[0], gamma(m, 0)[0], 1e-12 * v[0]);
    EXPECT_GE(v.back(), m.sigma2 * (1 - 1e-12));
    EXPECT_LE(v.back(), v[0]);
  }
}

TEST_F(FarmaPredict, ConditionalInnovationsAreTheLikelihoodFilter) {
  const Model m{0.3, {0.5, -0.2}, {0.4}, 2.5};
  const auto y = fit_test::arfima11(0.3, 0.5, -0.4, 400, 5);
  std::vector<double> r, v;
  ASSERT_EQ(residuals(m, y, 0.0, mvtsa::kFarmaCss, &r, &v), 0);
  double S = 0.0;
  for (std::size_t t = 2; t < y.size(); ++t) S += r[t] * r[t] * m.sigma2;
  const double nm = double(y.size() - 2);
  EXPECT_NEAR(-0.5 * nm * std::log(S / nm), loglik(m, y, mvtsa::kFarmaCss), 1e-10 * nm);
  for (double vt : v) EXPECT_EQ(vt, m.sigma2);
  // e_1 = u_1 - phi_1 u_0 with u_0 = 0 and u_1 = y_1 + (-d) y_0 (the first weight)
  EXPECT_NEAR(r[1] * std::sqrt(m.sigma2), y[1] - m.d * y[0], 1e-12);
}

TEST_F(FarmaPredict, GlsMeanEqualsTheDenseFormula) {
  const Model m{0.35, {0.4}, {}, 1.0};
  auto y = fit_test::arfima11(0.35, 0.4, 0.0, 300, 17);
  for (double& v : y) v += 3.0;
  const int n = int(y.size());
  const auto g = gamma(m, n - 1);
  // mu = 1' G^-1 y / 1' G^-1 1 by LAPACK
  std::vector<double> G(std::size_t(n) * n), B(2 * std::size_t(n));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) G[std::size_t(j) * n + i] = g[std::size_t(std::abs(i - j))];
  for (int t = 0; t < n; ++t) {
    B[t] = y[t];
    B[std::size_t(n + t)] = 1.0;
  }
  int info = 0, two = 2;
  dpotrf_("L", &n, G.data(), &n, &info);
  dpotrs_("L", &n, &two, G.data(), &n, B.data(), &n, &info);
  double a = 0.0, b = 0.0;
  for (int t = 0; t < n; ++t) {
    a += B[t];
    b += B[std::size_t(n + t)];
  }
  const double mu = a / b;
  double res[4];
  loglik(m, y, mvtsa::kFarmaExactGls, res);
  EXPECT_NEAR(res[3], mu, 1e-10);
  // the likelihood at the GLS mean is FARMALIK's of y - mu, and the highest over mu
  std::vector<double> c(y);
  for (double& v : c) v -= mu;
  const double L = loglik(m, c, mvtsa::kFarmaExact);
  EXPECT_NEAR(res[0], L, 1e-10 * std::fabs(L));
  for (double dm : {-0.01, 0.01}) {
    std::vector<double> o(y);
    for (double& v : o) v -= mu + dm;
    EXPECT_LT(loglik(m, o, mvtsa::kFarmaExact), res[0]);
  }
  // y + 1000: the mean moves by 1000, the quadratic form stays
  std::vector<double> up(y);
  for (double& v : up) v += 1000.0;
  double res2[4];
  loglik(m, up, mvtsa::kFarmaExactGls, res2);
  EXPECT_NEAR(res2[3] - 1000.0, res[3], 1e-9);
  EXPECT_NEAR(res2[2], res[2], 1e-7 * res[2]);
}

TEST_F(FarmaPredict, FailuresOfTheModel) {
  std::vector<double> f, mse;
  const auto y = white(50, 3);
  // an AR root outside the stationary region
  EXPECT_EQ(forecast({0.2, {1.1}, {}, 1.0}, y, 0.0, 3, &f, &mse), mvtsa::kStatusNonstationary);
  // repeated AR roots (1 - 0.5 B)^2
  EXPECT_EQ(forecast({0.2, {1.0, -0.25}, {}, 1.0}, y, 0.0, 3, &f, &mse), mvtsa::kMsgRepeatedRoots);
  // sizes beyond 32-bit counts are refused by the size function
  EXPECT_EQ(mvtsa::farma_forecast_work_size(10, std::int64_t(1) << 31, 0, 0), ~std::uint64_t(0));
  EXPECT_EQ(mvtsa::farma_forecast_work_size(0, 5, 0, 0), ~std::uint64_t(0));
}

}  // namespace
