// The superfast route of the exact likelihood (superfast_toeplitz.hpp)
// against the Durbin-Levinson route, long double Durbin-Levinson and the
// dense route: its reflection coefficients and predictor step by step, the
// log-likelihood over a grid of ARFIMA models, the route chosen by n alone
// (the same bits in repeated calls, threads and sessions), its fallback on
// an ill-conditioned matrix, and the statuses of singular and indefinite
// matrices.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "host/host.hpp"
#include "module/farma/durbin_levinson.hpp"
#include "module/farma/farma_loglik.hpp"
#include "module/farma/superfast_toeplitz.hpp"
#include "module/farma/toeplitz_filter.hpp"
#include "module/frame/host.hpp"
#include "tests/farma/dense_reference.hpp"
#include "tests/farma/long_series.hpp"

namespace {

using mvtsa::ToeplitzRoute;

struct Model {
  std::string name;
  double d;
  std::vector<double> phi, theta;  // phi_1..phi_p, theta_1..theta_q
};

// (1 - r e^(iw) B)(1 - r e^(-iw) B)
std::vector<double> pair_phi(double r, double w) { return {2 * r * std::cos(w), -r * r}; }

std::vector<double> model_gamma(const Model& m, std::int64_t n) {
  const int p = int(m.phi.size()), q = int(m.theta.size());
  std::vector<double> ar(p + 1, 1.0), ma(q + 1, 1.0), g(std::size_t(n), 0.0);
  for (int j = 0; j < p; ++j) ar[j + 1] = -m.phi[j];
  for (int j = 0; j < q; ++j) ma[j + 1] = -m.theta[j];
  std::vector<double> w(mvtsa::farma_model_gamma_work_size(n - 1, p, q));
  EXPECT_EQ(mvtsa::farma_model_gamma(g.data(), n - 1, m.d, p, q, ar.data(), ma.data(), 1.0,
                                     w.data()),
            0)
      << m.name;
  return g;
}

struct Lik {
  int status = -1;
  double logdet = 0, quad = 0, last = 0;
  ToeplitzRoute route = ToeplitzRoute::kDurbinLevinson;
  double loglik() const { return -(logdet + quad) / 2; }
  bool same_bits(const Lik& o) const {
    return status == o.status && logdet == o.logdet && quad == o.quad && last == o.last;
  }
};

Lik routed(const std::vector<double>& g, const std::vector<double>& y) {
  const std::int64_t n = std::int64_t(y.size());
  std::vector<double> w(mvtsa::toeplitz_loglik_work_size(n));
  Lik l;
  l.status = mvtsa::toeplitz_loglik(g.data(), y.data(), n, w.data(), &l.logdet, &l.quad, &l.last,
                                    &l.route);
  return l;
}

Lik levinson(const std::vector<double>& g, const std::vector<double>& y) {
  const std::int64_t n = std::int64_t(y.size());
  std::vector<double> w(mvtsa::levinson_work_size(n));
  Lik l;
  l.status = mvtsa::toeplitz_loglik_levinson(g.data(), y.data(), n, w.data(), &l.logdet, &l.quad,
                                             &l.last);
  return l;
}

class SuperfastToeplitz : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.activate();
    mvtsa::set_host_table(host_.table());
  }
  mvts::Host host_;
};

