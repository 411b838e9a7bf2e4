// The gradient of the Kalman-filter likelihood by the adjoint recursions
// against Richardson-extrapolated central differences of the likelihood
// itself, over k = 1..4, subset lags, Sigma far from the identity, missing
// rows and near-unit roots; each term of the adjoint left out in turn must
// make the check fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "host/host.hpp"
#include "module/frame/host.hpp"
#include "module/linalg/covariance.hpp"
#include "module/varma/varma_kalman.hpp"
#include "module/varma/varma_kalman_gradient.hpp"
#include "module/varma/varmafit_kalman.hpp"
#include "tests/varma/model_support.hpp"

namespace {

using Vec = std::vector<double>;
using lik_test::Model;
using mvtsa::pack_symmetric;
using mvtsa::packed_size;

// The likelihood and its gradient at one model, in the parameters' order:
// the AR entries, the MA entries, then Sigma's lower triangle packed by rows
// (a change of element (i, j) moves Sigma_ij and Sigma_ji together).
struct Evaluation {
  Vec value, grad;
  bool given = false;
  int status = 0;
};

struct Problem {
  Model m;
  Vec y;
  std::int64_t T = 0;
  unsigned omit = 0;
  double h = 1e-3;  // the differences' step, times sqrt(Sigma_ii Sigma_jj) for Sigma_ij

