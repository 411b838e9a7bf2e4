// FDIF through the host: results, orientation, every argument check and the
// allocation-failure path.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/host.hpp"
#include "tests/support/allocation.hpp"
#include "tests/support/argument_checks.hpp"
#include "module/frame/status.hpp"

namespace {

using mvts::Value;

class Fdif : public ::testing::Test {
 protected:
  mvts::CallResult call(std::vector<Value> args) { return s_.call("FDIF", args); }
  mvts::Session s_;
};

TEST_F(Fdif, DifferencesAColumnWithTheFirstValueMissing) {
  auto r = call({Value::column({1, 1, 1}), Value::scalar(0.4)});
  ASSERT_EQ(r.status, 0);
  ASSERT_TRUE(r.outputs[0]);
  const mvts::Matrix& y = *r.outputs[0];
  ASSERT_EQ(y.rows, 3);
  ASSERT_EQ(y.cols, 1);
  EXPECT_TRUE(mvtsa::is_missing(y.at(0, 0)));
  EXPECT_NEAR(y.at(1, 0), 0.6, 1e-15);
  EXPECT_NEAR(y.at(2, 0), 0.48, 1e-15);
  EXPECT_TRUE(r.messages.empty());
}

TEST_F(Fdif, OrientationNeverChangesTheColumnResult) {
  const std::vector<double> x = {2, -1, 4, 0.5, 3};
  auto rc = call({Value::column(x), Value::scalar(-0.7)});
  auto rr = call({Value::row(x), Value::scalar(-0.7)});
  ASSERT_EQ(rc.status, 0);
  ASSERT_EQ(rr.status, 0);
  ASSERT_EQ(rr.outputs[0]->rows, 5);
  ASSERT_EQ(rr.outputs[0]->cols, 1);
  EXPECT_TRUE(mvtsa::is_missing(rr.outputs[0]->at(0, 0)));
  for (int t = 1; t < 5; ++t) EXPECT_EQ(rr.outputs[0]->at(t, 0), rc.outputs[0]->at(t, 0));
  // d = -0.7: running sum 2, 1, 5, 5.5, 8.5 differenced with d = 0.3.
  const double c[5] = {2, 1, 5, 5.5, 8.5};
  double w[5] = {1, -0.3, 0, 0, 0};
  for (int k = 2; k < 5; ++k) w[k] = w[k - 1] * (k - 1 - 0.3) / k;
  for (int t = 1; t < 5; ++t) {
    double s = 0;
    for (int j = 0; j <= t; ++j) s += w[j] * c[t - j];
    EXPECT_NEAR(rc.outputs[0]->at(t, 0), s, 1e-14) << t;
  }
}

TEST_F(Fdif, SingleValueGivesMissing) {
  auto r = call({Value::scalar(5), Value::scalar(0.3)});
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.outputs[0]->rows, 1);
  EXPECT_TRUE(mvtsa::is_missing(r.outputs[0]->at(0, 0)));
}

TEST_F(Fdif, RangeOfD) {
  for (double d : {0.0, 1.0, -1.0, 1.2, -3.0, 1 - 1e-9, -(1 - 1e-9), 1e-9, -5e-9}) {
    auto r = call({Value::column({1, 2, 3}), Value::scalar(d)});
    EXPECT_EQ(r.status, 100) << d;
    ASSERT_EQ(r.messages.size(), 1u) << d;
    EXPECT_EQ(r.messages[0].number, 372) << d;
    EXPECT_FALSE(r.outputs[0]) << d;
    EXPECT_EQ(s_.live_blocks(), 0);
  }
  for (double d : {0.999999, -0.999999, 1.1e-8, 0.5, -0.5}) {
    auto r = call({Value::column({1, 2, 3}), Value::scalar(d)});
    EXPECT_EQ(r.status, 0) << d;
  }
  // 0.999999 is the binomial filter, not the first difference.
  auto r = call({Value::column({0, 0, 1, 0}), Value::scalar(0.999999)});
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.outputs[0]->at(3, 0), -1.0);
  // y_3 = w_1 = Gamma(1 - d) / Gamma(-d) = -d, up to the rounding of
  // sin(pi d) next to the pole (relative 6.2e-12 here).
  EXPECT_NEAR(r.outputs[0]->at(3, 0), -0.999999, 1e-10);
}

TEST_F(Fdif, ArgumentChecksInOrder) {
  const Value x = Value::column({1, 2, 3});
  const Value d = Value::scalar(0.3);
  const std::vector<test_support::ArgumentCase> cases = {
      {"no argument", {}, 2, 0},
      {"series omitted", {Value::omitted(), d}, 2, 0},
      {"series without value", {Value::no_value(), d}, 2, 0},
      {"series character", {Value::character("abc"), d}, 13, 0},
      {"series a matrix", {Value::matrix(2, 2, {1, 2, 3, 4}), d}, 6, 0},
      {"series first", {Value::matrix(2, 2, {1, 2, 3, 4}), Value::character("x")}, 6, 0},
      {"series missing", {Value::column({1, NAN, 3}), d}, 17, 0},
      {"series infinite", {Value::column({1, INFINITY, 3}), d}, 17, 0},
      {"d omitted", {x}, 17, 0},
      {"d slot empty", {x, Value::omitted()}, 17, 0},
      {"d without value", {x, Value::no_value()}, 2, 0},
      {"d character", {x, Value::character("d")}, 13, 0},
      {"d a vector", {x, Value::column({0.3, 0.3})}, 15, 0},
      {"d missing", {x, Value::scalar(NAN)}, 17, 0},
  };
  // The status alone names each fault: no call issues a message.
  test_support::expect_argument_failures(s_, "FDIF", cases);
}

TEST_F(Fdif, AllocationFailureRaisesAndLeaksNothing) {
  const std::vector<Value> args = {Value::column({1, 2, 3, 4}), Value::scalar(0.25)};
  // at least one allocation was made and failed
  EXPECT_GE(test_support::expect_allocation_failures(s_, "FDIF", args, 10), 1);
}

}  // namespace