// The doubling recursion's reflection coefficients and predictor are the
// Durbin-Levinson pass's, at sizes on both sides of the leaf and of the
// splits (odd halves, transform lengths 3 2^j and 5 2^j, and from
// kKeepTransformsBelow the transforms of M_1 made twice).
TEST_F(SuperfastToeplitz, ReflectionCoefficientsAndPredictorMatchDurbinLevinson) {
  const Model m{"d=0.3 ar=0.5 ma=-0.4", 0.3, {0.5}, {-0.4}};
  for (std::int64_t n : {2, 3, 64, 65, 66, 129, 200, 777, 5000, 40000}) {
    SCOPED_TRACE("n = " + std::to_string(n));
    const std::vector<double> g = model_gamma(m, n);
    std::vector<double> kappa(n), a(n), work(mvtsa::schur_work_size(n));
    double growth = 0;
    ASSERT_EQ(mvtsa::schur_doubling(g.data(), n, kappa.data(), a.data(), work.data(), &growth), 0);
    EXPECT_LE(growth, 1.0 + 1e-12);
    // Durbin-Levinson: phi_(t,t) at each pivot, the predictor of order n - 1.
    std::vector<double> dl(n), y(n, 0.0);
    std::vector<double> lev(mvtsa::levinson_work_size(n));
    mvtsa::levinson_pass(g.data(), y.data(), n, lev.data(),
                         [&](std::int64_t t, double, double, double k) { dl[t] = k; });
    EXPECT_EQ(kappa[0], 0.0);
    double worst = 0;
    for (std::int64_t t = 1; t < n; ++t) worst = std::max(worst, std::fabs(kappa[t] - dl[t]));
    EXPECT_LT(worst, 1e-13);
    EXPECT_EQ(a[0], 1.0);
    worst = 0;
    for (std::int64_t j = 1; j < n; ++j) worst = std::max(worst, std::fabs(-a[j] - lev[n - j]));
    EXPECT_LT(worst, 1e-13);
  }
}

// At small n against the dense route (packed sweep and Cholesky), a method
// that shares nothing with either recursion.
TEST_F(SuperfastToeplitz, AgreesWithTheDenseRoute) {
  for (const Model& m : {Model{"d=0.45 ar=0.9", 0.45, {0.9}, {}},
                         Model{"d=-0.3 pair", -0.3, pair_phi(0.95, 1.0), {0.5}}}) {
    const std::int64_t n = 300;
    const std::vector<double> g = model_gamma(m, n);
    const std::vector<double> y = farma_test::arfima_series(m.d, m.phi, m.theta, n, 3);
    std::vector<double> w(mvtsa::superfast_work_size(n));
    Lik s, ref;
    ASSERT_EQ(mvtsa::toeplitz_superfast(g.data(), y.data(), n, w.data(), &s.logdet, &s.quad,
                                        &s.last),
              0)
        << m.name;
    ASSERT_EQ(farma_test::dense_toeplitz_loglik(g, y, &ref.logdet, &ref.quad), 0);
    EXPECT_NEAR(s.logdet, ref.logdet, 1e-11 * (1 + std::fabs(ref.logdet))) << m.name;
    EXPECT_NEAR(s.quad, ref.quad, 1e-11 * ref.quad) << m.name;
  }
}

std::vector<Model> grid() {
  std::vector<Model> g;
  for (double d : {-0.49, -0.3, 0.0, 0.2, 0.4, 0.45, 0.49}) {
    const std::string ds = "d=" + std::to_string(d);
    g.push_back({ds, d, {}, {}});
    for (double r : {0.5, 0.9, 0.99, -0.99})
      g.push_back({ds + " ar=" + std::to_string(r), d, {r}, {}});
    g.push_back({ds + " pair 0.95", d, pair_phi(0.95, M_PI / 3), {}});
    g.push_back({ds + " pair 0.99", d, pair_phi(0.99, M_PI / 18), {}});
    for (double t : {0.99, -0.99}) g.push_back({ds + " ma=" + std::to_string(t), d, {}, {t}});
    g.push_back({ds + " ar=0.9 ma=0.99", d, {0.9}, {0.99}});
  }
  return g;
}

// The log-likelihood within 1e-9 relative of Durbin-Levinson's, and where
// the two differ by more than 1e-11, within 1e-9 of long double
// Durbin-Levinson; a declined case gives Durbin-Levinson's bits.  Measured
// (bench/superfast_toeplitz.md): at most 2e-10 from Durbin-Levinson.
void check_grid(std::int64_t n, const std::vector<Model>& models, int* declined) {
  for (const Model& m : models) {
    SCOPED_TRACE(m.name + " n = " + std::to_string(n));
    const std::vector<double> g = model_gamma(m, n);
    const std::vector<double> y = farma_test::arfima_series(m.d, m.phi, m.theta, n, 11);
    const Lik s = routed(g, y), d = levinson(g, y);
    ASSERT_EQ(d.status, 0);
    ASSERT_EQ(s.status, 0);
    if (s.route == ToeplitzRoute::kSuperfastDeclined) {
      ++*declined;
      EXPECT_TRUE(s.same_bits(d));
      continue;
    }
    ASSERT_EQ(s.route, ToeplitzRoute::kSuperfast);
    const double err = std::fabs(s.loglik() - d.loglik()) / std::fabs(d.loglik());
    EXPECT_LT(err, 1e-9);
    if (err > 1e-11) {
      Lik w;
      farma_test::wide_toeplitz_loglik(g, y, &w.logdet, &w.quad);
      EXPECT_LT(std::fabs(s.loglik() - w.loglik()), 1e-9 * std::fabs(w.loglik()));
    }
  }
}

