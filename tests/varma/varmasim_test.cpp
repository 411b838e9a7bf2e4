// VARMASIM through the host: exact reproduction of the fixed and pure-MA
// starts from the generator, the overflow note, the streams, and the moments
// of the stationary start and of long series against VARMACOV.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "host/host.hpp"
#include "tests/support/allocation.hpp"
#include "tests/support/argument_checks.hpp"
#include "module/frame/rng.hpp"

namespace {

using mvts::Value;
const Value kNone = Value::omitted();

Value diag2(double x) { return Value::matrix(2, 2, {x, 0, 0, x}); }

// Standard normal vectors of dimension k as the VARMASIM stream draws them
// with an identity sigma: deviate t k + j is element j of vector t.
std::vector<double> deviates(std::uint32_t seed, int count) {
  std::vector<double> z(count);
  for (double& x : z) x = mvtsa::rng_normal(&seed);
  return z;
}

class Varmasim : public ::testing::Test {
 protected:
  // VARMASIM(phi, theta, mu, sigma, n, p, q, initial, seed)
  mvts::CallResult call(std::vector<Value> args) {
    auto r = s_.call("VARMASIM", args);
    EXPECT_EQ(s_.live_blocks(), 0);
    return r;
  }
  mvts::Matrix cov(std::vector<Value> args) {
    auto r = s_.call("VARMACOV", args);
    EXPECT_EQ(r.status, 0);
    return r.outputs[0] ? *r.outputs[0] : mvts::Matrix();
  }
  mvts::Session s_;
};

// ---- Fixed start

TEST_F(Varmasim, InitialFiveStartsTheArRecursion) {
  auto r = call({diag2(0.5), kNone, Value::row({1, -1}), kNone, Value::scalar(4), kNone, kNone,
                 Value::scalar(5), Value::scalar(11)});
  ASSERT_EQ(r.status, 0);
  const mvts::Matrix& y = *r.outputs[0];
  ASSERT_EQ(y.rows, 4);
  const std::vector<double> z = deviates(11, 8);
  double prev[2] = {5, 5};
  for (int t = 0; t < 4; ++t)
    for (int j = 0; j < 2; ++j) {
      const double v = z[t * 2 + j] + 0.5 * prev[j];
      EXPECT_DOUBLE_EQ(y.at(t, j), v + (j == 0 ? 1 : -1)) << t;
      prev[j] = v;
    }
  EXPECT_DOUBLE_EQ(y.at(0, 0), 2.5 + z[0] + 1);
}

TEST_F(Varmasim, InitialValueAlsoFillsPresampleInnovationsAndStreamContinues) {
  // y_1 = e_1 - 0.3 x0 + 0.5 x0.  With q > 0 the call draws n + p vectors
  // (plus the one vector every draw discards), so a following call with
  // seed 0 starts k (n + p + 1) deviates further on.
  const std::vector<Value> args = {diag2(0.5), diag2(0.3), kNone, kNone, Value::scalar(3),
                                   kNone,      kNone,      Value::scalar(5)};
  auto first = args, second = args;
  first.push_back(Value::scalar(-7));
  second.push_back(Value::scalar(0));
  auto a = call(first);
  auto b = call(second);
  ASSERT_EQ(a.status, 0);
  ASSERT_EQ(b.status, 0);
  const std::vector<double> z = deviates(7, 2 * 5 + 2 * 3);
  for (int j = 0; j < 2; ++j) {
    EXPECT_DOUBLE_EQ(a.outputs[0]->at(0, j), z[j] - 1.5 + 2.5);
    EXPECT_DOUBLE_EQ(b.outputs[0]->at(0, j), z[10 + j] - 1.5 + 2.5);
    // y_2 = e_2 - 0.3 e_1 + 0.5 y_1
    EXPECT_DOUBLE_EQ(a.outputs[0]->at(1, j), z[2 + j] - 0.3 * z[j] + 0.5 * (z[j] + 1.0));
  }
}

TEST_F(Varmasim, ExplosiveModelStopsAtTheFirstOverflowingObservation) {
  auto r = call({diag2(10), kNone, kNone, kNone, Value::scalar(1000), kNone, kNone,
                 Value::scalar(1), Value::scalar(3)});
  ASSERT_EQ(r.status, 0);
  // reproduce: y_t = e_t + 10 y_{t-1}, y_0 = 1; stop at the first |y| > 2^512 / 100
  const double bound = 1.3407807929942597e152;
  const std::vector<double> z = deviates(3, 2 * 1000);
  std::vector<double> y = {1, 1};
  int stop = -1;
  std::vector<double> rows;
  for (int t = 0; t < 1000 && stop < 0; ++t) {
    for (int j = 0; j < 2; ++j) y[j] = z[t * 2 + j] + 10 * y[j];
    if (std::fabs(y[0]) > bound || std::fabs(y[1]) > bound)
      stop = t;
    else
      rows.insert(rows.end(), y.begin(), y.end());
  }
  ASSERT_GT(stop, 100);
  ASSERT_EQ(test_support::message_numbers(r), std::vector<int>{359});
  EXPECT_TRUE(r.messages[0].note);
  ASSERT_EQ(r.messages[0].inserts.size(), 2u);
  EXPECT_EQ(std::get<std::int64_t>(r.messages[0].inserts[0]), stop + 1);
  EXPECT_EQ(std::get<double>(r.messages[0].inserts[1]), bound);
  ASSERT_EQ(r.outputs[0]->rows, stop);
  EXPECT_EQ(r.outputs[0]->data, rows);
}

TEST_F(Varmasim, OverflowAtTheFirstObservationGivesAnEmptySeries) {
  auto r = call({diag2(10), kNone, kNone, kNone, Value::scalar(5), kNone, kNone,
                 Value::scalar(1e152), Value::scalar(3)});
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(test_support::message_numbers(r), std::vector<int>{359});
  EXPECT_EQ(std::get<std::int64_t>(r.messages[0].inserts[0]), 1);
  ASSERT_TRUE(r.outputs[0]);
  EXPECT_EQ(r.outputs[0]->rows, 0);
  EXPECT_EQ(r.outputs[0]->cols, 2);
}

TEST_F(Varmasim, NonstationaryArStartsFromZerosWithoutMessage) {
  auto r = call({diag2(1.0), kNone, kNone, kNone, Value::scalar(3), kNone, kNone, kNone,
                 Value::scalar(5)});
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(r.messages.empty());
  ASSERT_TRUE(r.outputs[0]);
  ASSERT_EQ(r.outputs[0]->rows, 3);
  const std::vector<double> z = deviates(5, 6);
  for (int j = 0; j < 2; ++j) {
    EXPECT_EQ(r.outputs[0]->at(0, j), z[j]);
    EXPECT_DOUBLE_EQ(r.outputs[0]->at(2, j), z[j] + z[2 + j] + z[4 + j]);
  }
}

// ---- Stationary start

TEST_F(Varmasim, PureMaDrawsItsPresampleInnovationsFirst) {
  // q = 2 (lag list): y_t = e_t - Theta e_{t-2}; draws n + q vectors, the
  // first two pre-sample.
  auto r = call({kNone, Value::matrix(2, 2, {0.5, 0.2, 0, -0.4}), Value::row({10, 20}), kNone,
                 Value::scalar(3), kNone, Value::scalar(2), kNone, Value::scalar(9)});
  ASSERT_EQ(r.status, 0);
  const std::vector<double> z = deviates(9, 10);
  auto e = [&](int t, int j) { return z[(t + 2) * 2 + j]; };  // t = -2 .. 2
  for (int t = 0; t < 3; ++t) {
    EXPECT_DOUBLE_EQ(r.outputs[0]->at(t, 0), e(t, 0) - (0.5 * e(t - 2, 0) + 0.2 * e(t - 2, 1)) + 10);
    EXPECT_DOUBLE_EQ(r.outputs[0]->at(t, 1), e(t, 1) + 0.4 * e(t - 2, 1) + 20);
  }
}

TEST_F(Varmasim, SameSeedSameSeriesAndSeedZeroContinues) {
  const Value phi = Value::matrix(2, 2, {0.5, 0.2, -0.1, 0.3});
  const Value theta = diag2(0.4);
  auto run = [&](double seed) {
    return call({phi, theta, kNone, kNone, Value::scalar(50), kNone, kNone, kNone,
                 Value::scalar(seed)});
  };
  auto a = run(123), b = run(123), c = run(124);
  for (const auto* x : {&a, &b, &c}) ASSERT_TRUE(x->status == 0 && x->outputs[0]);
  EXPECT_EQ(a.outputs[0]->data, b.outputs[0]->data);
  EXPECT_NE(a.outputs[0]->data, c.outputs[0]->data);
  // seed -5 starts the stream; seed 0 continues it, so it differs from a
  // fresh seed -5 / 5 call but equals the continuation in a second host.
  auto d = run(-5), e = run(0);
  mvts::Session other;
  auto d2 = other.call("VARMASIM", {phi, theta, kNone, kNone, Value::scalar(50), kNone, kNone,
                                    kNone, Value::scalar(-5)});
  auto e2 = other.call("VARMASIM", {phi, theta, kNone, kNone, Value::scalar(50), kNone, kNone,
                                    kNone, Value::scalar(0)});
  for (const auto* x : {&d, &e, &d2, &e2}) ASSERT_TRUE(x->status == 0 && x->outputs[0]);
  EXPECT_EQ(d.outputs[0]->data, d2.outputs[0]->data);
  EXPECT_EQ(e.outputs[0]->data, e2.outputs[0]->data);
  EXPECT_NE(d.outputs[0]->data, e.outputs[0]->data);
}

TEST_F(Varmasim, StationaryStartHasTheStationaryCovariance) {
  // VARMA(2,1), k = 2, a sigma far from the identity.  Rows 0, 1 of each
  // series are the drawn pre-sample y_{-1}, y_0; row 2 the first simulated
  // observation.  Over N series, E[row_i row_j'] = Gamma(j - i).
  const Value phi = Value::matrix(4, 2, {0.6, 0.3, -0.2, 0.4, -0.3, 0.1, 0.0, 0.2});
  const Value theta = Value::matrix(2, 2, {0.5, -0.4, 0.3, 0.1});
  const Value sigma = Value::matrix(2, 2, {4.0, 0.9, 0.9, 0.3});
  const mvts::Matrix g = cov({phi, theta, sigma, kNone, kNone, Value::scalar(2)});
  const int N = 20000;
  double m[3][3][2][2] = {};
  for (int rep = 0; rep < N; ++rep) {
    auto r = call({phi, theta, kNone, sigma, Value::scalar(3), kNone, kNone, kNone,
                   Value::scalar(rep == 0 ? -1 : 0)});
    ASSERT_EQ(r.status, 0);
    const mvts::Matrix& y = *r.outputs[0];
    for (int i = 0; i < 3; ++i)
      for (int j = i; j < 3; ++j)
        for (int a = 0; a < 2; ++a)
          for (int b = 0; b < 2; ++b) m[i][j][a][b] += y.at(i, a) * y.at(j, b) / N;
  }
  for (int i = 0; i < 3; ++i)
    for (int j = i; j < 3; ++j)
      for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b) {
          const double want = g.at((j - i) * 2 + a, b);
          // five standard errors of a mean of products of jointly normal values
          const double se = std::sqrt((g.at(a, a) * g.at(b, b) + want * want) / N);
          EXPECT_NEAR(m[i][j][a][b], want, 5 * se) << i << j << a << b;
        }
}

