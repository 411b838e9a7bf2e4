// The likelihood kernels called directly: the innovations algorithm against
// a full-storage version written here, the conditional likelihood against a
// dense triangular solve, and the Kalman filter on small closed forms.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "host/host.hpp"
#include "module/frame/host.hpp"
#include "module/linalg/covariance.hpp"
#include "module/linalg/lu.hpp"
#include "module/varma/varma_autocov.hpp"
#include "module/varma/varma_cond.hpp"
#include "module/varma/varma_innov.hpp"
#include "module/varma/varma_kalman.hpp"
#include "tests/varma/model_support.hpp"

namespace {

class Kernels : public ::testing::Test {
 protected:
  void SetUp() override {
    h_.activate();
    mvtsa::set_host_table(h_.table());
  }
  mvts::Host h_;
};

// The innovations recursion as written, storing every Theta(n, j), with
// kappa(i, j) formed from Gamma and the Phi_j by the three cases.
struct FullInnovations {
  int k, p, q, m;
  std::vector<double> ar, ma, sigma, gam;
  using Block = std::vector<double>;
  Block zero() const { return Block(std::size_t(k * k), 0.0); }
  Block mul(const Block& a, const Block& b, bool bt = false) const {
    Block o = zero();
    for (int i = 0; i < k; ++i)
      for (int j = 0; j < k; ++j)
        for (int l = 0; l < k; ++l) o[i * k + j] += a[i * k + l] * (bt ? b[j * k + l] : b[l * k + j]);
    return o;
  }
  Block tr(const Block& a) const {
    Block o = zero();
    for (int i = 0; i < k; ++i)
      for (int j = 0; j < k; ++j) o[j * k + i] = a[i * k + j];
    return o;
  }
  Block at(const std::vector<double>& v, int b) const {
    return Block(v.begin() + b * k * k, v.begin() + (b + 1) * k * k);
  }
  Block eyy(int a, int b) const { return b >= a ? at(gam, b - a) : tr(at(gam, a - b)); }
  Block kappa(int i, int j) const {
    if (i < j) return tr(kappa(j, i));
    if (i <= m) return eyy(i, j);
    if (j <= m) {
      if (i > 2 * m) return zero();
      Block o = eyy(i, j);
      for (int l = 1; l <= p; ++l) {
        Block t = mul(at(ar, l - 1), eyy(i - l, j));
        for (int e = 0; e < k * k; ++e) o[e] -= t[e];
      }
      return o;
    }
    const int h = i - j;
    if (h > q) return zero();
    Block o = zero();
    for (int r = 0; r + h <= q; ++r) {
      Block c1 = r + h == 0 ? zero() : at(ma, r + h - 1), c0 = r == 0 ? zero() : at(ma, r - 1);
      for (double& x : c1) x = -x;
      for (double& x : c0) x = -x;
      if (r + h == 0)
        for (int d = 0; d < k; ++d) c1[d * k + d] = 1;
      if (r == 0)
        for (int d = 0; d < k; ++d) c0[d * k + d] = 1;
      Block t = mul(mul(c1, sigma), c0, true);
      for (int e = 0; e < k * k; ++e) o[e] += t[e];
    }
    return o;
  }
  static Block inverse(Block a, int k) {  // Gauss-Jordan, no pivoting needed for SPD
    Block inv(std::size_t(k * k), 0.0);
    for (int i = 0; i < k; ++i) inv[i * k + i] = 1;
    for (int c = 0; c < k; ++c) {
      const double d = a[c * k + c];
      for (int j = 0; j < k; ++j) a[c * k + j] /= d, inv[c * k + j] /= d;
      for (int r = 0; r < k; ++r)
        if (r != c) {
          const double f = a[r * k + c];
          for (int j = 0; j < k; ++j) a[r * k + j] -= f * a[c * k + j], inv[r * k + j] -= f * inv[c * k + j];
        }
    }
    return inv;
  }
  // Returns D and S; `largest_dropped` gets max |Theta(n, j)| over n >= m, j > q.
  void run(const std::vector<double>& y, int T, double* D, double* S, double* largest_dropped) {
    std::vector<std::vector<Block>> th(static_cast<std::size_t>(T));
    std::vector<Block> V(static_cast<std::size_t>(T)), Vi(static_cast<std::size_t>(T));
    std::vector<double> U(std::size_t(T) * k);
    *D = *S = *largest_dropped = 0;
    for (int n = 0; n < T; ++n) {
      th[n].assign(std::size_t(n) + 1, zero());  // th[n][j], j = 1..n
      for (int kk = 0; kk < n; ++kk) {
        Block acc = kappa(n + 1, kk + 1);
        for (int l = 0; l < kk; ++l) {
          Block t = mul(mul(th[n][n - l], V[l]), th[kk][kk - l], true);
          for (int e = 0; e < k * k; ++e) acc[e] -= t[e];
        }
        th[n][n - kk] = mul(acc, Vi[kk]);
      }
      V[n] = kappa(n + 1, n + 1);
      for (int kk = 0; kk < n; ++kk) {
        Block t = mul(mul(th[n][n - kk], V[kk]), th[n][n - kk], true);
        for (int e = 0; e < k * k; ++e) V[n][e] -= t[e];
      }
      Vi[n] = inverse(V[n], k);
      if (n >= m)
        for (int j = q + 1; j <= n; ++j)
          for (double x : th[n][j]) *largest_dropped = std::max(*largest_dropped, std::fabs(x));
      std::vector<double> yhat(static_cast<std::size_t>(k), 0.0);
      if (n >= m)
        for (int j = 1; j <= p; ++j)
          for (int r = 0; r < k; ++r)
            for (int c = 0; c < k; ++c) yhat[r] += ar[(j - 1) * k * k + r * k + c] * y[(n - j) * k + c];
      for (int j = 1; j <= (n >= m ? std::min(q, n) : n); ++j)
        for (int r = 0; r < k; ++r)
          for (int c = 0; c < k; ++c) yhat[r] += th[n][j][r * k + c] * U[(n - j) * k + c];
      for (int r = 0; r < k; ++r) U[n * k + r] = y[n * k + r] - yhat[r];
      Block lu = V[n];
      double det = 0, sc[8];
      mvtsa::lu_solve(lu.data(), k, nullptr, sc, &det);
      *D += std::log(det);
      for (int r = 0; r < k; ++r)
        for (int c = 0; c < k; ++c) *S += U[n * k + r] * Vi[n][r * k + c] * U[n * k + c];
    }
  }
};

// Keeping only Theta(n, 1..qmax) for n >= m leaves the likelihood as the
// full recursion gives it, and the coefficients dropped are zero there.
TEST_F(Kernels, InnovationsWithLinearStorageMatchTheFullRecursion) {
  std::mt19937 g(41);
  for (auto [k, np, nq] : {std::tuple{2, 2, 1}, std::tuple{3, 1, 2}, std::tuple{2, 0, 3}}) {
    const lik_test::Model mdl = lik_test::random_model(k, np, nq, false, g);
    const int T = 14, m = std::max(np, nq);
    FullInnovations full{k, np, nq, m, mdl.ar_spread(), mdl.ma_spread(), mdl.sigma, {}};
    full.gam.resize(std::size_t(2 * m) * k * k);
    ASSERT_EQ(mvtsa::varma_autocov(full.gam.data(), 2 * m - 1, mdl.sigma.data(), full.ar.data(),
                                   full.ma.data(), np, nq, k),
              0);
    const std::vector<double> y = lik_test::random_series(T, k, g);
    double D = 0, S = 0, dropped = 0;
    full.run(y, T, &D, &S, &dropped);
    EXPECT_LT(dropped, 1e-12);

    std::vector<double> work(mvtsa::varma_innov_work_size(T, k, np, nq));
    std::vector<char> flags(static_cast<std::size_t>(k));
    double res[3];
    ASSERT_EQ(mvtsa::varma_innov_loglik(&res[0], &res[1], &res[2], y.data(), T, k, full.ar.data(),
                                        np, full.ma.data(), nq, mdl.sigma.data(), full.gam.data(),
                                        work.data(), flags.data()),
              0);
    EXPECT_NEAR(res[1], D, 1e-10 * (1 + std::fabs(D)));
    EXPECT_NEAR(res[2], S, 1e-10 * (1 + S));
    // the work space grows linearly: doubling T adds T (2 + q) blocks and T k doubles
    const std::uint64_t w1 = mvtsa::varma_innov_work_size(1000, k, np, nq),
                        w2 = mvtsa::varma_innov_work_size(2000, k, np, nq);
    EXPECT_EQ(w2 - w1, std::uint64_t(1000) * ((2 + nq) * k * k + k));
  }
}

// a = L^-1 r with L the block unit lower-triangular matrix of order k n that
// holds -Theta_j on its j-th block sub-diagonal, solved here element by element.
TEST_F(Kernels, ConditionalLikelihoodMatchesTheDenseTriangularSolve) {
  std::mt19937 g(43);
  const int k = 3, T = 16;
  const lik_test::Model mdl = lik_test::random_model(k, 2, 2, true, g);
  const int p = mdl.pmax(), q = mdl.qmax(), n = T - p;
  const std::vector<double> ar = mdl.ar_spread(), ma = mdl.ma_spread();
  const std::vector<double> y = lik_test::random_series(T, k, g);
  const int N = k * n;
  std::vector<double> L(std::size_t(N) * N, 0.0), r(static_cast<std::size_t>(N));
  for (int i = 0; i < N; ++i) L[i * N + i] = 1;
  for (int t = 0; t < n; ++t)
    for (int j = 1; j <= q && t - j >= 0; ++j)
      for (int a = 0; a < k; ++a)
        for (int b = 0; b < k; ++b) L[(t * k + a) * N + (t - j) * k + b] = -ma[(j - 1) * k * k + a * k + b];
  for (int t = 0; t < n; ++t)
    for (int a = 0; a < k; ++a) {
      double v = y[(t + p) * k + a];
      for (int j = 1; j <= p; ++j)
        for (int b = 0; b < k; ++b) v -= ar[(j - 1) * k * k + a * k + b] * y[(t + p - j) * k + b];
      r[t * k + a] = v;
    }
  std::vector<double> a(static_cast<std::size_t>(N));
  for (int i = 0; i < N; ++i) {
    double v = r[i];
    for (int l = 0; l < i; ++l) v -= L[i * N + l] * a[l];
    a[i] = v;
  }
  const std::vector<double> si = FullInnovations::inverse(mdl.sigma, k);
  double S = 0;
  for (int t = 0; t < n; ++t)
    for (int i = 0; i < k; ++i)
      for (int j = 0; j < k; ++j) S += a[t * k + i] * si[i * k + j] * a[t * k + j];
  std::vector<double> lu = mdl.sigma, sc(k);
  double det = 0;
  mvtsa::lu_solve(lu.data(), k, nullptr, sc.data(), &det);

  std::vector<double> packed(static_cast<std::size_t>(mvtsa::packed_size(k)));
  mvtsa::pack_symmetric(mdl.sigma.data(), k, packed.data());
  std::vector<double> work(mvtsa::varma_cond_work_size(k, q));
  std::vector<char> flags(static_cast<std::size_t>(k));
  double res[3];
  ASSERT_EQ(mvtsa::varma_cond_loglik(&res[0], &res[1], &res[2], y.data(), T, k, ar.data(), p,
                                     ma.data(), q, packed.data(), work.data(), flags.data()),
            0);
  EXPECT_NEAR(res[1], n * std::log(det), 1e-12 * n);
  EXPECT_NEAR(res[2], S, 1e-11 * S);
}

// The filter through its own interface with a compact lag list: an AR
// block at lag 2 only equals the spread form (a zero block at lag 1).
TEST_F(Kernels, KalmanCompactLagsEqualTheSpreadBlocks) {
  std::mt19937 g(47);
  const int k = 2, T = 50;
  const std::vector<double> y = lik_test::random_series(T, k, g);
  const double phi2[4] = {0.5, 0.2, -0.1, 0.4}, th1[4] = {0.3, 0.0, 0.1, 0.2};
  const double spread[8] = {0, 0, 0, 0, 0.5, 0.2, -0.1, 0.4};
  const double sigma[3] = {1.0, 0.3, 2.0};
  const int lag2 = 2;
  double a[3], b[3];
  ASSERT_EQ(mvtsa::varma_kalman_loglik(&a[0], &a[1], &a[2], y.data(), T, k, phi2, 1, 2, &lag2,
                                       th1, 1, 1, nullptr, sigma),
            0);
  ASSERT_EQ(mvtsa::varma_kalman_loglik(&b[0], &b[1], &b[2], y.data(), T, k, spread, 2, 2, nullptr,
                                       th1, 1, 1, nullptr, sigma),
            0);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(a[i], b[i], 1e-10 * (1 + std::fabs(b[i])));
  EXPECT_EQ(h_.live_pools(), 0);
  EXPECT_EQ(h_.open_utility_files(), 0);
  // sizes that describe no model
  EXPECT_EQ(mvtsa::varma_kalman_loglik(&a[0], &a[1], &a[2], y.data(), T, 0, phi2, 1, 2, &lag2,
                                       th1, 1, 1, nullptr, sigma),
            11);
}

// A univariate AR(1) has a one-dimensional state: the filter's likelihood is
// the closed form  P(1) = s2 / (1 - phi^2),
//   D = log P(1) + (T - 1) log s2,
//   S = y1^2 / P(1) + sum_t (y_t - phi y_{t-1})^2 / s2.
TEST_F(Kernels, KalmanOnAOneDimensionalStateIsTheClosedForm) {
  const int T = 6;
  const double y[T] = {0.5, -0.25, 1.0, 0.75, -0.5, 0.125};
  const double phi = 0.5, s2 = 2.0;
  double r[3];
  ASSERT_EQ(mvtsa::varma_kalman_loglik(&r[0], &r[1], &r[2], y, T, 1, &phi, 1, 1, nullptr,
                                       nullptr, 0, 0, nullptr, &s2),
            0);
  const double p1 = s2 / (1 - phi * phi);
  double S = y[0] * y[0] / p1;
  for (int t = 1; t < T; ++t) S += (y[t] - phi * y[t - 1]) * (y[t] - phi * y[t - 1]) / s2;
  const double D = std::log(p1) + (T - 1) * std::log(s2);
  EXPECT_NEAR(r[1], D, 1e-13);
  EXPECT_NEAR(r[2], S, 1e-13);
  EXPECT_NEAR(r[0], -(D + S) / 2, 1e-13);
  EXPECT_EQ(h_.live_pools(), 0);
}

}  // namespace