TEST_F(SuperfastToeplitz, AgreesWithDurbinLevinsonOverTheGrid) {
  int declined = 0;
  check_grid(mvtsa::kSuperfastFrom, grid(), &declined);
  check_grid(5000, grid(), &declined);
  RecordProperty("declined", declined);
}

// n = 2e4 on the grid's hardest corners (d near +-1/2 with roots near the
// unit circle).
TEST_F(SuperfastToeplitz, AgreesWithDurbinLevinsonAtTwentyThousand) {
  int declined = 0;
  check_grid(20000,
             {{"d=0.45 pair 0.99", 0.45, pair_phi(0.99, M_PI / 18), {}},
              {"d=0.49 ma=-0.99", 0.49, {}, {-0.99}},
              {"d=-0.49 ma=0.99", -0.49, {}, {0.99}}},
             &declined);
  RecordProperty("declined", declined);
}

// The route is a function of n: below the crossover Durbin-Levinson (the
// bits of toeplitz_loglik_levinson), from it the superfast route; repeated
// calls and calls from two threads give the same bits.
TEST_F(SuperfastToeplitz, RouteIsChosenByNAlone) {
  const Model m{"d=0.3 ar=0.5 ma=-0.4", 0.3, {0.5}, {-0.4}};
  const std::int64_t from = mvtsa::kSuperfastFrom;
  const std::vector<double> g = model_gamma(m, from);
  const std::vector<double> y = farma_test::arfima_series(m.d, m.phi, m.theta, from, 2);
  const std::vector<double> g1(g.begin(), g.end() - 1), y1(y.begin(), y.end() - 1);
  const Lik below = routed(g1, y1);
  EXPECT_EQ(below.route, ToeplitzRoute::kDurbinLevinson);
  EXPECT_TRUE(below.same_bits(levinson(g1, y1)));
  const Lik first = routed(g, y);
  EXPECT_EQ(first.route, ToeplitzRoute::kSuperfast);
  EXPECT_FALSE(first.same_bits(levinson(g, y)));  // the other route's rounding
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(routed(g, y).same_bits(first));
  Lik t1, t2;
  std::thread a([&] { t1 = routed(g, y); }), b([&] { t2 = routed(g, y); });
  a.join();
  b.join();
  EXPECT_TRUE(t1.same_bits(first));
  EXPECT_TRUE(t2.same_bits(first));
}

// FARMALIK in two sessions, the second one's plan cache first filled by a
// call at another length: the same bits.
TEST(SuperfastFarmalik, TwoSessionsGiveTheSameBits) {
  using mvts::Value;
  const std::int64_t n = 3000;
  const auto y = farma_test::arfima_series(0.3, {0.5}, {-0.4}, n, 8);
  auto args = [](const std::vector<double>& s) {
    return std::vector<Value>{Value::column(s), Value::scalar(0.3), Value::scalar(0.5),
                              Value::scalar(-0.4), Value::omitted(), Value::omitted(),
                              Value::omitted(), Value::scalar(1)};
  };
  mvts::Session s1, s2;
  auto r1 = s1.call("FARMALIK", args(y));
  const std::vector<double> other(y.begin(), y.begin() + 2500);
  ASSERT_EQ(s2.call("FARMALIK", args(other)).status, 0);
  auto r2 = s2.call("FARMALIK", args(y));
  ASSERT_EQ(r1.status, 0);
  ASSERT_EQ(r2.status, 0);
  EXPECT_EQ(r1.outputs[0]->data, r2.outputs[0]->data);
}

