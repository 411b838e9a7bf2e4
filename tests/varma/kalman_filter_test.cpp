// kalman_filter's steps on the structured transition (the shifted rows and
// columns of T P T', the gain and update over the lower triangle, the state
// carried alone through repeats) against a textbook filter on the dense
// companion form written here: every predicted mean and covariance, for
// sparse and distant lags, moving averages and missing rows; and the step
// at which a diverging filter stops.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "host/host.hpp"
#include "module/frame/host.hpp"
#include "module/frame/tolerances.hpp"
#include "module/linalg/covariance.hpp"
#include "module/varma/varma_autocov.hpp"
#include "module/varma/varma_kalman.hpp"
#include "tests/varma/model_support.hpp"

namespace {

using Vec = std::vector<double>;
using lik_test::Model;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Moments {
  Vec a, P;
};

class Recorder final : public mvtsa::KalmanSink {
 public:
  explicit Recorder(std::int64_t f) : f_(f) {}
  int predicted(std::int64_t, const double* a, const double* P, std::int64_t) override {
    steps.push_back({Vec(a, a + f_), Vec(P, P + f_ * f_)});
    return 0;
  }
  int filtered(std::int64_t, const double*, const double*) override { return 0; }
  std::vector<Moments> steps;

 private:
  std::int64_t f_;
};

using Dense = lik_test::StateForm;  // T (f x f) and Q = R Sigma R'

// P -> T P T' + Q, dense.
Vec predict(const Dense& d, const Vec& P) {
  const std::int64_t f = d.f;
  Vec X(P.size(), 0.0), out(d.Q);
  for (std::int64_t r = 0; r < f; ++r)
    for (std::int64_t b = 0; b < f; ++b)
      for (std::int64_t c = 0; c < f; ++c) X[r * f + c] += d.T[r * f + b] * P[b * f + c];
  for (std::int64_t r = 0; r < f; ++r)
    for (std::int64_t c = 0; c < f; ++c)
      for (std::int64_t b = 0; b < f; ++b) out[r * f + c] += X[r * f + b] * d.T[c * f + b];
  return out;
}

// The textbook filter from P(1): F = Z P Z', K = P Z' F^-1 (F inverted by
// Gauss-Jordan), a(t|t) = a + K v, P(t|t) = P - K Z P, a missing row leaving
// both as they are.
std::vector<Moments> textbook_filter(const Dense& d, Vec P, const Vec& y, std::int64_t T) {
  const std::int64_t f = d.f, k = d.k;
  Vec a(std::size_t(f), 0.0);
  std::vector<Moments> out;
  for (std::int64_t t = 0; t < T; ++t) {
    out.push_back({a, P});
    bool missing = false;
    for (std::int64_t i = 0; i < k; ++i) missing = missing || std::isnan(y[t * k + i]);
    if (!missing) {
      Vec F(std::size_t(k * k)), G(std::size_t(k * k), 0.0);
      for (std::int64_t i = 0; i < k; ++i) {
        G[i * k + i] = 1.0;
        for (std::int64_t j = 0; j < k; ++j) F[i * k + j] = P[i * f + j];
      }
      for (std::int64_t c = 0; c < k; ++c) {  // no pivoting: F is positive definite here
        const double piv = F[c * k + c];
        for (std::int64_t j = 0; j < k; ++j) {
          F[c * k + j] /= piv;
          G[c * k + j] /= piv;
        }
        for (std::int64_t r = 0; r < k; ++r) {
          if (r == c) continue;
          const double g = F[r * k + c];
          for (std::int64_t j = 0; j < k; ++j) {
            F[r * k + j] -= g * F[c * k + j];
            G[r * k + j] -= g * G[c * k + j];
          }
        }
      }
      Vec K(std::size_t(f * k), 0.0), Pn(P);
      for (std::int64_t r = 0; r < f; ++r)
        for (std::int64_t c = 0; c < k; ++c)
          for (std::int64_t b = 0; b < k; ++b) K[r * k + c] += P[r * f + b] * G[b * k + c];
      for (std::int64_t r = 0; r < f; ++r) {
        for (std::int64_t b = 0; b < k; ++b) a[r] += K[r * k + b] * (y[t * k + b] - out.back().a[b]);
        for (std::int64_t c = 0; c < f; ++c)
          for (std::int64_t b = 0; b < k; ++b) Pn[r * f + c] -= K[r * k + b] * P[b * f + c];
      }
      P = Pn;
    }
    Vec an(std::size_t(f), 0.0);
    for (std::int64_t r = 0; r < f; ++r)
      for (std::int64_t c = 0; c < f; ++c) an[r] += d.T[r * f + c] * a[c];
    a = an;
    P = predict(d, P);
  }
  return out;
}

class KalmanFilter : public ::testing::Test {
 protected:
  void SetUp() override {  // the generalized inverse sweeps through the host
    host_.activate();
    mvtsa::set_host_table(host_.table());
  }
  std::vector<Moments> run(const Model& md, const Vec& y, std::int64_t T, int* status) {
    Vec packed(std::size_t(md.k * (md.k + 1) / 2));
    mvtsa::pack_symmetric(md.sigma.data(), md.k, packed.data());
    Vec work(mvtsa::kalman_filter_work(md.k, md.pmax(), md.qmax()));
    const std::int64_t f = std::int64_t(md.k) * std::max(md.pmax(), md.qmax() + 1);
    Recorder rec(f);
    *status = mvtsa::kalman_filter(
        y.data(), T, md.k, md.phi.data(), int(md.ar_lags.size()), md.pmax(), md.ar_lags.data(),
        md.theta.data(), int(md.ma_lags.size()), md.qmax(), md.ma_lags.data(), packed.data(),
        work.data(), &rec);
    return rec.steps;
  }
  mvts::Host host_;
};

// Sparse and distant lags, with complete series and with missing rows
// scattered through the transient and the repeats: each predicted mean and
// covariance within 1e-11 of the largest element of the textbook filter's.
TEST_F(KalmanFilter, StructuredStepsMatchTheTextbookFilter) {
  std::mt19937 g(404);
  std::uniform_real_distribution<double> U(-1, 1);
  struct Case {
    int k;
    std::vector<int> ar, ma;
    std::int64_t T;
  };
  const Case cases[] = {{2, {52}, {}, 120}, {2, {1, 12}, {1}, 90}, {2, {}, {20}, 90},
                        {3, {1, 2}, {1}, 40}, {1, {3}, {}, 30},   {2, {2}, {4}, 50}};
  for (const Case& c : cases)
    for (int missing = 0; missing < 2; ++missing) {
      Model md;
      md.k = c.k;
      md.ar_lags = c.ar;
      md.ma_lags = c.ma;
      const std::size_t kk = std::size_t(c.k) * c.k;
      md.phi.resize(c.ar.size() * kk);
      md.theta.resize(c.ma.size() * kk);
      for (double& x : md.phi) x = 0.6 * U(g) / double(c.k * c.ar.size());
      for (double& x : md.theta) x = 0.4 * U(g);
      md.sigma.assign(kk, 0.2);
      for (int i = 0; i < c.k; ++i) md.sigma[std::size_t(i * c.k + i)] = 1.0 + i;
      Vec y = lik_test::random_series(c.T, c.k, g);
      if (missing)
        for (std::int64_t t = 3; t < c.T; t += 17) y[std::size_t(t * c.k)] = kNaN;
      SCOPED_TRACE(testing::Message() << "k " << c.k << " AR up to " << md.pmax() << " MA up to "
                                      << md.qmax() << " missing " << missing);
      int st = -9;
      const std::vector<Moments> got = run(md, y, c.T, &st);
      ASSERT_EQ(st, 0);
      ASSERT_EQ(got.size(), std::size_t(c.T));
      const Dense d = lik_test::state_form(md);
      const std::vector<Moments> want = textbook_filter(d, got[0].P, y, c.T);
      double big = 0.0;
      for (double x : want[0].P) big = std::max(big, std::fabs(x));
      for (std::int64_t t = 0; t < c.T; ++t) {
        double dp = 0.0, da = 0.0;
        for (std::size_t e = 0; e < want[t].P.size(); ++e)
          dp = std::max(dp, std::fabs(got[t].P[e] - want[t].P[e]));
        for (std::size_t e = 0; e < want[t].a.size(); ++e)
          da = std::max(da, std::fabs(got[t].a[e] - want[t].a[e]));
        ASSERT_LE(dp, 1e-11 * big) << "t = " << t;
        ASSERT_LE(da, 1e-11 * std::sqrt(big) * 10) << "t = " << t;
      }
    }
}

// Rows never observed under Phi = 3 I: P grows ninefold each step.  The
// filter stops with kKalmanDiverged at the first prediction with an element
// of at least kDivergenceLimit, having handed on every P below it; a NaN in
// Sigma stops it at the first prediction.
TEST_F(KalmanFilter, StopsAtTheFirstPredictionThatReachesTheLimit) {
  Model md;
  md.k = 2;
  md.ar_lags = {1};
  md.phi = {3, 0, 0, 3};
  md.sigma = {1, 0, 0, 1};
  const Vec y(400, kNaN);
  int st = 0;
  const std::vector<Moments> got = run(md, y, 200, &st);
  ASSERT_EQ(st, mvtsa::kKalmanDiverged);
  ASSERT_GT(got.size(), 100u);
  for (const Moments& m : got)
    for (double x : m.P) ASSERT_LT(std::fabs(x), mvtsa::kDivergenceLimit);
  const Vec next = predict(lik_test::state_form(md), got.back().P);
  double big = 0.0;
  for (double x : next) big = std::max(big, std::fabs(x));
  EXPECT_GE(big, mvtsa::kDivergenceLimit);
  md.sigma = {1, kNaN, kNaN, 1};
  EXPECT_EQ(run(md, y, 200, &st).size(), 1u);
  EXPECT_EQ(st, mvtsa::kKalmanDiverged);
}

}  // namespace