struct LongSeriesCase {
  const char* name;
  std::vector<Value> model;  // phi, theta, sigma, p, q
};

class VarmasimLongSeries : public Varmasim,
                           public ::testing::WithParamInterface<int> {};

TEST_P(VarmasimLongSeries, SampleAutocovariancesMatchVarmacov) {
  const std::vector<LongSeriesCase> cases = {
      {"varma11",
       {Value::matrix(2, 2, {0.7, 0.2, -0.1, 0.5}), Value::matrix(2, 2, {-0.4, 0.1, 0.3, 0.2}),
        Value::matrix(2, 2, {1.0, 0.4, 0.4, 2.0}), kNone, kNone}},
      {"subset_lags",
       {Value::matrix(4, 2, {0.5, 0.0, 0.1, 0.3, 0.2, 0.1, 0.0, 0.3}), diag2(0.6), kNone,
        Value::row({1, 3}), Value::scalar(2)}},
  };
  const LongSeriesCase& c = cases[std::size_t(GetParam())];
  const int n = 200000, k = 2, L = 4;
  const double mu[2] = {1.0, -2.0};
  auto r = call({c.model[0], c.model[1], Value::row({mu[0], mu[1]}), c.model[2],
                 Value::scalar(n), c.model[3], c.model[4], kNone, Value::scalar(2024)});
  ASSERT_EQ(r.status, 0) << c.name;
  const mvts::Matrix& y = *r.outputs[0];
  ASSERT_EQ(y.rows, n);
  const mvts::Matrix g =
      cov({c.model[0], c.model[1], c.model[2], c.model[3], c.model[4], Value::scalar(L)});
  double mean[2] = {0, 0};
  for (int t = 0; t < n; ++t)
    for (int a = 0; a < k; ++a) mean[a] += y.at(t, a) / n;
  const double scale = std::fmax(g.at(0, 0), g.at(1, 1));
  for (int a = 0; a < k; ++a) EXPECT_NEAR(mean[a], mu[a], 0.05 * std::sqrt(scale)) << c.name;
  for (int h = 0; h <= L; ++h)
    for (int a = 0; a < k; ++a)
      for (int b = 0; b < k; ++b) {
        double s = 0.0;
        for (int t = 0; t + h < n; ++t) s += (y.at(t, a) - mean[a]) * (y.at(t + h, b) - mean[b]);
        // Gamma(h)(a, b) = Cov(y_{a,t}, y_{b,t+h}); a few standard errors at n = 2e5
        EXPECT_NEAR(s / n, g.at(h * k + a, b), 0.03 * scale) << c.name << " h=" << h;
      }
}

