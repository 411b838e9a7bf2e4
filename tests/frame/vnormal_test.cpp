// VNORMAL through the host: its draws and every argument check it reaches.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "host/host.hpp"
#include "tests/support/allocation.hpp"
#include "tests/support/argument_checks.hpp"
#include "module/frame/rng.hpp"

namespace {

using mvts::Value;

class Vnormal : public ::testing::Test {
 protected:
  mvts::CallResult call(std::vector<Value> args) { return s_.call("VNORMAL", args); }
  mvts::Session s_;
};

TEST_F(Vnormal, SeedOneDrawsMuPlusSuccessiveDeviates) {
  auto r = call({Value::row({1, 2}), Value::omitted(), Value::scalar(3), Value::scalar(1)});
  ASSERT_EQ(r.status, 0);
  ASSERT_TRUE(r.outputs[0]);
  const mvts::Matrix& y = *r.outputs[0];
  ASSERT_EQ(y.rows, 3);
  ASSERT_EQ(y.cols, 2);
  // sigma omitted: every row is mu plus two successive deviates of seed 1.
  std::uint32_t seed = 1;
  for (int t = 0; t < 3; ++t)
    for (int j = 0; j < 2; ++j) EXPECT_EQ(y.at(t, j), (j + 1) + mvtsa::rng_normal(&seed));
  // The first deviate of seed 1, from the generator's table in rng_test.cpp.
  EXPECT_EQ(y.at(0, 0), 1.0 + 1.8048229506419473);
}

TEST_F(Vnormal, DefaultsToOneHundredRows) {
  auto r = call({Value::row({1, 2})});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.outputs[0]->rows, 100);
}

TEST_F(Vnormal, SigmaShapesTheDrawsThroughItsCholeskyFactor) {
  // sigma = L L' with L = [[2, 0], [1, 3]]
  auto r = call({Value::omitted(), Value::matrix(2, 2, {4, 2, 2, 10}), Value::scalar(4),
                 Value::scalar(9)});
  ASSERT_EQ(r.status, 0);
  std::uint32_t seed = 9;
  for (int t = 0; t < 4; ++t) {
    const double z0 = mvtsa::rng_normal(&seed), z1 = mvtsa::rng_normal(&seed);
    EXPECT_DOUBLE_EQ(r.outputs[0]->at(t, 0), 2 * z0);
    EXPECT_DOUBLE_EQ(r.outputs[0]->at(t, 1), z0 + 3 * z1);
  }
}

TEST_F(Vnormal, SampleMomentsOfALongSeries) {
  auto r = call({Value::row({1, -2, 0.5}),
                 Value::matrix(3, 3, {2, 0.5, 0.3, 0.5, 1, -0.2, 0.3, -0.2, 0.5}),
                 Value::scalar(100000), Value::scalar(5)});
  ASSERT_EQ(r.status, 0);
  const mvts::Matrix& y = *r.outputs[0];
  const double mu[3] = {1, -2, 0.5}, sig[9] = {2, 0.5, 0.3, 0.5, 1, -0.2, 0.3, -0.2, 0.5};
  double mean[3] = {0, 0, 0};
  for (int t = 0; t < y.rows; ++t)
    for (int j = 0; j < 3; ++j) mean[j] += y.at(t, j) / y.rows;
  for (int j = 0; j < 3; ++j) EXPECT_NEAR(mean[j], mu[j], 5 * std::sqrt(sig[j * 4] / y.rows));
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) {
      double c = 0;
      for (int t = 0; t < y.rows; ++t) c += (y.at(t, a) - mean[a]) * (y.at(t, b) - mean[b]);
      EXPECT_NEAR(c / (y.rows - 1), sig[a * 3 + b], 0.03);
    }
}

TEST_F(Vnormal, AlmostSymmetricSigmaIsAveragedAndAccepted) {
  auto r = call({Value::omitted(), Value::matrix(2, 2, {1, 0.5, 0.5 + 5e-9, 1}),
                 Value::scalar(2), Value::scalar(3)});
  EXPECT_EQ(r.status, 0);
  r = call({Value::omitted(), Value::matrix(2, 2, {1, 0.5, 0.5 + 1e-7, 1})});
  EXPECT_EQ(r.status, 10);
  EXPECT_TRUE(r.outputs[0] == std::nullopt);
}

