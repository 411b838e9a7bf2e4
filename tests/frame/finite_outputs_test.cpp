// The end-of-call check: a value that is not a finite number where a function
// promises one fails the call (status 1, message 381 naming the output, row
// and column); the missing values that are part of a function's contract
// pass.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "host/host.hpp"

namespace {

using mvts::CallResult;
using mvts::Value;

const Value kNone = Value::omitted();

std::int64_t int_insert(const mvts::Message& m, std::size_t i) {
  return i < m.inserts.size() && std::holds_alternative<std::int64_t>(m.inserts[i])
             ? std::get<std::int64_t>(m.inserts[i])
             : -1;
}

struct Overflow {
  const char* what;
  const char* name;
  std::vector<Value> args;
  std::int64_t row;  // of the first value that is not finite
};

// Models and series at the edge of the double range: each computation
// overflows.  Before the check every one returned status 0 with missing
// values.
TEST(FiniteOutputs, OverflowIsAFailureNotAMissingValue) {
  const Value phi = Value::row({0.5, 0.1}), lags = Value::row({1, 2});
  const std::vector<Overflow> cases = {
      {"FARMACOV theta 1e308", "FARMACOV",
       {Value::scalar(0.2), phi, Value::scalar(1e308), kNone, lags, Value::scalar(1),
        Value::scalar(5)},
       1},
      {"FARMASIM theta 1e308", "FARMASIM",
       {Value::scalar(0.2), phi, Value::scalar(1e308), kNone, kNone, Value::scalar(5), lags,
        Value::scalar(1), kNone, Value::scalar(1)},
       -1},
      {"FARMALIK exact, series 1e308", "FARMALIK",
       {Value::scalar(1e308), Value::scalar(0.2), phi, Value::scalar(0.3), kNone, lags,
        Value::scalar(1), Value::scalar(1)},
       1},
      {"UCMSIM slope 1e308", "UCMSIM",
       {Value::row({0, 1}), Value::scalar(1e308), kNone, kNone, kNone, kNone, kNone, kNone, kNone,
        kNone, kNone, kNone, Value::scalar(3), Value::scalar(1)},
       2},
  };
  mvts::Session s;
  for (const Overflow& c : cases) {
    const CallResult r = s.call(c.name, c.args);
    EXPECT_EQ(r.status, 1) << c.what;
    ASSERT_FALSE(r.messages.empty()) << c.what;
    const mvts::Message& m = r.messages.back();
    EXPECT_EQ(m.number, 381) << c.what;
    EXPECT_EQ(int_insert(m, 0), 1) << c.what;  // output 1
    if (c.row > 0) {
      EXPECT_EQ(int_insert(m, 1), c.row) << c.what;
    }
    EXPECT_EQ(int_insert(m, 2), 1) << c.what;  // column 1
    EXPECT_EQ(r.argument, 0) << c.what;        // not one argument's fault
    EXPECT_EQ(s.live_blocks(), 0) << c.what;
  }
}

// The missing values a function returns by contract pass the check.
TEST(FiniteOutputs, MissingValuesOfTheContractPass) {
  mvts::Session s;
  // FDIF: the first difference has no predecessor.
  CallResult r = s.call("FDIF", {Value::row({1, 2, 3, 5}), Value::scalar(0.4)});
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(std::isnan(r.outputs[0]->data[0]));
  // FARMALIK by conditional sums of squares: no ln det, no quadratic form.
  r = s.call("FARMALIK", {Value::row({1, 2, 3, 4, 5, 1, 2}), Value::scalar(0.2), kNone, kNone,
                          kNone, kNone, kNone, Value::scalar(0)});
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(std::isfinite(r.outputs[0]->data[0]));
  EXPECT_TRUE(std::isnan(r.outputs[0]->data[1]));
  EXPECT_TRUE(std::isnan(r.outputs[0]->data[2]));
  // FARMAFIT without AR and MA parts: results 2 and 3 are a missing 1 x 1.
  std::vector<double> y(80);
  for (int t = 0; t < 80; ++t) y[std::size_t(t)] = std::sin(1.3 * t) + 0.5 * std::cos(0.4 * t);
  r = s.call("FARMAFIT", {Value::column(y)});
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(std::isfinite(r.outputs[0]->data[0]));
  EXPECT_TRUE(std::isnan(r.outputs[1]->data[0]));
  EXPECT_TRUE(std::isnan(r.outputs[2]->data[0]));
  // VARMASIM stopped by note 359 returns the finite observations before it.
  r = s.call("VARMASIM", {Value::matrix(2, 2, {10, 0, 0, 10}), kNone, kNone, kNone,
                          Value::scalar(400), kNone, kNone, Value::scalar(1), Value::scalar(5)});
  ASSERT_EQ(r.status, 0);
  ASSERT_FALSE(r.messages.empty());
  EXPECT_EQ(r.messages.back().number, 359);
  ASSERT_TRUE(r.outputs[0]);
  EXPECT_LT(r.outputs[0]->rows, 400);
  for (double v : r.outputs[0]->data) EXPECT_TRUE(std::isfinite(v));
}

}  // namespace