// d = 0.4999 with an AR root of 0.99: Sigma so ill-conditioned that the
// superfast route's predictor misses the Yule-Walker equations by 4.8e-7
// relative (its log-likelihood differs from Durbin-Levinson's by 3.7e-8):
// it declines, and the call gives the Durbin-Levinson route's bits.  Milder
// (d = 0.45) it runs.
TEST_F(SuperfastToeplitz, DeclinesAnIllConditionedMatrixForDurbinLevinson) {
  const std::int64_t n = 3000;
  const Model bad{"d=0.4999 ar=0.99", 0.4999, {0.99}, {}};
  const std::vector<double> g = model_gamma(bad, n);
  const std::vector<double> y = farma_test::arfima_series(bad.d, bad.phi, {}, n, 3);
  std::vector<double> w(mvtsa::superfast_work_size(n));
  Lik s;
  mvtsa::SuperfastChecks checks;
  EXPECT_EQ(mvtsa::toeplitz_superfast(g.data(), y.data(), n, w.data(), &s.logdet, &s.quad,
                                      &s.last, &checks),
            mvtsa::kSuperfastDeclined);
  EXPECT_GT(checks.predictor_residual, 10 * mvtsa::kPredictorTol);
  const Lik routed_lik = routed(g, y);
  EXPECT_EQ(routed_lik.route, ToeplitzRoute::kSuperfastDeclined);
  EXPECT_TRUE(routed_lik.same_bits(levinson(g, y)));
  RecordProperty("predictor_residual", std::to_string(checks.predictor_residual));
  const Model mild{"d=0.45 ar=0.99", 0.45, {0.99}, {}};
  EXPECT_EQ(routed(model_gamma(mild, n), y).route, ToeplitzRoute::kSuperfast);
}

// The GLS mean profiled out: mu, ln det and the quadratic form against
// toeplitz_loglik_gls (Durbin-Levinson), and a level added to the series
// moves mu by the level and leaves the quadratic form.
TEST_F(SuperfastToeplitz, GlsMeanMatchesDurbinLevinson) {
  const std::int64_t n = 3000;
  for (const Model& m : {Model{"d=0.4 ar=0.5", 0.4, {0.5}, {}},
                         Model{"d=-0.3 ma=0.9", -0.3, {}, {0.9}},
                         Model{"d=0.45 pair 0.95", 0.45, pair_phi(0.95, 1.0), {0.3}}}) {
    SCOPED_TRACE(m.name);
    const std::vector<double> g = model_gamma(m, n);
    std::vector<double> y = farma_test::arfima_series(m.d, m.phi, m.theta, n, 9);
    for (double& v : y) v += 2.5;
    std::vector<double> w(mvtsa::superfast_gls_work_size(n)), a(n), b(n);
    double ld = 0, q = 0, mu = 0, ld_d = 0, q_d = 0, mu_d = 0;
    ASSERT_EQ(mvtsa::toeplitz_superfast_gls(g.data(), y.data(), n, w.data(), &ld, &q, &mu), 0);
    ASSERT_EQ(mvtsa::toeplitz_loglik_gls(g.data(), y.data(), n, w.data(), a.data(), b.data(),
                                         &ld_d, &q_d, &mu_d),
              0);
    EXPECT_NEAR(mu, mu_d, 1e-9 * std::fabs(mu_d));
    EXPECT_NEAR(ld, ld_d, 1e-10 * std::fabs(ld_d) + 1e-9);
    EXPECT_NEAR(q, q_d, 1e-9 * q_d);
    for (double& v : y) v += 100.0;
    double ld2 = 0, q2 = 0, mu2 = 0;
    ASSERT_EQ(mvtsa::toeplitz_superfast_gls(g.data(), y.data(), n, w.data(), &ld2, &q2, &mu2), 0);
    EXPECT_NEAR(mu2, mu + 100.0, 1e-9 * (mu + 100.0));
    EXPECT_EQ(ld2, ld);
    EXPECT_NEAR(q2, q, 1e-7 * q);
  }
}

