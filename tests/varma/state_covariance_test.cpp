// P(1) from the autocovariances (varma_state_covariance) against the
// Lyapunov solution (kalman_initial_covariance, Bartels-Stewart with one
// refinement step) on the same state-space form: the same outcome, P to
// 1e-12 of max |P| on stationary models (k up to 3, lags up to 52, lag sets
// with and without a common divisor), the same diffuse start on the models
// that have no stationary covariance, and the work size it asks for.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "module/linalg/covariance.hpp"
#include "module/varma/varma_autocov.hpp"
#include "module/varma/varma_kalman.hpp"
#include "module/varma/varma_state_covariance.hpp"
#include "tests/varma/model_support.hpp"

namespace {

using Vec = std::vector<double>;
using lik_test::Model;

// The filter's form of a model (T and Q = R Sigma R', dense).
using Form = lik_test::StateForm;
using lik_test::state_form;

mvtsa::VarmaStateModel view(const Model& md, const Vec& sigma_packed, int m) {
  mvtsa::VarmaStateModel v;
  v.k = md.k;
  v.m = m;
  v.ar = md.phi.data();
  v.ar_lags = md.ar_lags.data();
  v.ar_count = int(md.ar_lags.size());
  v.ma = md.theta.data();
  v.ma_lags = md.ma_lags.data();
  v.ma_count = int(md.ma_lags.size());
  v.sigma_packed = sigma_packed.data();
  return v;
}

constexpr double kCanary = -1.2345e300;
constexpr std::size_t kGuard = 64;

// P(1) by the autocovariances; the work is followed by a guard band that
// must come back untouched.
int by_autocov(const Model& md, const Form& s, Vec* P) {
  Vec packed(std::size_t(md.k * (md.k + 1) / 2));
  mvtsa::pack_symmetric(md.sigma.data(), md.k, packed.data());
  const std::uint64_t n = mvtsa::varma_state_covariance_work(md.k, md.pmax(), md.qmax());
  EXPECT_NE(n, UINT64_MAX);
  Vec work(std::size_t(n) + kGuard, kCanary);
  P->assign(std::size_t(s.f * s.f), -7.0);
  const int out = mvtsa::varma_state_covariance(view(md, packed, s.m), s.Q.data(), P->data(),
                                                work.data());
  for (std::size_t i = 0; i < kGuard; ++i) EXPECT_EQ(work[std::size_t(n) + i], kCanary);
  return out;
}

int by_lyapunov(const Form& s, int k, Vec* P) {
  P->assign(std::size_t(s.f * s.f), -7.0);
  Vec work(mvtsa::kalman_initial_covariance_work(s.f));
  return mvtsa::kalman_initial_covariance(s.f, k, s.T.data(), s.Q.data(), P->data(), work.data());
}

// max |P_a - P_b| / max |P_b|, with the outcomes compared and P_a checked
// symmetric to the last bit.
double compare_routes(const Model& md, int want_outcome) {
  const Form s = state_form(md);
  Vec fast, ref;
  const int of = by_autocov(md, s, &fast);
  const int ol = by_lyapunov(s, md.k, &ref);
  EXPECT_EQ(ol, want_outcome);
  EXPECT_EQ(of, ol);
  double big = 0.0, diff = 0.0;
  for (std::size_t i = 0; i < ref.size(); ++i) {
    big = std::max(big, std::fabs(ref[i]));
    diff = std::max(diff, std::fabs(fast[i] - ref[i]));
  }
  for (std::int64_t i = 0; i < s.f; ++i)
    for (std::int64_t j = 0; j < i; ++j)
      EXPECT_EQ(fast[std::size_t(i * s.f + j)], fast[std::size_t(j * s.f + i)]);
  return diff / big;
}

// A model with blocks at the given lags: AR blocks with Frobenius norms
// summing to `ar_norm` (below 1: every root inside the unit circle), MA
// entries in (-0.6, 0.6), Sigma = B B' + I/2.
Model lagged_model(int k, std::vector<int> ar_lags, std::vector<int> ma_lags, double ar_norm,
                   std::mt19937& g) {
  std::uniform_real_distribution<double> U(-1, 1);
  Model md;
  md.k = k;
  md.ar_lags = std::move(ar_lags);
  md.ma_lags = std::move(ma_lags);
  const std::size_t kk = std::size_t(k) * k;
  md.phi.resize(md.ar_lags.size() * kk);
  md.theta.resize(md.ma_lags.size() * kk);
  for (double& x : md.phi) x = U(g);
  for (double& x : md.theta) x = 0.6 * U(g);
  double norm = 0.0;
  for (std::size_t b = 0; b < md.ar_lags.size(); ++b) {
    double s = 0.0;
    for (std::size_t e = 0; e < kk; ++e) s += md.phi[b * kk + e] * md.phi[b * kk + e];
    norm += std::sqrt(s);
  }
  for (double& x : md.phi) x *= ar_norm / norm;
  Vec b(kk);
  for (double& x : b) x = U(g);
  md.sigma.assign(kk, 0.0);
  for (int i = 0; i < k; ++i)
    for (int j = 0; j < k; ++j) {
      for (int l = 0; l < k; ++l) md.sigma[std::size_t(i * k + j)] += b[i * k + l] * b[j * k + l];
      if (i == j) md.sigma[std::size_t(i * k + j)] += 0.5;
    }
  return md;
}

struct LagCase {
  int k;
  std::vector<int> ar, ma;
};

TEST(StateCovariance, RandomStationaryModelsMatchTheLyapunovSolution) {
  std::mt19937 g(2207);
  const LagCase cases[] = {
      {1, {1}, {}},          {2, {1}, {1}},          {3, {1, 2}, {1}},   {2, {1, 2, 3}, {}},
      {3, {2}, {1, 3}},      {2, {}, {1, 2}},        {3, {}, {4}},       {2, {2, 4}, {2}},
      {3, {3}, {6}},         {2, {1, 12}, {1}},      {2, {52}, {}},      {3, {52}, {}},
      {2, {1, 52}, {}},      {2, {26, 52}, {13}},    {2, {}, {50}},      {3, {4}, {1, 2, 3}},
      {1, {5, 10}, {15}},    {2, {7}, {}},
  };
  for (const LagCase& c : cases)
    for (int rep = 0; rep < 3; ++rep) {
      const Model md = lagged_model(c.k, c.ar, c.ma, 0.4 + 0.25 * rep, g);
      SCOPED_TRACE(testing::Message() << "k " << c.k << " AR lags up to " << md.pmax()
                                      << " MA lags up to " << md.qmax() << " rep " << rep);
      EXPECT_LE(compare_routes(md, mvtsa::kInitialStationary), 1e-12);
    }
}

// Roots near the unit circle: a VAR(1) with the real root r and a
// seasonal VAR at lag 12 whose 12 roots have modulus r^(1/12).  Both
// routes are exact in exact arithmetic; the distance grows as u / (1 - r)
// (measured: 9e-16 at r = 0.99, 1.5e-14 at 0.999, 2.5e-13 at 0.9999).
TEST(StateCovariance, NearUnitRootsMatchTheLyapunovSolution) {
  for (double r : {0.9, 0.99, 0.999, 0.9999}) {
    SCOPED_TRACE(testing::Message() << "r " << r);
    Model md;
    md.k = 2;
    md.ar_lags = {1};
    md.ma_lags = {1};
    md.phi = {r, 0.5, 0.0, 0.3};
    md.theta = {0.4, -0.2, 0.1, 0.3};
    md.sigma = {1.0, 0.3, 0.3, 0.5};
    const double tol = 0x1p-51 / (1.0 - r);
    EXPECT_LE(compare_routes(md, mvtsa::kInitialStationary), tol);
    md.ar_lags = {12};
    EXPECT_LE(compare_routes(md, mvtsa::kInitialStationary), tol);
  }
}

// A common divisor g of the lags splits the state into g classes of blocks
// (i = c, c + g, ...) with no covariance between two classes: those
// elements are exactly zero.
TEST(StateCovariance, LagsWithACommonDivisorLeaveTheClassesUncorrelated) {
  std::mt19937 g(11);
  struct Case {
    LagCase lags;
    int gcd;
  };
  for (const Case& c : {Case{{2, {4, 8}, {4}}, 4}, Case{{3, {6}, {3}}, 3}, Case{{2, {52}, {}}, 52},
                        Case{{2, {10}, {4}}, 2}}) {
    const Model md = lagged_model(c.lags.k, c.lags.ar, c.lags.ma, 0.7, g);
    const Vec packed(std::size_t(md.k * (md.k + 1) / 2), 0.0);
    const Form s = state_form(md);
    const int gcd = mvtsa::reduced_lags(view(md, packed, s.m)).g;
    ASSERT_EQ(gcd, c.gcd);
    Vec P;
    ASSERT_EQ(by_autocov(md, s, &P), mvtsa::kInitialStationary);
    std::int64_t zeros = 0;
    for (std::int64_t i = 0; i < s.f; ++i)
      for (std::int64_t j = 0; j < s.f; ++j) {
        if ((i / md.k - j / md.k) % gcd == 0) continue;
        EXPECT_EQ(P[std::size_t(i * s.f + j)], 0.0);
        ++zeros;
      }
    EXPECT_GT(zeros, 0);
  }
}

TEST(StateCovariance, ReducedLagsSkipZeroBlocksAndRouteFollowsTheCost) {
  Model md;
  md.k = 2;
  md.ar_lags = {3, 52};
  md.ma_lags = {26};
  md.phi = {0, 0, 0, 0, 0.5, 0.1, 0.0, 0.3};  // the block at lag 3 is zero
  md.theta = {0.2, 0.0, 0.0, 0.2};
  md.sigma = {1, 0, 0, 1};
  const Vec packed = {1, 0, 1};
  mvtsa::ReducedLags r = mvtsa::reduced_lags(view(md, packed, 52));
  EXPECT_EQ(r.g, 26);
  EXPECT_EQ(r.p_reduced, 2);
  EXPECT_EQ(r.q_reduced, 1);
  EXPECT_TRUE(mvtsa::state_covariance_by_autocov(view(md, packed, 52)));
  // no block at all: white noise
  md.phi.assign(8, 0.0);
  md.theta.assign(4, 0.0);
  r = mvtsa::reduced_lags(view(md, packed, 52));
  EXPECT_EQ(r.g, 1);
  EXPECT_EQ(r.p_reduced, 0);
  EXPECT_EQ(r.q_reduced, 0);
  // k = 10 with ten full AR lags: the Schur form is the cheaper route
  Model wide;
  wide.k = 10;
  for (int l = 1; l <= 10; ++l) wide.ar_lags.push_back(l);
  wide.phi.assign(1000, 0.01);
  const Vec p10(55, 0.0);
  EXPECT_FALSE(mvtsa::state_covariance_by_autocov(view(wide, p10, 10)));
  wide.ar_lags = {10};
  wide.phi.assign(100, 0.01);
  EXPECT_TRUE(mvtsa::state_covariance_by_autocov(view(wide, p10, 10)));
}

// No stationary covariance: unit and explosive roots, at lag 1 and at lag
// 52 alone, and an indefinite Sigma; both routes end on the same diffuse
// start, 1e6 Sigma_jj on the elements of variable j.
TEST(StateCovariance, ModelsWithoutAStationaryCovarianceFallBackAsTheLyapunovRouteDoes) {
  struct Case {
    const char* what;
    Vec phi;
    int outcome;
  };
  const Case cases[] = {
      {"unit root Phi = I", {1, 0, 0, 1}, mvtsa::kInitialSingular},
      {"one unit root", {0.5, 0.3, 0, 1}, mvtsa::kInitialSingular},
      {"root -1", {-1, 0, 0.4, 0.2}, mvtsa::kInitialSingular},
      {"roots 2 and 1/2 (product 1)", {2, 0.7, 0, 0.5}, mvtsa::kInitialSingular},
      {"explosive root 1.5", {1.5, 0, 0.1, 0.5}, mvtsa::kInitialIndefinite},
      {"explosive pair 1.2 e^{+-i}", {1.2 * std::cos(1.0), -1.2 * std::sin(1.0),
                                      1.2 * std::sin(1.0), 1.2 * std::cos(1.0)},
       mvtsa::kInitialIndefinite},
  };
  for (const Case& c : cases)
    for (int lag : {1, 2, 52}) {
      SCOPED_TRACE(testing::Message() << c.what << " at lag " << lag);
      Model md;
      md.k = 2;
      md.ar_lags = {lag};
      md.phi = c.phi;
      md.sigma = {1.0, 0.2, 0.2, 2.0};
      const Form s = state_form(md);
      Vec P, ref;
      const int of = by_autocov(md, s, &P);
      EXPECT_NE(of, mvtsa::kInitialStationary);
      EXPECT_EQ(by_lyapunov(s, 2, &ref), c.outcome);
      EXPECT_EQ(P, ref);
      for (std::int64_t i = 0; i < s.f; ++i)
        EXPECT_EQ(P[std::size_t(i * (s.f + 1))], i % 2 ? 2e6 : 1e6);
    }
  // an indefinite Sigma, with and without an AR part
  for (const std::vector<int>& ar : {std::vector<int>{}, std::vector<int>{2}}) {
    Model md;
    md.k = 2;
    md.ar_lags = ar;
    md.phi.assign(ar.size() * 4, 0.25);
    md.ma_lags = {1};
    md.theta = {0.3, 0.0, 0.0, 0.3};
    md.sigma = {1.0, 2.0, 2.0, 1.0};
    EXPECT_EQ(compare_routes(md, mvtsa::kInitialIndefinite), 0.0);
  }
}

// The closed forms: an AR(1) at lag 52 alone is 52 interleaved AR(1)
// series, so P is diagonal, P_00 = gamma0 = s2 / (1 - phi^2) and the
// predictions phi Y(t+i-52) have P_ii = phi^2 gamma0; a pure MA at lag q
// alone has P_00 = s2 (1 + theta^2), P_ii = theta^2 s2 (i >= 1) and
// Cov(Y(t), Y(t+q|t)) = -theta s2.
TEST(StateCovariance, SingleDistantLagsHaveTheirClosedForms) {
  Model ar;
  ar.k = 1;
  ar.ar_lags = {52};
  ar.phi = {0.5};
  ar.sigma = {2.0};
  Form s = state_form(ar);
  Vec P;
  ASSERT_EQ(by_autocov(ar, s, &P), mvtsa::kInitialStationary);
  const double gamma0 = 2.0 / 0.75;
  for (std::int64_t i = 0; i < 52; ++i)
    for (std::int64_t j = 0; j < 52; ++j) {
      const double want = i != j ? 0.0 : i == 0 ? gamma0 : 0.25 * gamma0;
      EXPECT_NEAR(P[std::size_t(i * 52 + j)], want, 1e-15) << i << " " << j;
    }
  Model ma;
  ma.k = 1;
  ma.ma_lags = {50};
  ma.theta = {0.5};
  ma.sigma = {2.0};
  s = state_form(ma);
  ASSERT_EQ(by_autocov(ma, s, &P), mvtsa::kInitialStationary);
  ASSERT_EQ(s.f, 51);
  EXPECT_EQ(P[0], 2.5);
  for (std::int64_t i = 1; i < 51; ++i) EXPECT_EQ(P[std::size_t(i * 52)], 0.5);
  EXPECT_EQ(P[50], -1.0);  // Cov(Y(t), Y(t+50|t)) = -theta s2
}

TEST(StateCovariance, WorkSizeSaturates) {
  EXPECT_EQ(mvtsa::varma_state_covariance_work(0, 1, 1), UINT64_MAX);
  EXPECT_EQ(mvtsa::varma_state_covariance_work(2, -1, 1), UINT64_MAX);
  EXPECT_EQ(mvtsa::varma_state_covariance_work(1 << 20, 1 << 20, 0), UINT64_MAX);
  EXPECT_LT(mvtsa::varma_state_covariance_work(2, 52, 0), std::uint64_t(1) << 20);
}

}  // namespace
