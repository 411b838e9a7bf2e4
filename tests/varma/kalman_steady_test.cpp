// The Kalman filter's steady state: once P(t+1) repeats an earlier P to the
// last bit after complete rows, the filter carries only the state forward and
// takes the covariances kept for that phase.  Checked against a plain filter
// on the companion form written here, through a missing row that must
// restart the full recursion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <vector>

#include "host/host.hpp"
#include "module/frame/host.hpp"
#include "module/varma/varma_kalman.hpp"

namespace {

using Vec = std::vector<double>;

struct Step {
  Vec a, P;
  std::int64_t same_as;
};

// Keeps what the filter hands on at each prediction.
class Recorder final : public mvtsa::KalmanSink {
 public:
  explicit Recorder(std::int64_t f) : f_(f) {}
  int predicted(std::int64_t, const double* a, const double* P, std::int64_t same_as) override {
    steps.push_back({Vec(a, a + f_), Vec(P, P + f_ * f_), same_as});
    return 0;
  }
  int filtered(std::int64_t, const double*, const double*) override { return 0; }
  std::vector<Step> steps;

 private:
  std::int64_t f_;
};

// Inverse of the k x k matrix a by Gauss-Jordan elimination with partial
// pivoting.
Vec inverse(Vec a, int k) {
  Vec inv(std::size_t(k) * k, 0.0);
  for (int i = 0; i < k; ++i) inv[i * k + i] = 1.0;
  for (int c = 0; c < k; ++c) {
    int p = c;
    for (int r = c + 1; r < k; ++r)
      if (std::fabs(a[r * k + c]) > std::fabs(a[p * k + c])) p = r;
    for (int j = 0; j < k; ++j) {
      std::swap(a[c * k + j], a[p * k + j]);
      std::swap(inv[c * k + j], inv[p * k + j]);
    }
    const double d = a[c * k + c];
    for (int j = 0; j < k; ++j) {
      a[c * k + j] /= d;
      inv[c * k + j] /= d;
    }
    for (int r = 0; r < k; ++r) {
      if (r == c) continue;
      const double m = a[r * k + c];
      for (int j = 0; j < k; ++j) {
        a[r * k + j] -= m * a[c * k + j];
        inv[r * k + j] -= m * inv[c * k + j];
      }
    }
  }
  return inv;
}

// One-step predictions (mean and covariance of row t given the rows before
// it) of a k-variate VAR(2) by the textbook filter on the state
// (y_t, y_{t-1}), P(1) by iterating P = T P T' + Q to its fixed point.
struct Prediction {
  Vec mean, cov;
};

std::vector<Prediction> plain_filter(const Vec& phi, const Vec& sigma, int k, const Vec& y,
                                     std::int64_t T) {
  const int f = 2 * k;
  Vec Tm(f * f, 0.0), Q(f * f, 0.0);
  for (int r = 0; r < k; ++r)
    for (int c = 0; c < k; ++c) {
      Tm[r * f + c] = phi[r * k + c];
      Tm[r * f + k + c] = phi[k * k + r * k + c];
      Q[r * f + c] = sigma[r * k + c];
    }
  for (int i = 0; i < k; ++i) Tm[(k + i) * f + i] = 1.0;
  auto predict = [&](const Vec& Pin) {
    Vec X(f * f), out(f * f);
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
        out[r * f + c] = s;
      }
    return out;
  };
  Vec P(f * f, 0.0), a(f, 0.0);
  for (int i = 0; i < 5000; ++i) P = predict(P);
  std::vector<Prediction> out;
  for (std::int64_t t = 0; t < T; ++t) {
    Prediction p{Vec(a.begin(), a.begin() + k), Vec(k * k)};
    for (int r = 0; r < k; ++r)
      for (int c = 0; c < k; ++c) p.cov[r * k + c] = P[r * f + c];
    out.push_back(p);
    Vec att = a, Ptt = P;
    bool missing = false;
    for (int i = 0; i < k; ++i) missing = missing || std::isnan(y[t * k + i]);
    if (!missing) {
      const Vec Fi = inverse(p.cov, k);
      Vec K(f * k, 0.0);
      for (int r = 0; r < f; ++r)
        for (int c = 0; c < k; ++c)
          for (int b = 0; b < k; ++b) K[r * k + c] += P[r * f + b] * Fi[b * k + c];
      for (int r = 0; r < f; ++r) {
        for (int c = 0; c < k; ++c) att[r] += K[r * k + c] * (y[t * k + c] - a[c]);
        for (int c = 0; c < f; ++c)
          for (int b = 0; b < k; ++b) Ptt[r * f + c] -= K[r * k + b] * P[b * f + c];
      }
    }
    for (int r = 0; r < f; ++r) {
      double s = 0;
      for (int b = 0; b < f; ++b) s += Tm[r * f + b] * att[b];
      a[r] = s;
    }
    P = predict(Ptt);
  }
  return out;
}