  std::size_t count() const { return m.phi.size() + m.theta.size() + packed_size(m.k); }
  Evaluation evaluate(bool want_gradient) const {
    const int k = m.k;
    Vec sp(std::size_t(packed_size(k)));
    pack_symmetric(m.sigma.data(), k, sp.data());
    Vec fw(mvtsa::kalman_filter_work(k, m.pmax(), m.qmax()) + mvtsa::kalman_step_work(k));
    Vec gw(mvtsa::kalman_gradient_work(k, m.pmax(), m.qmax(), T));
    Vec gar(m.phi.size()), gma(m.theta.size()), gs(std::size_t(k) * k);
    mvtsa::KalmanGradient g{gar.data(), gma.data(), gs.data()};
    Evaluation e;
    e.value.assign(3, 0.0);
    e.status = mvtsa::varma_kalman_loglik_gradient(
        e.value.data(), &g, y.data(), T, k, m.phi.data(), int(m.ar_lags.size()), m.pmax(),
        m.ar_lags.data(), m.theta.data(), int(m.ma_lags.size()), m.qmax(), m.ma_lags.data(),
        sp.data(), fw.data(), gw.data(), omit);
    e.given = g.given;
    if (!want_gradient) return e;
    e.grad = gar;
    e.grad.insert(e.grad.end(), gma.begin(), gma.end());
    for (int i = 0; i < k; ++i)
      for (int j = 0; j <= i; ++j) e.grad.push_back(i == j ? gs[i * k + i] : 2.0 * gs[i * k + j]);
    return e;
  }
  double& at(std::size_t i) {
    if (i < m.phi.size()) return m.phi[i];
    i -= m.phi.size();
    if (i < m.theta.size()) return m.theta[i];
    i -= m.theta.size();
    int r = 0;
    while (std::size_t(packed_size(r + 1)) <= i) ++r;
    return m.sigma[std::size_t(r * m.k + (i - packed_size(r)))];
  }
  // The likelihood with parameter i moved by h (Sigma kept symmetric).
  double moved(std::size_t i, double h) const {
    Problem p = *this;
    double& x = p.at(i);
    x += h;
    if (i >= m.phi.size() + m.theta.size()) {
      const std::size_t e = std::size_t(&x - p.m.sigma.data());
      const std::size_t r = e / m.k, c = e % m.k;
      p.m.sigma[c * m.k + r] = x;
    }
    return p.evaluate(false).value[0];
  }
  double step(std::size_t i) const {
    if (i < m.phi.size() + m.theta.size()) return h;
    i -= m.phi.size() + m.theta.size();
    int r = 0;
    while (std::size_t(packed_size(r + 1)) <= i) ++r;
    const int c = int(i - packed_size(r));
    return h * std::sqrt(m.sigma[std::size_t(r * m.k + r)] * m.sigma[std::size_t(c * m.k + c)]);
  }
  // Richardson's extrapolation of central differences at h and h / 2.
  double richardson(std::size_t i) const {
    const double h = step(i);
    const double d1 = (moved(i, h) - moved(i, -h)) / (2 * h);
    const double d2 = (moved(i, h / 2) - moved(i, -h / 2)) / h;
    return (4 * d2 - d1) / 3;
  }
};

// The largest difference between the adjoint gradient and the differences,
// relative to the largest difference quotient (at least 1).
double gradient_error(const Problem& p, std::string* where) {
  const Evaluation e = p.evaluate(true);
  if (e.status != 0 || !e.given) {
    *where = "no gradient (status " + std::to_string(e.status) + ")";
    return 1e300;
  }
  Vec fd(p.count());
  double scale = 1.0;
  for (std::size_t i = 0; i < fd.size(); ++i) {
    fd[i] = p.richardson(i);
    scale = std::max(scale, std::fabs(fd[i]));
  }
  double worst = 0.0;
  for (std::size_t i = 0; i < fd.size(); ++i) {
    const double err = std::fabs(e.grad[i] - fd[i]) / scale;
    if (err > worst) {
      worst = err;
      *where = "parameter " + std::to_string(i) + ": adjoint " + std::to_string(e.grad[i]) +
               ", differences " + std::to_string(fd[i]);
    }
  }
  return worst;
}

Problem random_problem(int k, int np, int nq, bool subset, std::int64_t T, unsigned seed) {
  std::mt19937 g(seed);
  Problem p;
  p.m = lik_test::random_model(k, np, nq, subset, g);
  p.T = T;
  p.y = lik_test::random_series(T, k, g);
  return p;
}

class KalmanGradient : public ::testing::Test {
 protected:
  void SetUp() override {  // the filter sweeps through the host
    host_.activate();
    mvtsa::set_host_table(host_.table());
  }
  mvts::Host host_;
};

TEST_F(KalmanGradient, MatchesRichardsonDifferencesOverOrdersAndDimensions) {
  struct Case {
    int np, nq;
    bool subset;
  };
  const Case cases[] = {{1, 0, false}, {2, 0, false}, {0, 1, false}, {1, 1, false},
                        {2, 1, false}, {2, 0, true},  {1, 2, true},  {2, 2, true}};
  unsigned seed = 100;
  for (int k = 1; k <= 4; ++k)
    for (const Case& c : cases) {
      if (k == 4 && c.np + c.nq > 2) continue;  // keeps the differences' cost down
      const Problem p = random_problem(k, c.np, c.nq, c.subset, 40, ++seed);
      std::string where;
      EXPECT_LT(gradient_error(p, &where), 1e-6)
          << "k = " << k << " VARMA(" << c.np << ", " << c.nq << ")" << (c.subset ? " subset" : "")
          << ": " << where;
    }
}

TEST_F(KalmanGradient, MatchesWithMissingRowsAndScaledSigma) {
  for (int k = 1; k <= 3; ++k) {
    Problem p = random_problem(k, 1, 1, false, 50, 700 + k);
    for (double& s : p.m.sigma) s *= 0.01;  // innovations of standard deviation about 0.1
    for (int i = 0; i < k; ++i) p.m.sigma[i * k + i] += 0.001 * (i + 1);
    for (std::int64_t t : {0, 7, 8, 9, 30, 49}) p.y[std::size_t(t * k + t % k)] = std::nan("");
    std::string where;
    EXPECT_LT(gradient_error(p, &where), 1e-6) << "k = " << k << ": " << where;
  }
}

TEST_F(KalmanGradient, MatchesNearUnitRoots) {
  // A bivariate VAR(1) with an eigenvalue 0.995 and a VARMA(1,1) whose MA
  // block has an eigenvalue 0.97.
  Problem p = random_problem(2, 1, 1, false, 60, 900);
  p.m.phi = {0.995, 0.0, 0.3, 0.2};
  p.m.theta = {0.97, 0.0, 0.0, -0.4};
  p.h = 1e-4;  // well inside the distance to the unit circle
  std::string where;
  EXPECT_LT(gradient_error(p, &where), 1e-6) << where;
  p.m.theta.clear();
  p.m.ma_lags.clear();
  EXPECT_LT(gradient_error(p, &where), 1e-6) << where;
}

// Long series: the filter's covariances and the backward N settle into
// fixed points or short cycles, which the backward pass then reuses; a
// missing row in the middle breaks the repeat and the full recursion
// resumes on both sides.
TEST_F(KalmanGradient, MatchesWhereTheRecursionsRepeat) {
  struct Case {
    int k, np, nq;
  };
  const Case cases[] = {{3, 2, 0}, {3, 1, 1}, {2, 2, 1}};
  unsigned seed = 1300;
  for (const Case& c : cases) {
    Problem p = random_problem(c.k, c.np, c.nq, false, 300, ++seed);
    std::string where;
    EXPECT_LT(gradient_error(p, &where), 1e-6) << "k = " << c.k << ": " << where;
    p.y[std::size_t(150 * c.k)] = std::nan("");
    EXPECT_LT(gradient_error(p, &where), 1e-6) << "k = " << c.k << ", a gap: " << where;
  }
}

TEST_F(KalmanGradient, ValueIsThatOfTheFitsLikelihoodToTheBit) {
  const Problem p = random_problem(3, 2, 1, false, 80, 42);
  const Evaluation e = p.evaluate(true);
  Vec sp(std::size_t(packed_size(3)));
  pack_symmetric(p.m.sigma.data(), 3, sp.data());
  Vec w(mvtsa::varmafit_kalman_work_size(3, p.m.pmax(), p.m.qmax()));
  double out[3];
  ASSERT_EQ(mvtsa::varmafit_kalman_loglik(out, p.y.data(), p.T, 3, p.m.phi.data(), 2, 2,
                                          p.m.ar_lags.data(), p.m.theta.data(), 1, 1,
                                          p.m.ma_lags.data(), sp.data(), w.data()),
            e.status);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(out[i], e.value[i]);
}

// Each term left out must show: the check is not blind to it.
TEST_F(KalmanGradient, EachOmittedTermIsCaught) {
  for (unsigned omit : {unsigned(mvtsa::kOmitInitialTerm), unsigned(mvtsa::kOmitGainTerm),
                        unsigned(mvtsa::kOmitStateTerm)}) {
    Problem p = random_problem(2, 1, 1, false, 40, 321);
    p.omit = omit;
    std::string where;
    EXPECT_GT(gradient_error(p, &where), 1e-3) << "omitted term " << omit;
  }
}

TEST_F(KalmanGradient, NoGradientFromTheDiffuseStart) {
  // A unit root: P(1) is the diffuse fallback, so the value stands alone.
  Problem p = random_problem(2, 1, 0, false, 30, 5);
  p.m.phi = {1.0, 0.0, 0.0, 0.5};
  const Evaluation e = p.evaluate(true);
  EXPECT_EQ(e.status, 0);
  EXPECT_TRUE(std::isfinite(e.value[0]));
  EXPECT_FALSE(e.given);
}

}  // namespace
