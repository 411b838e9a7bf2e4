// VTSROOT through the host: the worked examples, lag lists, argument
// checks in order, and the allocation-failure loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "host/host.hpp"
#include "tests/support/allocation.hpp"

namespace {

using mvts::Value;
const Value kNone = Value::omitted();

class Vtsroot : public ::testing::Test {
 protected:
  mvts::CallResult call(std::vector<Value> args) {
    auto r = s_.call("VTSROOT", args);
    EXPECT_EQ(s_.live_blocks(), 0);
    EXPECT_EQ(s_.live_temp_blocks(), 0);
    return r;
  }
  // Status 100 with exactly one message of the given number and inserts.
  void expect_message(const mvts::CallResult& r, int number,
                      std::vector<std::string> inserts = {}) {
    EXPECT_EQ(r.status, 100);
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].number, number);
    ASSERT_EQ(r.messages[0].inserts.size(), inserts.size());
    for (std::size_t i = 0; i < inserts.size(); ++i)
      EXPECT_EQ(std::get<std::string>(r.messages[0].inserts[i]), inserts[i]);
    EXPECT_FALSE(r.outputs.empty() ? false : r.outputs[0].has_value());
  }
  mvts::Session s_;
};

void expect_row(const mvts::Matrix& m, int i, std::vector<double> want, double tol) {
  for (int j = 0; j < 5; ++j) EXPECT_NEAR(m.at(i, j), want[j], tol) << "row " << i << " col " << j;
}

TEST_F(Vtsroot, SymmetricFirstOrder) {
  auto r = call({Value::matrix(2, 2, {0.5, 0.1, 0.1, 0.5})});
  ASSERT_EQ(r.status, 0);
  const mvts::Matrix& m = *r.outputs[0];
  ASSERT_EQ(m.rows, 2);
  ASSERT_EQ(m.cols, 5);
  expect_row(m, 0, {0.6, 0, 0.6, 0, 0}, 1e-15);
  expect_row(m, 1, {0.4, 0, 0.4, 0, 0}, 1e-15);
}

TEST_F(Vtsroot, SecondOrderPurelyImaginaryRoots) {
  // Phi_1 = 0, Phi_2 = -0.25 I: four roots +-0.5i, arguments +-pi/2; the
  // degrees use the factor 57.29577951.
  auto r = call({Value::matrix(4, 2, {0, 0, 0, 0, -0.25, 0, 0, -0.25})});
  ASSERT_EQ(r.status, 0);
  const mvts::Matrix& m = *r.outputs[0];
  ASSERT_EQ(m.rows, 4);
  for (int i = 0; i < 4; ++i) {
    const double sign = i % 2 == 0 ? 1.0 : -1.0;
    expect_row(m, i, {0, 0.5 * sign, 0.5, sign * 1.5707963267948966, sign * 89.9999999951583},
               1e-12);
    EXPECT_DOUBLE_EQ(m.at(i, 4), m.at(i, 3) * 57.29577951);
  }
}

TEST_F(Vtsroot, ArThenMaRoots) {
  // AR: diag(0.5, -0.2); MA: [[0, 0.3], [0.3, 0]] (roots 0.3 and -0.3).
  auto r = call({Value::matrix(2, 2, {0.5, 0, 0, -0.2}), Value::matrix(2, 2, {0, 0.3, 0.3, 0})});
  ASSERT_EQ(r.status, 0);
  const mvts::Matrix& m = *r.outputs[0];
  ASSERT_EQ(m.rows, 4);
  expect_row(m, 0, {0.5, 0, 0.5, 0, 0}, 1e-15);
  expect_row(m, 1, {-0.2, 0, 0.2, M_PI, M_PI * 57.29577951}, 1e-14);
  expect_row(m, 2, {0.3, 0, 0.3, 0, 0}, 1e-15);
  expect_row(m, 3, {-0.3, 0, 0.3, M_PI, M_PI * 57.29577951}, 1e-14);
  // Only theta: every row is an MA root.
  r = call({kNone, Value::matrix(2, 2, {0, 0.3, 0.3, 0})});
  ASSERT_EQ(r.status, 0);
  ASSERT_TRUE(r.outputs[0]);
  ASSERT_EQ(r.outputs[0]->rows, 2);
  EXPECT_NEAR(r.outputs[0]->at(0, 0), 0.3, 1e-15);
}