// Runs the filter on a k-variate VAR(2) with a missing value in row `gap`,
// checks every repeat it announces and its predictions against the plain
// filter, and returns the periods of the repeats.
std::set<std::int64_t> check_filter(const Vec& phi, const Vec& sigma, int k) {
  std::set<std::int64_t> periods;
  const std::int64_t T = 80, gap = 40;
  Vec y(T * k);
  for (std::int64_t t = 0; t < T; ++t)
    for (int i = 0; i < k; ++i)
      y[t * k + i] = std::sin((0.7 + 0.6 * i) * double(t)) + 0.1 * double((t + i) % 5);
  y[gap * k + k - 1] = std::numeric_limits<double>::quiet_NaN();
  Vec packed;
  for (int r = 0; r < k; ++r)
    for (int c = 0; c <= r; ++c) packed.push_back(sigma[r * k + c]);

  const int lags[2] = {1, 2};
  const int no_lags[1] = {1};
  const std::int64_t f = 2 * k;
  Vec work(mvtsa::kalman_filter_work(k, 2, 0));
  Recorder rec(f);
  EXPECT_EQ(mvtsa::kalman_filter(y.data(), T, k, phi.data(), 2, 2, lags, nullptr, 0, 0, no_lags,
                                 packed.data(), work.data(), &rec),
            0);
  EXPECT_EQ(rec.steps.size(), std::size_t(T));
  if (rec.steps.size() != std::size_t(T)) return periods;
  // The full recursion throughout: the same moments to the last bit.
  Recorder full(f);
  EXPECT_EQ(mvtsa::kalman_filter(y.data(), T, k, phi.data(), 2, 2, lags, nullptr, 0, 0, no_lags,
                                 packed.data(), work.data(), &full, false),
            0);
  for (std::int64_t t = 0; t < T && std::size_t(t) < full.steps.size(); ++t) {
    EXPECT_EQ(full.steps[t].same_as, -1);
    EXPECT_EQ(full.steps[t].a, rec.steps[t].a) << "t = " << t;
    EXPECT_EQ(full.steps[t].P, rec.steps[t].P) << "t = " << t;
  }

  std::int64_t last_full = -1;
  for (std::int64_t t = 0; t < T; ++t) {
    const std::int64_t j = rec.steps[t].same_as;
    if (j < 0) {
      last_full = t;
      continue;
    }
    EXPECT_LE(j, last_full) << "step " << t;
    EXPECT_EQ(rec.steps[j].same_as, -1) << "step " << t << " names a repeated step";
    EXPECT_EQ(std::memcmp(rec.steps[t].P.data(), rec.steps[j].P.data(),
                          sizeof(double) * std::size_t(f * f)),
              0)
        << "step " << t << " was handed on as a repeat of step " << j << " with another P";
    if (last_full == t - 1) periods.insert(t - j);  // where the repeat was found
  }
  // The missing value's update leaves P as it was, so the prediction after
  // it is new and the full recursion resumes.
  EXPECT_EQ(rec.steps[gap + 1].same_as, -1);
  EXPECT_GT(std::fabs(rec.steps[gap + 1].P[0] - rec.steps[gap].P[0]), 1e-3 * rec.steps[gap].P[0]);

  const std::vector<Prediction> plain = plain_filter(phi, sigma, k, y, T);
  for (std::int64_t t = 0; t < T; ++t) {
    const Step& s = rec.steps[t];
    for (int i = 0; i < k; ++i)
      EXPECT_NEAR(s.a[i], plain[t].mean[i], 1e-12 * (1 + std::fabs(plain[t].mean[i])))
          << "t = " << t;
    for (int r = 0; r < k; ++r)
      for (int c = 0; c < k; ++c)
        EXPECT_NEAR(s.P[r * f + c], plain[t].cov[r * k + c],
                    1e-12 * (1 + std::fabs(plain[t].cov[r * k + c])))
            << "t = " << t;
  }
  return periods;
}

class KalmanSteadyState : public ::testing::Test {
 protected:
  void SetUp() override {  // the generalized inverse sweeps through the host
    host_.activate();
    mvtsa::set_host_table(host_.table());
  }
  mvts::Host host_;
};

TEST_F(KalmanSteadyState, BivariateRepeatsAFixedPoint) {
  const Vec phi = {0.5, 0.1, -0.2, 0.3, 0.2, 0.0, 0.1, -0.1};  // Phi_1 then Phi_2, row by row
  const Vec sigma = {1.0, 0.3, 0.3, 0.5};
  const std::set<std::int64_t> periods = check_filter(phi, sigma, 2);
  EXPECT_FALSE(periods.empty()) << "a VAR(2) reaches its steady state within a few rows";
}

// Thirty trivariate VAR(2) models with Sigma scaled from 1e-4 to 1: rounding
// settles into a fixed point in most and into cycles of two or three steps
// in some, and every one must give the plain filter's predictions.
TEST_F(KalmanSteadyState, TrivariateModelsRepeatFixedPointsAndCycles) {
  unsigned x = 12345;
  auto uniform = [&x] {  // in [-0.5, 0.5)
    x = x * 1103515245u + 12345u;
    return double((x >> 8) & 0xffff) / 65536.0 - 0.5;
  };
  std::set<std::int64_t> periods;
  for (int model = 0; model < 30; ++model) {
    Vec phi(18);
    for (double& v : phi) v = 0.5 * uniform();
    const double sc = std::pow(10.0, -4 + 4 * (uniform() + 0.5));
    const Vec sigma = {sc, 0.2 * sc, 0.1 * sc, 0.2 * sc, 0.5 * sc, 0.0, 0.1 * sc, 0.0, 0.8 * sc};
    SCOPED_TRACE(model);
    const std::set<std::int64_t> found = check_filter(phi, sigma, 3);
    periods.insert(found.begin(), found.end());
  }
  EXPECT_EQ(periods.count(1), 1u);
  EXPECT_TRUE(periods.count(2) == 1 || periods.count(3) == 1) << "no cycle longer than a step";
}

}  // namespace