INSTANTIATE_TEST_SUITE_P(Models, VarmasimLongSeries, ::testing::Values(0, 1));

// ---- Checks

TEST_F(Varmasim, ArgumentChecks) {
  const std::vector<test_support::ArgumentCase> cases = {
      {"nothing", {}, 100, 354},
      {"mu length", {diag2(0.5), kNone, Value::row({1, 2, 3})}, 100, 352},
      {"mu scalar", {diag2(0.5), kNone, Value::scalar(1)}, 100, 351},
      {"mu a matrix", {diag2(0.5), kNone, diag2(1)}, 100, 351},
      {"sigma not positive definite",
       {diag2(0.5), kNone, kNone, Value::matrix(2, 2, {1, 3, 3, 1})}, 8, 0},
      {"n below one", {diag2(0.5), kNone, kNone, kNone, Value::scalar(0.5)}, 100, 353},
      {"AR lags count", {diag2(0.5), kNone, kNone, kNone, kNone, Value::row({1, 2})}, 100, 356},
      {"initial a vector",
       {diag2(0.5), kNone, kNone, kNone, kNone, kNone, kNone, Value::column({1, 2})}, 15, 0},
      {"initial missing",
       {diag2(0.5), kNone, kNone, kNone, kNone, kNone, kNone, Value::scalar(NAN)}, 17, 0},
      {"seed a vector",
       {diag2(0.5), kNone, kNone, kNone, kNone, kNone, kNone, kNone, Value::row({1, 2})}, 15, 0},
      {"theta dimension", {diag2(0.5), Value::matrix(3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1})}, 100, 352},
  };
  test_support::expect_argument_failures(s_, "VARMASIM", cases);
}

TEST_F(Varmasim, AllocationFailuresInEveryStartMode) {
  const std::vector<std::vector<Value>> calls = {
      // stationary start with an AR part
      {Value::matrix(4, 2, {0.5, 0.1, 0, 0.3, 0.2, 0, 0.1, -0.1}), diag2(0.3), Value::row({1, 2}),
       Value::matrix(2, 2, {2, 0.5, 0.5, 1}), Value::scalar(20), kNone, kNone, kNone,
       Value::scalar(3)},
      // fixed start with MA terms
      {diag2(0.5), diag2(0.3), kNone, kNone, Value::scalar(20), kNone, kNone, Value::scalar(1),
       Value::scalar(3)},
      // pure MA
      {kNone, diag2(0.3), kNone, kNone, Value::scalar(20), kNone, kNone, kNone, Value::scalar(3)},
  };
  ASSERT_EQ(call(calls[0]).status, 0);  // the generator record exists from here on
  for (const auto& args : calls) {
    EXPECT_GE(test_support::expect_allocation_failures(s_, "VARMASIM", args), 1);
  }
}

}  // namespace