TEST_F(Vtsroot, LagListsExpandTheOrder) {
  const std::vector<double> b1 = {0.4, 0.1, 0.0, 0.3}, b2 = {-0.2, 0.0, 0.1, 0.25};
  std::vector<double> two = b1;
  two.insert(two.end(), b2.begin(), b2.end());
  // (3, 1): the first block at lag 1, the second at lag 3 = explicit
  // [B1; 0; B2].
  std::vector<double> explicit3 = b1;
  explicit3.insert(explicit3.end(), {0, 0, 0, 0});
  explicit3.insert(explicit3.end(), b2.begin(), b2.end());
  auto r = call({Value::matrix(4, 2, two), kNone, Value::row({3, 1})});
  auto want = call({Value::matrix(6, 2, explicit3)});
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(want.status, 0);
  ASSERT_EQ(r.outputs[0]->rows, 6);
  EXPECT_EQ(r.outputs[0]->data, want.outputs[0]->data);
  // (2, 2): one distinct lag, order 2, only the first block (at lag 2).
  std::vector<double> explicit2 = {0, 0, 0, 0};
  explicit2.insert(explicit2.end(), b1.begin(), b1.end());
  r = call({Value::matrix(4, 2, two), kNone, Value::column({2, 2})});
  want = call({Value::matrix(4, 2, explicit2)});
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.outputs[0]->rows, 4);
  EXPECT_EQ(r.outputs[0]->data, want.outputs[0]->data);
  // MA lag list as a scalar.
  r = call({kNone, Value::matrix(2, 2, b1), kNone, Value::scalar(2)});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.outputs[0]->rows, 4);
}

// One block at lag 1000 (a companion matrix of order 2000): 2000 rows on
// the circles of radius 0.6^(1/1000) and 0.4^(1/1000), at the angles
// 2 pi j / 1000; an MA block at lag 3 after them.
TEST_F(Vtsroot, OneBlockAtADistantLag) {
  const int p = 1000;
  auto r = call({Value::matrix(2, 2, {0.5, 0.1, 0.1, 0.5}), Value::matrix(2, 2, {0, 0.5, 0.5, 0}),
                 Value::scalar(p), Value::scalar(3)});
  ASSERT_EQ(r.status, 0);
  const mvts::Matrix& m = *r.outputs[0];
  ASSERT_EQ(m.rows, 2 * p + 6);
  const double r6 = std::pow(0.6, 1.0 / p), r4 = std::pow(0.4, 1.0 / p);
  int outer = 0;
  double worst = 0.0;
  for (int i = 0; i < 2 * p; ++i) {
    const double mod = m.at(i, 2), step = 2 * M_PI / p;
    worst = std::max(worst, std::min(std::fabs(mod - r6), std::fabs(mod - r4)));
    outer += std::fabs(mod - r6) < 1e-15;
    // The argument is a multiple of 2 pi / 1000.
    const double k = m.at(i, 3) / step;
    worst = std::max(worst, std::fabs(k - std::round(k)) * step);
    if (i > 0) {
      EXPECT_GE(m.at(i - 1, 0), m.at(i, 0) - 1e-15) << i;
    }
  }
  EXPECT_LT(worst, 1e-14);
  EXPECT_EQ(outer, p);
  // Theta = [0 0.5; 0.5 0] at lag 3: the cube roots of 0.5 and -0.5.
  for (int i = 2 * p; i < 2 * p + 6; ++i) EXPECT_NEAR(m.at(i, 2), std::cbrt(0.5), 1e-15) << i;
}

TEST_F(Vtsroot, ArgumentChecksInOrder) {
  const Value phi = Value::matrix(2, 2, {0.5, 0, 0, 0.5});
  expect_message(call({Value::scalar(0.5)}), 351, {"scalar", "matrix"});
  expect_message(call({Value::column({0.5, 0.2})}), 351, {"vector", "matrix"});
  expect_message(call({Value::matrix(3, 2, {1, 2, 3, 4, 5, 6})}), 355, {"AR"});
  expect_message(call({phi, Value::matrix(3, 2, {1, 2, 3, 4, 5, 6})}), 355, {"MA"});
  expect_message(call({phi, Value::matrix(3, 3, std::vector<double>(9, 0.1))}), 352);
  expect_message(call({}), 354, {"coefficient"});
  expect_message(call({kNone, kNone, Value::scalar(1)}), 354, {"coefficient"});
  expect_message(call({phi, kNone, Value::row({1, 2})}), 356, {"AR"});
  expect_message(call({phi, phi, kNone, Value::row({1, 2})}), 356, {"MA"});
  expect_message(call({phi, kNone, Value::scalar(0)}), 353);
  expect_message(call({phi, kNone, Value::matrix(2, 2, {1, 2, 3, 4})}), 351, {"matrix", "vector"});
  EXPECT_EQ(call({Value::character("phi")}).status, 13);
  EXPECT_EQ(call({Value::no_value()}).status, 2);
  EXPECT_EQ(call({Value::matrix(2, 2, {0.5, std::numeric_limits<double>::quiet_NaN(), 0, 1})}).status,
            17);
  // The lag list is checked after theta: a theta fault wins.
  expect_message(call({phi, Value::scalar(1), Value::row({1, 2, 3})}), 351, {"scalar", "matrix"});
}

TEST_F(Vtsroot, AllocationFailuresEndWithStatusOne) {
  const std::vector<Value> args = {Value::matrix(4, 2, {0.5, 0.1, 0, 0.2, -0.3, 0, 0.1, 0.1}),
                                   Value::matrix(2, 2, {0.5, 0.1, 0.1, 0.5}),
                                   Value::row({3, 1})};
  EXPECT_GT(test_support::expect_allocation_failures(s_, "VTSROOT", args, 50), 2);
}

}  // namespace
