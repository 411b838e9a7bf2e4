// The Kalman filter's steady state: once P(t+1) repeats P(t) to the last bit
// after a complete row, the filter carries only the state forward.  Checked
// against a plain filter on the companion form written here, through a
// missing row that must restart the full recursion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "host/host.hpp"
#include "module/frame/host.hpp"
#include "module/varma/varma_kalman.hpp"

namespace {

using Vec = std::vector<double>;

struct Step {
  Vec a, P;
  bool repeated;
};

// Keeps what the filter hands on at each prediction.
class Recorder final : public mvtsa::KalmanSink {
 public:
  explicit Recorder(std::int64_t f) : f_(f) {}
  int predicted(std::int64_t, const double* a, const double* P, bool repeated) override {
    steps.push_back({Vec(a, a + f_), Vec(P, P + f_ * f_), repeated});
    return 0;
  }
  int filtered(std::int64_t, const double*, const double*) override { return 0; }
  std::vector<Step> steps;

 private:
  std::int64_t f_;
};

// One-step predictions (mean and covariance of row t given the rows before
// it) of a k = 2 VAR(2) by the textbook filter on the state (y_t, y_{t-1}),
// P(1) by iterating P = T P T' + Q to its fixed point.
struct Prediction {
  double mean[2];
  double cov[4];
};

std::vector<Prediction> plain_filter(const Vec& phi, const double sigma[3], const Vec& y,
                                     std::int64_t T) {
  const int f = 4;
  double Tm[16] = {};
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c) {
      Tm[r * f + c] = phi[r * 2 + c];
      Tm[r * f + 2 + c] = phi[4 + r * 2 + c];
    }
  Tm[2 * f + 0] = 1.0;
  Tm[3 * f + 1] = 1.0;
  double Q[16] = {};
  Q[0] = sigma[0];
  Q[1] = Q[f] = sigma[1];
  Q[f + 1] = sigma[2];
  auto predict = [&](const double* Pin, double* Pout) {
    double X[16];
    for (int r = 0; r < f; ++r)
      for (int c = 0; c < f; ++c) {
        double s = 0;
        for (int b = 0; b < f; ++b) s += Tm[r * f + b] * Pin[b * f + c];
        X[r * f + c] = s;
      }
    for (int r = 0; r < f; ++r)
      for (int c = 0; c < f; ++c) {
        double s = Q[r * f + c];
        for (int b = 0; b < f; ++b) s += X[r * f + b] * Tm[c * f + b];
        Pout[r * f + c] = s;
      }
  };
  double P[16] = {}, next[16];
  for (int i = 0; i < 5000; ++i) {
    predict(P, next);
    std::memcpy(P, next, sizeof P);
  }
  double a[4] = {};
  std::vector<Prediction> out;
  for (std::int64_t t = 0; t < T; ++t) {
    Prediction p{{a[0], a[1]}, {P[0], P[1], P[f], P[f + 1]}};
    out.push_back(p);
    double att[4], Ptt[16];
    std::memcpy(att, a, sizeof a);
    std::memcpy(Ptt, P, sizeof P);
    if (!std::isnan(y[t * 2]) && !std::isnan(y[t * 2 + 1])) {
      const double det = P[0] * P[f + 1] - P[1] * P[f];
      const double Fi[4] = {P[f + 1] / det, -P[1] / det, -P[f] / det, P[0] / det};
      const double v[2] = {y[t * 2] - a[0], y[t * 2 + 1] - a[1]};
      double K[8];
      for (int r = 0; r < f; ++r)
        for (int c = 0; c < 2; ++c) K[r * 2 + c] = P[r * f] * Fi[c] + P[r * f + 1] * Fi[2 + c];
      for (int r = 0; r < f; ++r) {
        att[r] = a[r] + K[r * 2] * v[0] + K[r * 2 + 1] * v[1];
        for (int c = 0; c < f; ++c)
          Ptt[r * f + c] = P[r * f + c] - K[r * 2] * P[c] - K[r * 2 + 1] * P[f + c];
      }
    }
    for (int r = 0; r < f; ++r) {
      double s = 0;
      for (int b = 0; b < f; ++b) s += Tm[r * f + b] * att[b];
      a[r] = s;
    }
    predict(Ptt, P);
  }
  return out;
}

TEST(KalmanSteadyState, RepeatsOnlyBitEqualCovariancesAndMatchesThePlainFilter) {
  mvts::Host host;  // the generalized inverse sweeps through the host
  host.activate();
  mvtsa::set_host_table(host.table());
  const Vec phi = {0.5, 0.1, -0.2, 0.3, 0.2, 0.0, 0.1, -0.1};  // Phi_1 then Phi_2, row by row
  const double sigma_full[3] = {1.0, 0.3, 0.5};                   // packed lower triangle
  const std::int64_t T = 60;
  Vec y(T * 2);
  for (std::int64_t t = 0; t < T; ++t) {
    y[t * 2] = std::sin(0.7 * double(t)) + 0.1 * double(t % 5);
    y[t * 2 + 1] = std::cos(1.3 * double(t)) - 0.05 * double(t % 3);
  }
  const std::int64_t gap = 30;
  y[gap * 2 + 1] = std::numeric_limits<double>::quiet_NaN();

  const int lags[2] = {1, 2};
  const int no_lags[1] = {1};
  std::vector<double> work(mvtsa::kalman_filter_work(2, 2, 0));
  Recorder rec(4);
  ASSERT_EQ(mvtsa::kalman_filter(y.data(), T, 2, phi.data(), 2, 2, lags, nullptr, 0, 0, no_lags,
                                 sigma_full, work.data(), &rec),
            0);
  ASSERT_EQ(rec.steps.size(), std::size_t(T));

  bool some_repeated = false;
  for (std::size_t t = 1; t < rec.steps.size(); ++t) {
    if (!rec.steps[t].repeated) continue;
    some_repeated = true;
    EXPECT_EQ(std::memcmp(rec.steps[t].P.data(), rec.steps[t - 1].P.data(), 16 * sizeof(double)),
              0)
        << "step " << t << " was handed on as repeated with another P";
  }
  EXPECT_TRUE(some_repeated) << "a VAR(2) reaches its steady state within a few rows";
  // The missing row's update leaves P as it was, so the prediction after it
  // differs and the full recursion resumes.
  EXPECT_FALSE(rec.steps[gap + 1].repeated);
  EXPECT_GT(std::fabs(rec.steps[gap + 1].P[0] - rec.steps[gap].P[0]), 0.1);

  const std::vector<Prediction> plain = plain_filter(phi, sigma_full, y, T);
  for (std::int64_t t = 0; t < T; ++t) {
    const Step& s = rec.steps[t];
    for (int i = 0; i < 2; ++i)
      EXPECT_NEAR(s.a[i], plain[t].mean[i], 1e-12 * (1 + std::fabs(plain[t].mean[i])))
          << "t = " << t;
    const double F[4] = {s.P[0], s.P[1], s.P[4], s.P[5]};
    for (int e = 0; e < 4; ++e)
      EXPECT_NEAR(F[e], plain[t].cov[e], 1e-12 * (1 + std::fabs(plain[t].cov[e]))) << "t = " << t;
  }
}

}  // namespace