TEST_F(Vnormal, SigmaWithoutPositiveEigenvaluesGives8) {
  EXPECT_EQ(call({Value::omitted(), Value::matrix(2, 2, {1, 1, 1, 1})}).status, 8);
  EXPECT_EQ(call({Value::omitted(), Value::matrix(2, 2, {1, 2, 2, 1})}).status, 8);
}

TEST_F(Vnormal, EveryArgumentCheckItReaches) {
  const Value mu = Value::row({1, 2});
  const std::vector<test_support::ArgumentCase> cases = {
      {"n 0.5", {mu, Value::omitted(), Value::scalar(0.5)}, 100, 353},
      {"n -3", {mu, Value::omitted(), Value::scalar(-3)}, 100, 353},
      {"n 3e9", {mu, Value::omitted(), Value::scalar(3e9)}, 18, 0},
      {"n 2x1", {mu, Value::omitted(), Value::column({2, 3})}, 15, 0},
      {"n missing", {mu, Value::omitted(), Value::scalar(NAN)}, 17, 0},
      {"n character", {mu, Value::omitted(), Value::character("ten")}, 13, 0},
      {"n no value", {mu, Value::omitted(), Value::no_value()}, 2, 0},
      {"seed 1x2", {mu, Value::omitted(), Value::scalar(2), Value::row({1, 2})}, 15, 0},
      {"seed inf", {mu, Value::omitted(), Value::scalar(2), Value::scalar(INFINITY)}, 17, 0},
      {"mu scalar", {Value::scalar(1)}, 100, 351},
      {"mu matrix", {Value::matrix(2, 2, {1, 2, 3, 4})}, 100, 351},
      {"mu empty", {Value::matrix(0, 2, {})}, 100, 350},
      {"mu missing", {Value::row({1, NAN})}, 17, 0},
      {"mu character", {Value::character("x")}, 13, 0},
      {"mu no value", {Value::no_value()}, 2, 0},
      {"sigma scalar", {Value::omitted(), Value::scalar(1)}, 100, 351},
      {"sigma vector", {Value::omitted(), Value::row({1, 2})}, 100, 351},
      {"sigma 2x3", {Value::omitted(), Value::matrix(2, 3, {1, 0, 0, 0, 1, 0})}, 100, 357},
      {"sigma vs mu", {Value::row({1, 2, 3}), Value::matrix(2, 2, {1, 0, 0, 1})}, 100, 352},
      {"neither", {Value::omitted(), Value::omitted(), Value::scalar(3)}, 100, 365},
      {"nothing", {}, 100, 365},
  };
  test_support::expect_argument_failures(s_, "VNORMAL", cases);
}

TEST_F(Vnormal, ShapeInsertsNameFoundAndRequiredShapes) {
  auto r = call({Value::scalar(1)});
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(std::get<std::string>(r.messages[0].inserts[0]), "scalar");
  EXPECT_EQ(std::get<std::string>(r.messages[0].inserts[1]), "vector");
  r = call({Value::omitted(), Value::row({1, 2})});
  EXPECT_EQ(std::get<std::string>(r.messages[0].inserts[0]), "vector");
  EXPECT_EQ(std::get<std::string>(r.messages[0].inserts[1]), "matrix");
}

TEST_F(Vnormal, CountIsTruncatedTowardZero) {
  auto r = call({Value::row({0, 0}), Value::omitted(), Value::scalar(2.9)});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.outputs[0]->rows, 2);
}

TEST_F(Vnormal, CharacterArgumentFailsBeforeAnyShapeCheck) {
  // The character matrix is checked before the sigma shape of the later slot.
  auto r = call({Value::character("abc"), Value::scalar(1)});
  EXPECT_EQ(r.status, 13);
  EXPECT_TRUE(r.messages.empty());
}

TEST_F(Vnormal, EveryAllocationFailureGivesStatusOneAndLeaksNothing) {
  const std::vector<Value> args = {Value::row({1, 2}), Value::matrix(2, 2, {2, 1, 1, 2}),
                                   Value::scalar(5), Value::scalar(3)};
  // packed area, pd work, result, work area, deviates
  EXPECT_GE(test_support::expect_allocation_failures(s_, "VNORMAL", args), 4);
}

}  // namespace