namespace {

// One row's terms from kalman_step_loglik with the predicted covariance P
// (f = k = 2) and a = 0.
struct StepTerms {
  int status;
  double D, S;
};
StepTerms step_terms(const std::vector<double>& P, const std::vector<double>& y) {
  std::vector<double> scratch(mvtsa::kalman_step_work(2)), a(2, 0.0);
  mvtsa::KalmanSums sums;
  const int st = mvtsa::kalman_step_loglik(y.data(), a.data(), P.data(), 2, 2, scratch.data(),
                                           &sums, 0, -1);
  return {st, sums.D, sums.S};
}

// F = c^2 [[1, rho], [rho, 1]] with 1 - rho^2 below 2^-26.5: the conditional
// variance of the second variable is raised to 2^-26.5 c^2, so
//   D = log c^2 + log(2^-26.5 c^2),  S = (y0^2 + (y1 - rho y0)^2 / 2^-26.5) / c^2,
// finite, the same in every unit up to the shift of D, and a series off the
// near-singular direction pays for it in S.  Where every conditional variance
// passes, the terms are the exact ones whatever the scale.
TEST_F(Kernels, StepTermsFloorANearSingularFRelativeToItsVariances) {
  const double floor = std::sqrt(0x1p-53), rho = 1.0 - 1e-12;
  const std::vector<double> y = {0.75, -0.5};
  for (double c : {1e-150, 1e-5, 1.0, 1e5, 1e150}) {
    const double c2 = c * c;
    const StepTerms t = step_terms({c2, rho * c2, rho * c2, c2}, {y[0] * c, y[1] * c});
    ASSERT_EQ(t.status, 0) << c;
    EXPECT_NEAR(t.D, 2 * std::log(c2) + std::log(floor), 1e-12 * std::fabs(t.D)) << c;
    const double S = y[0] * y[0] + std::pow(y[1] - rho * y[0], 2) / floor;
    EXPECT_NEAR(t.S, S, 1e-9 * S) << c;
    // the exact terms of a well-conditioned F, in any units
    const StepTerms e = step_terms({c2, 0.5 * c2, 0.5 * c2, c2}, {y[0] * c, y[1] * c});
    ASSERT_EQ(e.status, 0) << c;
    EXPECT_NEAR(e.D, 2 * std::log(c2) + std::log(0.75), 1e-12 * std::fabs(e.D)) << c;
    const double Se = (y[0] * y[0] - y[0] * y[1] + y[1] * y[1]) / 0.75;
    EXPECT_NEAR(e.S, Se, 1e-13 * Se) << c;
  }
}

// A variable without variance (F = diag(c^2, 0)) is left out of both sums (a
// generalized inverse); a negative variance is no covariance (singular); a
// missing row adds nothing at all, whatever its F.
TEST_F(Kernels, StepTermsOfDegenerateAndMissingRows) {
  for (double c : {1e-3, 1.0, 1e3}) {
    const StepTerms t = step_terms({c * c, 0, 0, 0}, {0.5 * c, 0.25});
    ASSERT_EQ(t.status, 0);
    EXPECT_NEAR(t.D, std::log(c * c), 1e-15 * (1 + std::fabs(t.D)));
    EXPECT_NEAR(t.S, 0.25, 1e-15);
  }
  EXPECT_EQ(step_terms({1, 0, 0, -1}, {0.5, 0.25}).status, mvtsa::kKalmanSingular);
  const double nan = std::nan("");
  for (const std::vector<double>& P : {std::vector<double>{1, 0, 0, -1}, {1e-30, 0, 0, 1e30},
                                       {4, 1, 1, 2}}) {
    const StepTerms t = step_terms(P, {nan, 0.25});
    EXPECT_EQ(t.status, 0);
    EXPECT_EQ(t.D, 0.0);
    EXPECT_EQ(t.S, 0.0);
  }
}

}  // namespace
