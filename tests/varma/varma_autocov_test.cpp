// varma_autocov and its intermediate terms: closed forms, an independent
// Lyapunov reference for random models, and the solve statuses.
#include "module/varma/varma_autocov.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <vector>

#include "host/host.hpp"
#include "module/frame/host.hpp"
#include "tests/varma/varma_test_util.hpp"

namespace {

using varma_test::Mat;

Mat autocov(const Mat& sigma, const Mat& phi, int p, const Mat& theta, int q, int k, int L,
            int* status) {
  Mat out(std::size_t(k) * k * (L + 1), -99.0);
  Mat work(mvtsa::varma_autocov_work_size(p, q, k));
  *status = mvtsa::varma_autocov_work(out.data(), L, sigma.data(), phi.data(), theta.data(), p, q,
                                      k, work.data());
  return out;
}

void expect_block(const Mat& g, int h, int k, const Mat& want, double tol) {
  const std::size_t kk = std::size_t(k) * k;
  for (std::size_t e = 0; e < kk; ++e) EXPECT_NEAR(g[h * kk + e], want[e], tol) << "block " << h;
}

Mat scaled_identity(int k, double s) {
  Mat m = varma_test::identity(k);
  for (double& x : m) x *= s;
  return m;
}

// ---- Closed forms

TEST(VarmaAutocov, PureMa1ClosedForm) {
  // Theta_1 = 0.5 I, S = I: Gamma(0) = 1.25 I, Gamma(1) = -0.5 I, zero beyond.
  int st = -1;
  const Mat g = autocov(varma_test::identity(2), {}, 0, scaled_identity(2, 0.5), 1, 2, 3, &st);
  ASSERT_EQ(st, 0);
  expect_block(g, 0, 2, scaled_identity(2, 1.25), 1e-15);
  expect_block(g, 1, 2, scaled_identity(2, -0.5), 1e-15);
  expect_block(g, 2, 2, scaled_identity(2, 0.0), 0.0);
  expect_block(g, 3, 2, scaled_identity(2, 0.0), 0.0);
}

TEST(VarmaAutocov, PureMaGeneralAgainstDirectSum) {
  // y_t = sum_j T_j e_{t-j} with T_0 = I, T_j = -Theta_j:
  // Gamma(h) = sum_j T_j S T_{j+h}', written out here element by element.
  std::mt19937_64 rng(11);
  const int k = 3, q = 3;
  const Mat theta = varma_test::random_blocks(rng, q, k, 0.7);
  const Mat s = varma_test::random_cov(rng, k);
  const std::size_t kk = k * k;
  auto t = [&](int j, int a, int b) {
    if (j == 0) return a == b ? 1.0 : 0.0;
    return -theta[(j - 1) * kk + a * k + b];
  };
  int st = -1;
  const Mat g = autocov(s, {}, 0, theta, q, k, 5, &st);
  ASSERT_EQ(st, 0);
  for (int h = 0; h <= 5; ++h)
    for (int a = 0; a < k; ++a)
      for (int b = 0; b < k; ++b) {
        double want = 0.0;
        for (int j = 0; j + h <= q; ++j)
          for (int c = 0; c < k; ++c)
            for (int d = 0; d < k; ++d) want += t(j, a, c) * s[c * k + d] * t(j + h, b, d);
        EXPECT_NEAR(g[h * kk + a * k + b], want, 1e-13) << h << " " << a << " " << b;
      }
}

TEST(VarmaAutocov, Var1HalfIdentity) {
  // Phi_1 = 0.5 I, S = I: Gamma(h) = 0.5^h (4/3) I.
  int st = -1;
  const Mat g = autocov(varma_test::identity(2), scaled_identity(2, 0.5), 1, {}, 0, 2, 6, &st);
  ASSERT_EQ(st, 0);
  for (int h = 0; h <= 6; ++h)
    expect_block(g, h, 2, scaled_identity(2, std::pow(0.5, h) * 4.0 / 3.0), 1e-15);
}

TEST(VarmaAutocov, Arma11ScalarComponentsClosedForm) {
  // Diagonal model = two independent ARMA(1,1) with y = phi y + e - theta e:
  // gamma(0) = s (1 - 2 phi theta + theta^2) / (1 - phi^2),
  // gamma(1) = s (1 - phi theta)(phi - theta) / (1 - phi^2), gamma(h) = phi gamma(h-1).
  const Mat phi = {0.7, 0, 0, -0.4}, theta = {0.3, 0, 0, 0.6}, s = {2.0, 0, 0, 0.5};
  int st = -1;
  const Mat g = autocov(s, phi, 1, theta, 1, 2, 4, &st);
  ASSERT_EQ(st, 0);
  for (int c = 0; c < 2; ++c) {
    const double f = phi[c * 3], t = theta[c * 3], v = s[c * 3];
    double want = v * (1 - 2 * f * t + t * t) / (1 - f * f);
    EXPECT_NEAR(g[c * 3], want, 1e-14);
    want = v * (1 - f * t) * (f - t) / (1 - f * f);
    for (int h = 1; h <= 4; ++h, want *= f) EXPECT_NEAR(g[h * 4 + c * 3], want, 1e-14) << h;
    EXPECT_NEAR(g[c == 0 ? 1 : 2], 0.0, 1e-15);
  }
}

// ---- Independent cross-check: the Lyapunov equation of the state-space form

struct LyapunovCase {
  int k, p, q;
  unsigned keep;  // AR lags kept (bit i-1 for lag i; the last lag always)
};
void PrintTo(const LyapunovCase& c, std::ostream* os) {
  *os << "k=" << c.k << " p=" << c.p << " q=" << c.q << " keep=" << c.keep;
}

class VarmaAutocovLyapunov : public ::testing::TestWithParam<LyapunovCase> {};

TEST_P(VarmaAutocovLyapunov, MatchesDoublingSolution) {
  const LyapunovCase c = GetParam();
  std::mt19937_64 rng(1000 + 100 * c.k + 10 * c.p + c.q + 7 * c.keep);
  for (int rep = 0; rep < 3; ++rep) {
    const Mat phi = varma_test::random_ar(rng, c.p, c.k, c.keep);
    Mat theta = varma_test::random_blocks(rng, c.q, c.k, 0.5);
    if (c.q >= 3) std::fill_n(theta.begin() + c.k * c.k, c.k * c.k, 0.0);  // subset MA lags
    const Mat s = varma_test::random_cov(rng, c.k);
    const int L = c.p + c.q + 4;
    Mat ref;
    ASSERT_TRUE(varma_test::lyapunov_autocov(phi, c.p, theta, c.q, s, c.k, L, &ref));
    int st = -1;
    const Mat g = autocov(s, phi, c.p, theta, c.q, c.k, L, &st);
    ASSERT_EQ(st, 0);
    // Relative to the largest element of Gamma(0); the doubling reference is
    // accurate to a few hundred ulps of it for these radii (< 0.95).
    const double tol = 1e-10 * varma_test::max_abs(Mat(ref.begin(), ref.begin() + c.k * c.k));
    for (std::size_t e = 0; e < ref.size(); ++e)
      ASSERT_NEAR(g[e], ref[e], tol) << "element " << e << " rep " << rep;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Models, VarmaAutocovLyapunov,
    ::testing::Values(LyapunovCase{2, 1, 0, 0}, LyapunovCase{2, 1, 1, 0}, LyapunovCase{2, 2, 0, 1},
                      LyapunovCase{2, 2, 2, 0},  // Phi_1 = 0: subset lags {2}
                      LyapunovCase{2, 3, 1, 5}, LyapunovCase{2, 3, 3, 0b001},
                      LyapunovCase{3, 1, 2, 0}, LyapunovCase{3, 2, 1, 1}, LyapunovCase{3, 3, 0, 3},
                      LyapunovCase{3, 4, 2, 0b101}, LyapunovCase{3, 4, 3, 0b111},
                      LyapunovCase{4, 1, 3, 0}, LyapunovCase{4, 2, 2, 1},
                      LyapunovCase{4, 3, 1, 0b010}, LyapunovCase{4, 4, 0, 0b011},
                      LyapunovCase{4, 4, 3, 0b111}, LyapunovCase{2, 4, 1, 0b000}));

TEST(VarmaAutocov, ShortLagCopiesOnlyRequestedBlocks) {
  // L < p: Gamma(0) .. Gamma(L) as in the long answer, nothing written beyond.
  std::mt19937_64 rng(5);
  const int k = 2, p = 4, q = 1;
  const Mat phi = varma_test::random_ar(rng, p, k, 0b111);
  const Mat theta = varma_test::random_blocks(rng, q, k, 0.5);
  const Mat s = varma_test::random_cov(rng, k);
  int st = -1;
  const Mat full = autocov(s, phi, p, theta, q, k, 8, &st);
  ASSERT_EQ(st, 0);
  Mat out(std::size_t(k) * k * 3 + 4, -7.0);
  Mat work(mvtsa::varma_autocov_work_size(p, q, k));
  ASSERT_EQ(mvtsa::varma_autocov_work(out.data(), 2, s.data(), phi.data(), theta.data(), p, q, k,
                                      work.data()),
            0);
  for (int e = 0; e < k * k * 3; ++e) EXPECT_EQ(out[e], full[e]);
  for (int e = k * k * 3; e < k * k * 3 + 4; ++e) EXPECT_EQ(out[e], -7.0);
}

TEST(VarmaAutocov, PsiWeightsAndCrossTermsMatchDefinitions) {
  // Psi_j is the impulse response: feeding e_0 = unit vector through the
  // recursion gives column b of Psi_j as y_j.  C(h) = E[y_t u_{t+h}'] from
  // the MA(infinity) form: sum_{m} Psi_m S T_{m+h}'.
  std::mt19937_64 rng(3);
  const int k = 3, p = 2, q = 2;
  const std::size_t kk = k * k;
  const Mat phi = varma_test::random_ar(rng, p, k, 1);
  const Mat theta = varma_test::random_blocks(rng, q, k, 0.6);
  const Mat s = varma_test::random_cov(rng, k);
  Mat psi(kk * 6);
  mvtsa::varma_psi_weights(phi.data(), p, theta.data(), q, k, 6, psi.data());
  for (int b = 0; b < k; ++b) {
    std::vector<Mat> y(6, Mat(k, 0.0)), e(6, Mat(k, 0.0));
    e[0][b] = 1.0;
    for (int t = 0; t < 6; ++t) {
      for (int a = 0; a < k; ++a) {
        double v = e[t][a];
        for (int j = 1; j <= q && j <= t; ++j)
          for (int c = 0; c < k; ++c) v -= theta[(j - 1) * kk + a * k + c] * e[t - j][c];
        for (int i = 1; i <= p && i <= t; ++i)
          for (int c = 0; c < k; ++c) v += phi[(i - 1) * kk + a * k + c] * y[t - i][c];
        y[t][a] = v;
      }
      for (int a = 0; a < k; ++a) EXPECT_NEAR(psi[t * kk + a * k + b], y[t][a], 1e-14);
    }
  }
  Mat cross(kk * (q + 1)), work(kk * q);
  mvtsa::varma_cross_terms(psi.data(), theta.data(), q, s.data(), k, cross.data(), work.data());
  auto t = [&](int j, int a, int b) {
    if (j == 0) return a == b ? 1.0 : 0.0;
    return j <= q ? -theta[(j - 1) * kk + a * k + b] : 0.0;
  };
  for (int h = 0; h <= q; ++h)
    for (int a = 0; a < k; ++a)
      for (int b = 0; b < k; ++b) {
        double want = 0.0;
        for (int m = 0; m + h <= q; ++m)
          for (int c = 0; c < k; ++c)
            for (int d = 0; d < k; ++d) want += psi[m * kk + a * k + c] * s[c * k + d] * t(m + h, b, d);
        EXPECT_NEAR(cross[h * kk + a * k + b], want, 1e-13);
      }
}

// ---- Solve statuses

TEST(VarmaAutocov, UnitRootStopsTheSolve) {
  int st = -1;
  // Phi_1 = I: the first equation group has all-zero rows from the start.
  Mat g = autocov(varma_test::identity(2), varma_test::identity(2), 1, {}, 0, 2, 3, &st);
  EXPECT_EQ(st, mvtsa::kAutocovSmallPivot);
  EXPECT_EQ(g[0], -99.0);  // output not filled
  // Phi_1 = diag(0.5, 1): only the equation of Gamma(0)(1,1) is singular; it
  // is eliminated last.
  g = autocov(varma_test::identity(2), {0.5, 0, 0, 1.0}, 1, {}, 0, 2, 3, &st);
  EXPECT_EQ(st, mvtsa::kAutocovSmallLastPivot);
  EXPECT_EQ(g[0], -99.0);
}

TEST(VarmaAutocov, AllocationFailureGivesStatusOneWithoutLeak) {
  mvts::Host h;
  h.activate();
  mvtsa::set_host_table(h.table());
  const Mat phi = scaled_identity(2, 0.5), s = varma_test::identity(2);
  Mat out(4 * 4);
  h.fail_allocation_at(1);
  EXPECT_EQ(mvtsa::varma_autocov(out.data(), 3, s.data(), phi.data(), nullptr, 1, 0, 2), 1);
  EXPECT_EQ(h.live_blocks(), 0);
  h.fail_allocation_at(0);
  EXPECT_EQ(mvtsa::varma_autocov(out.data(), 3, s.data(), phi.data(), nullptr, 1, 0, 2), 0);
  EXPECT_NEAR(out[12], 0.125 * 4.0 / 3.0, 1e-15);
  EXPECT_EQ(h.live_blocks(), 0);
}

TEST(VarmaAutocov, WorkSizeSaturatesInsteadOfWrapping) {
  EXPECT_EQ(mvtsa::varma_autocov_work_size(2000000000, 1, 60000), UINT64_MAX);
  EXPECT_GT(mvtsa::varma_autocov_work_size(4, 2, 3), 0u);
}

}  // namespace
