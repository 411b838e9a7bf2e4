// VARMACOV through the host: the worked examples, notes and checks, lag
// lists, and a general model against the Lyapunov reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "host/host.hpp"
#include "tests/support/allocation.hpp"
#include "tests/support/argument_checks.hpp"
#include "tests/varma/varma_test_util.hpp"

namespace {

using mvts::Value;
using varma_test::Mat;
const Value kNone = Value::omitted();

Value diag2(double x) { return Value::matrix(2, 2, {x, 0, 0, x}); }

class Varmacov : public ::testing::Test {
 protected:
  mvts::CallResult call(std::vector<Value> args) {
    auto r = s_.call("VARMACOV", args);
    EXPECT_EQ(s_.live_blocks(), 0);
    return r;
  }
  mvts::Session s_;
};

void expect_diag_blocks(const mvts::Matrix& g, const std::vector<double>& diag) {
  ASSERT_EQ(g.rows, int(2 * diag.size()));
  ASSERT_EQ(g.cols, 2);
  for (std::size_t h = 0; h < diag.size(); ++h) {
    EXPECT_NEAR(g.at(2 * h, 0), diag[h], 1e-15) << h;
    EXPECT_NEAR(g.at(2 * h + 1, 1), diag[h], 1e-15) << h;
    EXPECT_EQ(g.at(2 * h, 1), 0.0) << h;
    EXPECT_EQ(g.at(2 * h + 1, 0), 0.0) << h;
  }
}

TEST_F(Varmacov, PureMa1WithNoteOnShortOrder) {
  auto r = call({kNone, diag2(0.5), kNone, kNone, kNone, Value::scalar(3)});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(test_support::message_numbers(r), std::vector<int>{361});
  EXPECT_TRUE(r.messages[0].note);
  expect_diag_blocks(*r.outputs[0], {1.25, -0.5, 0, 0});
  // q = lag: no note
  r = call({kNone, diag2(0.5), kNone, kNone, kNone, Value::scalar(1)});
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(r.messages.empty());
}

TEST_F(Varmacov, Var1HalfIdentityAndDefaultLag) {
  auto r = call({diag2(0.5)});
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(r.messages.empty());
  std::vector<double> want;
  for (int h = 0; h <= 12; ++h) want.push_back(std::pow(0.5, h) * 4.0 / 3.0);
  expect_diag_blocks(*r.outputs[0], want);  // 13 blocks by default
}

TEST_F(Varmacov, IdenticalArAndMaGiveWhiteNoise) {
  const Value phi = Value::matrix(4, 2, {0.5, 0.1, 0.0, 0.3, 0.2, 0.0, 0.1, -0.1});
  const Value sigma = Value::matrix(2, 2, {2, 0.5, 0.5, 1});
  auto r = call({phi, phi, sigma, kNone, kNone, Value::scalar(4)});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(test_support::message_numbers(r), std::vector<int>{371});
  const mvts::Matrix& g = *r.outputs[0];
  ASSERT_EQ(g.rows, 10);
  EXPECT_EQ(g.at(0, 0), 2.0);
  EXPECT_EQ(g.at(0, 1), 0.5);
  EXPECT_EQ(g.at(1, 0), 0.5);
  EXPECT_EQ(g.at(1, 1), 1.0);
  for (int i = 2; i < 10; ++i)
    for (int j = 0; j < 2; ++j) EXPECT_EQ(g.at(i, j), 0.0);
}

TEST_F(Varmacov, UnitRootIsRefusedWithoutOutput) {
  auto r = call({diag2(1.0)});
  EXPECT_EQ(r.status, 100);
  EXPECT_EQ(test_support::message_numbers(r), std::vector<int>{360});
  EXPECT_FALSE(r.outputs[0]);
  // a root outside the unit circle at lag 2
  r = call({Value::matrix(4, 2, {0, 0, 0, 0, 1.5, 0, 0, 0.2})});
  EXPECT_EQ(r.status, 100);
  EXPECT_EQ(test_support::message_numbers(r), std::vector<int>{360});
}

TEST_F(Varmacov, OnlyThetaFixesTheDimension) {
  auto r = call({kNone, Value::matrix(3, 3, {0.2, 0, 0, 0, 0.4, 0, 0, 0, -0.6}), kNone, kNone,
                 kNone, Value::scalar(2)});
  ASSERT_EQ(r.status, 0);
  const mvts::Matrix& g = *r.outputs[0];
  ASSERT_EQ(g.rows, 9);
  ASSERT_EQ(g.cols, 3);
  EXPECT_NEAR(g.at(2, 2), 1.36, 1e-15);
  EXPECT_NEAR(g.at(5, 2), 0.6, 1e-15);
}

TEST_F(Varmacov, GeneralModelMatchesLyapunovReference) {
  std::mt19937_64 rng(77);
  const int k = 3, p = 2, q = 2, L = 6;
  const Mat phi = varma_test::random_ar(rng, p, k, 1);
  const Mat theta = varma_test::random_blocks(rng, q, k, 0.5);
  const Mat s = varma_test::random_cov(rng, k);
  Mat ref;
  ASSERT_TRUE(varma_test::lyapunov_autocov(phi, p, theta, q, s, k, L, &ref));
  auto r = call({Value::matrix(p * k, k, phi), Value::matrix(q * k, k, theta),
                 Value::matrix(k, k, s), kNone, kNone, Value::scalar(L)});
  ASSERT_EQ(r.status, 0);
  const mvts::Matrix& g = *r.outputs[0];
  ASSERT_EQ(g.rows, k * (L + 1));
  // rows h k .. h k + k - 1 hold Gamma(h) = E[y_t y_{t+h}']
  for (int h = 0; h <= L; ++h)
    for (int a = 0; a < k; ++a)
      for (int b = 0; b < k; ++b)
        EXPECT_NEAR(g.at(h * k + a, b), ref[(h * k + a) * k + b], 1e-10) << h;
}

// y_t = Phi y_(t-p) + e_t with one block at lag p = 200 and S = I:
// Gamma(0) = Phi Gamma(0) Phi' + I = (I - Phi^2)^-1 for symmetric Phi,
// Gamma(h) = 0 for 0 < h < p and Gamma(p) = Gamma(0) Phi'.
TEST_F(Varmacov, OneBlockAtADistantLag) {
  const int p = 200;
  auto r = call({Value::matrix(2, 2, {0.5, 0.1, 0.1, 0.5}), kNone, kNone, Value::scalar(p), kNone,
                 Value::scalar(p)});
  ASSERT_EQ(r.status, 0);
  const mvts::Matrix& g = *r.outputs[0];
  ASSERT_EQ(g.rows, 2 * (p + 1));
  // I - Phi^2 = [0.74 -0.1; -0.1 0.74], det 0.5376.
  const double g0[4] = {0.74 / 0.5376, 0.1 / 0.5376, 0.1 / 0.5376, 0.74 / 0.5376};
  const double gp[4] = {0.5 * g0[0] + 0.1 * g0[1], 0.1 * g0[0] + 0.5 * g0[1],
                        0.5 * g0[2] + 0.1 * g0[3], 0.1 * g0[2] + 0.5 * g0[3]};
  for (int a = 0; a < 2; ++a)
    for (int b = 0; b < 2; ++b) {
      EXPECT_NEAR(g.at(a, b), g0[2 * a + b], 1e-13);
      EXPECT_NEAR(g.at(2 * p + a, b), gp[2 * a + b], 1e-13);
    }
  double off = 0.0;
  for (int h = 1; h < p; ++h)
    for (int a = 0; a < 2; ++a)
      for (int b = 0; b < 2; ++b) off = std::max(off, std::fabs(g.at(2 * h + a, b)));
  EXPECT_LT(off, 1e-13);
}

TEST_F(Varmacov, LagListsPlaceBlocksAtTheirLags) {
  // phi blocks A, B with the lag list [3, 1]: the i-th smallest lag takes the
  // i-th given block, so A stands at lag 1, B at lag 3, zero at lag 2; [1, 3]
  // says the same.
  const std::vector<double> a = {0.4, 0.1, 0.0, 0.3}, b = {0.2, 0.0, -0.1, 0.25};
  std::vector<double> two = a, three = a;
  two.insert(two.end(), b.begin(), b.end());
  three.insert(three.end(), {0, 0, 0, 0});
  three.insert(three.end(), b.begin(), b.end());
  const Value theta2 = Value::matrix(2, 2, {0.3, 0.1, 0.0, -0.2});
  auto spread = call({Value::matrix(6, 2, three), kNone, kNone, kNone, kNone, Value::scalar(6)});
  auto listed = call({Value::matrix(4, 2, two), kNone, kNone, Value::row({3, 1}), kNone,
                      Value::scalar(6)});
  auto sorted = call({Value::matrix(4, 2, two), kNone, kNone, Value::column({1, 3}), kNone,
                      Value::scalar(6)});
  ASSERT_EQ(spread.status, 0);
  ASSERT_EQ(listed.status, 0);
  ASSERT_EQ(sorted.status, 0);
  EXPECT_EQ(listed.outputs[0]->data, spread.outputs[0]->data);
  EXPECT_EQ(sorted.outputs[0]->data, spread.outputs[0]->data);
  // an MA block at lag 2 only: Gamma(1) = 0, Gamma(2) = -Theta', Gamma(3) = 0 (pure MA, S = I)
  auto ma = call({kNone, theta2, kNone, kNone, Value::scalar(2), Value::scalar(3)});
  ASSERT_EQ(ma.status, 0);
  const mvts::Matrix& g = *ma.outputs[0];
  EXPECT_EQ(g.at(2, 0), 0.0);
  EXPECT_EQ(g.at(3, 1), 0.0);
  EXPECT_DOUBLE_EQ(g.at(4, 0), -0.3);
  EXPECT_DOUBLE_EQ(g.at(4, 1), -0.0);
  EXPECT_DOUBLE_EQ(g.at(5, 0), -0.1);
  EXPECT_DOUBLE_EQ(g.at(5, 1), 0.2);
}

// One MA block at a distant lag Q (a sparse lag list): the cross terms are
// computed over the listed blocks only, so Q = 200000 is answered at once.
// y_t = e_t - Theta e_{t-Q} with S = I: Gamma(0) = I + Theta Theta',
// Gamma(Q) = -Theta', nothing in between; with Phi_1 = 0.5 I in front, the
// terms linking e_{t-j} and e_{t-j-Q} carry 0.5^Q = 0, so
// Gamma(0) = (4/3)(I + Theta Theta') and Gamma(1) = Gamma(0) / 2.
TEST_F(Varmacov, MaBlockAtADistantListedLag) {
  const int Q = 200000;
  const std::vector<double> th = {0.3, 0.1, 0.0, -0.2};
  // Theta Theta' = [[0.1, -0.02], [-0.02, 0.04]]
  const double g0[4] = {1.1, -0.02, -0.02, 1.04};
  auto ma = call({kNone, Value::matrix(2, 2, th), kNone, kNone, Value::scalar(Q),
                  Value::scalar(Q)});
  ASSERT_EQ(ma.status, 0);
  const mvts::Matrix& g = *ma.outputs[0];
  ASSERT_EQ(g.rows, 2 * (Q + 1));
  for (int a = 0; a < 2; ++a)
    for (int b = 0; b < 2; ++b) {
      EXPECT_NEAR(g.at(a, b), g0[2 * a + b], 1e-15);
      EXPECT_EQ(g.at(2 + a, b), 0.0);
      EXPECT_EQ(g.at(2 * (Q - 1) + a, b), 0.0);
      EXPECT_NEAR(g.at(2 * Q + a, b), -th[2 * b + a], 1e-15);
    }
  auto arma = call({diag2(0.5), Value::matrix(2, 2, th), kNone, kNone, Value::scalar(Q),
                    Value::scalar(1)});
  ASSERT_EQ(arma.status, 0);
  const mvts::Matrix& h = *arma.outputs[0];
  ASSERT_EQ(h.rows, 4);
  for (int a = 0; a < 2; ++a)
    for (int b = 0; b < 2; ++b) {
      EXPECT_NEAR(h.at(a, b), g0[2 * a + b] * 4.0 / 3.0, 1e-14);
      EXPECT_NEAR(h.at(2 + a, b), g0[2 * a + b] * 2.0 / 3.0, 1e-14);
    }
}

TEST_F(Varmacov, ArgumentChecksInOrder) {
  const Value sym = Value::matrix(2, 2, {1, 0.2, 0.2, 1});
  const std::vector<test_support::ArgumentCase> cases = {
      {"nothing", {}, 100, 354},
      {"coefficients omitted", {kNone, kNone, sym}, 100, 354},
      {"phi scalar", {Value::scalar(0.5)}, 100, 351},
      {"phi vector", {Value::row({0.5, 0.1, 0.2, 0.3})}, 100, 351},
      {"phi rows not blocks", {Value::matrix(3, 2, {0.5, 0, 0, 0.5, 0, 0})}, 100, 355},
      {"theta dimension", {diag2(0.5), Value::matrix(3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1})}, 100, 352},
      {"sigma dimension",
       {diag2(0.5), kNone, Value::matrix(3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1})}, 100, 352},
      {"sigma not square", {diag2(0.5), kNone, Value::matrix(2, 3, {1, 0, 0, 0, 1, 0})}, 100, 357},
      {"sigma not symmetric", {diag2(0.5), kNone, Value::matrix(2, 2, {1, 0.2, 0.3, 1})}, 10, 0},
      {"sigma not positive definite", {diag2(0.5), kNone, Value::matrix(2, 2, {1, 2, 2, 1})}, 8, 0},
      {"sigma missing", {diag2(0.5), kNone, Value::matrix(2, 2, {1, NAN, NAN, 1})}, 17, 0},
      {"AR lags count", {diag2(0.5), kNone, kNone, Value::row({1, 2})}, 100, 356},
      {"AR lag zero", {diag2(0.5), kNone, kNone, Value::scalar(0)}, 100, 353},
      {"lag below one", {diag2(0.5), kNone, kNone, kNone, kNone, Value::scalar(0.5)}, 100, 353},
      {"lag too large", {diag2(0.5), kNone, kNone, kNone, kNone, Value::scalar(3e9)}, 18, 0},
      {"lag a vector", {diag2(0.5), kNone, kNone, kNone, kNone, Value::column({1, 2})}, 15, 0},
      {"theta character", {diag2(0.5), Value::character("x")}, 13, 0},
      {"phi without value", {Value::no_value()}, 2, 0},
  };
  test_support::expect_argument_failures(s_, "VARMACOV", cases);
}

TEST_F(Varmacov, LagTruncatesAndSizesTheOutput) {
  auto r = call({diag2(0.5), kNone, kNone, kNone, kNone, Value::scalar(2.9)});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.outputs[0]->rows, 6);
}

TEST_F(Varmacov, AllocationFailuresLeaveNothingBehind) {
  const std::vector<Value> args = {Value::matrix(4, 2, {0.5, 0.1, 0, 0.3, 0.2, 0, 0.1, -0.1}),
                                   diag2(0.3), Value::matrix(2, 2, {2, 0.5, 0.5, 1}), kNone,
                                   kNone, Value::scalar(5)};
  EXPECT_GE(test_support::expect_allocation_failures(s_, "VARMACOV", args), 1);
}

}  // namespace