// farma_loglik at the GLS mean takes the superfast route from the same n as
// toeplitz_loglik: its values are toeplitz_superfast_gls's.
TEST_F(SuperfastToeplitz, ExactLikelihoodAtTheGlsMeanTakesTheRouteOfN) {
  const std::int64_t n = mvtsa::kSuperfastFrom;
  const Model m{"d=0.3 ar=0.5 ma=-0.4", 0.3, {0.5}, {-0.4}};
  const std::vector<double> g = model_gamma(m, n);
  const std::vector<double> y = farma_test::arfima_series(m.d, m.phi, m.theta, n, 4);
  const double ar[2] = {1.0, -0.5}, ma[2] = {1.0, 0.4};
  std::vector<double> w(mvtsa::farma_loglik_work_size(n, 1, 1, mvtsa::kFarmaExactGls));
  ASSERT_EQ(mvtsa::farma_loglik(w.data(), y.data(), n, m.d, 1, 1, ar, ma, 1.0,
                                mvtsa::kFarmaExactGls),
            0);
  std::vector<double> ws(mvtsa::superfast_gls_work_size(n));
  double ld = 0, q = 0, mu = 0;
  ASSERT_EQ(mvtsa::toeplitz_superfast_gls(g.data(), y.data(), n, ws.data(), &ld, &q, &mu), 0);
  EXPECT_EQ(w[1], ld);
  EXPECT_EQ(w[2], q);
  EXPECT_EQ(w[3], mu);
}

// A cancelled call stops on both routes with 398 (the recursion asks the
// host every 1024 steps, as the Durbin-Levinson pass does).
TEST_F(SuperfastToeplitz, CancelledCallReturns398OnBothRoutes) {
  const Model m{"d=0.3", 0.3, {}, {}};
  const std::int64_t n = 5000;
  const std::vector<double> g = model_gamma(m, n);
  const std::vector<double> y = farma_test::arfima_series(m.d, {}, {}, n, 1);
  host_.cancel();
  const Lik s = routed(g, y);
  EXPECT_EQ(s.route, ToeplitzRoute::kSuperfast);
  EXPECT_EQ(s.status, mvtsa::kMsgCancelled);
  EXPECT_EQ(levinson(g, y).status, mvtsa::kMsgCancelled);
}

// Autocovariances with chosen reflection coefficients (kappa_t = 0 .. and
// the ones given), by the Levinson recursion run backwards:
//   gamma(t) = kappa_t v_(t-1) + sum_j phi_(t-1,j) gamma(t-j).
std::vector<double> gamma_from_kappas(const std::vector<double>& kappa) {
  const std::size_t n = kappa.size();
  std::vector<double> g(n), phi(n, 0.0), next(n, 0.0);
  g[0] = 1.0;
  double v = 1.0;
  for (std::size_t t = 1; t < n; ++t) {
    double s = kappa[t] * v;
    for (std::size_t j = 1; j < t; ++j) s += phi[j] * g[t - j];
    g[t] = s;
    for (std::size_t j = 1; j < t; ++j) next[j] = phi[j] - kappa[t] * phi[t - j];
    next[t] = kappa[t];
    phi.swap(next);
    v *= (1 - kappa[t]) * (1 + kappa[t]);
  }
  return g;
}

// A pivot of 0 (kappa_1500 = 1) gives 178, a negative one (kappa_1500 =
// 1.5) 315, on both routes.
TEST_F(SuperfastToeplitz, SingularAndIndefiniteMatricesGiveTheStatusesOfDurbinLevinson) {
  const std::int64_t n = 3000;
  const std::vector<double> y = farma_test::arfima_series(0.2, {}, {}, n, 5);
  for (double bad : {1.0, 1.5}) {
    std::vector<double> kappa(n);
    for (std::int64_t t = 1; t < n; ++t) kappa[t] = 0.3 / double(t);
    kappa[1500] = bad;
    const std::vector<double> g = gamma_from_kappas(kappa);
    const Lik s = routed(g, y), d = levinson(g, y);
    EXPECT_EQ(s.route, ToeplitzRoute::kSuperfast);
    EXPECT_EQ(d.status, bad == 1.0 ? mvtsa::kMsgSingular : mvtsa::kStatusGammaFailed);
    EXPECT_EQ(s.status, d.status);
  }
}

}  // namespace
