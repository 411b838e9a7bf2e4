// The host names the argument whose check ended a call: every input of every
// function, spoilt in turn, is named by its own number.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "host/host.hpp"

namespace {

using mvts::CallResult;
using mvts::Value;

const Value kNone = Value::omitted();
Value diag2(double x) { return Value::matrix(2, 2, {x, 0, 0, x}); }

Value series(int t, int k) {
  std::vector<double> d(std::size_t(t) * k);
  for (int i = 0; i < t; ++i)
    for (int j = 0; j < k; ++j) d[std::size_t(i) * k + j] = std::sin(1.3 * i + 0.7 * j);
  return Value::matrix(t, k, d);
}

struct Call {
  const char* name;
  std::vector<Value> args;  // every input given, valid
};

// One valid call per function with every input given, so that every input
// is checked.
std::vector<Call> full_calls() {
  return {
      {"VNORMAL", {Value::row({1, 2}), diag2(2), Value::scalar(5), Value::scalar(3)}},
      {"VARMACOV", {diag2(0.5), diag2(0.2), diag2(1), Value::scalar(1), Value::scalar(1),
                    Value::scalar(4)}},
      {"VARMAFIT", {series(30, 2), Value::scalar(1), Value::scalar(1)}},
      {"VARMALIK", {series(20, 2), diag2(0.5), diag2(0.2), diag2(1), Value::scalar(1),
                    Value::scalar(1), Value::scalar(0)}},
      {"VARMASIM", {diag2(0.5), diag2(0.2), Value::row({1, 2}), diag2(1), Value::scalar(10),
                    Value::scalar(1), Value::scalar(1), Value::scalar(0.5), Value::scalar(3)}},
      {"VTSROOT", {Value::matrix(2, 2, {0.5, 0.1, 0.2, 0.3}), diag2(0.4), Value::scalar(1),
                   Value::scalar(1)}},
      {"FARMALIK", {series(20, 1), Value::scalar(0.3), Value::scalar(0.5), Value::scalar(0.2),
                    Value::scalar(1), Value::scalar(1), Value::scalar(1), Value::scalar(0)}},
      {"FARMASIM", {Value::scalar(0.3), Value::scalar(0.5), Value::scalar(0.2), Value::scalar(1),
                    Value::scalar(1), Value::scalar(20), Value::scalar(1), Value::scalar(1),
                    Value::scalar(0.5), Value::scalar(3)}},
      {"FARMACOV", {Value::scalar(0.3), Value::scalar(0.5), Value::scalar(0.2), Value::scalar(1),
                    Value::scalar(1), Value::scalar(1), Value::scalar(5)}},
      {"FARMAFIT", {series(60, 1), Value::scalar(1), Value::scalar(1), Value::scalar(0)}},
      {"FDIF", {Value::row({1, 2, 3, 4}), Value::scalar(0.4)}},
      {"UCMSIM", {Value::row({10, 1}), Value::row({1, 0.1}), Value::row({1, 0, 4, 0.9, 0.1}),
                  Value::row({1, 0, 6, 0.9, 0.1}), Value::row({1, 0, 8, 0.9, 0.1}),
                  Value::row({4, 0.1}), Value::row({1, 2, 3}), Value::row({3, 0.1}),
                  Value::row({1, 2}), Value::row({2, 0.1}), Value::row({1}), Value::scalar(0.5),
                  Value::scalar(20), Value::scalar(3)}},
  };
}

TEST(FailedArgument, ASuccessfulCallNamesNoArgument) {
  mvts::Session s;
  for (const Call& c : full_calls()) {
    const CallResult r = s.call(c.name, c.args);
    ASSERT_EQ(r.status, 0) << c.name << ": " << (r.messages.empty() ? "" : r.messages[0].text);
    EXPECT_EQ(r.argument, 0) << c.name;
  }
}

// Each input in turn replaced by a character value (status 13), a value
// holding a missing value, and an argument without a value (status 2): the
// call fails and names that input.
TEST(FailedArgument, EveryInputOfEveryFunctionIsNamed) {
  mvts::Session s;
  const std::vector<Value> bad = {Value::character("x"), Value::scalar(std::nan("")),
                                  Value::no_value()};
  int failed = 0;
  for (const Call& c : full_calls()) {
    for (std::size_t i = 0; i < c.args.size(); ++i) {
      for (const Value& b : bad) {
        std::vector<Value> args = c.args;
        args[i] = b;
        const CallResult r = s.call(c.name, args);
        // FARMAFIT's opt allows missing values (they count as 0).
        if (r.status == 0) continue;
        ++failed;
        EXPECT_EQ(r.argument, int(i) + 1)
            << c.name << " input " << i + 1 << " kind " << int(b.kind) << " status " << r.status
            << (r.messages.empty() ? "" : ": " + r.messages.back().text);
      }
    }
  }
  // Every input but FARMAFIT's opt (missing values allowed) fails all three.
  EXPECT_EQ(failed, 3 * (4 + 6 + 3 + 7 + 9 + 4 + 8 + 10 + 7 + 4 + 2 + 14) - 1);
}

// Covariance checks (positive definite: status 8, symmetric: 10) name the
// covariance input, and so does the refusal of a seed (message 380).
TEST(FailedArgument, ValueChecksNameTheirInput) {
  mvts::Session s;
  const Value not_pd = Value::matrix(2, 2, {1, 2, 2, 1});
  const Value not_symmetric = Value::matrix(2, 2, {1, 0.5, 0.2, 1});
  CallResult r = s.call("VNORMAL", {Value::row({1, 2}), not_pd, Value::scalar(3)});
  EXPECT_EQ(r.status, 8);
  EXPECT_EQ(r.argument, 2);
  r = s.call("VARMACOV", {diag2(0.5), kNone, not_symmetric});
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(r.argument, 3);
  r = s.call("FARMASIM", {Value::scalar(0.2), kNone, kNone, kNone, Value::scalar(-1)});
  EXPECT_EQ(r.status, 8);
  EXPECT_EQ(r.argument, 5);
  r = s.call("VARMASIM", {diag2(0.5), kNone, kNone, kNone, Value::scalar(5), kNone, kNone,
                          Value::scalar(1), Value::scalar(0.5)});
  EXPECT_EQ(r.status, 100);
  EXPECT_EQ(r.argument, 9);
}

// A required input that is omitted is never read; the host names the first
// omitted input after the last one read.
TEST(FailedArgument, AnOmittedRequiredInputIsNamed) {
  mvts::Session s;
  CallResult r = s.call("VARMALIK", {});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.argument, 1);
  r = s.call("FDIF", {Value::row({1, 2, 3})});  // FDIF counts a missing d as missing
  EXPECT_EQ(r.status, 17);
  EXPECT_EQ(r.argument, 2);
  r = s.call("FARMALIK", {kNone, Value::scalar(0.3)});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.argument, 1);
}

// A value refused with status 17 although it holds no missing value names
// itself, not an optional input omitted after it: a UCMSIM cycle without
// its period (fewer than 3 elements) or with a period below 2.
TEST(FailedArgument, AValueRefusedAsMissingNamesItself) {
  mvts::Session s;
  const Value short_cycle = Value::row({0.1, 0.2});
  const Value slow_cycle = Value::row({1, 0, 1.5, 0.9, 0.1});
  struct Case {
    std::vector<Value> args;
    int argument;
  };
  const std::vector<Case> cases = {
      {{kNone, kNone, short_cycle}, 3},
      {{kNone, kNone, slow_cycle}, 3},
      {{kNone, kNone, slow_cycle, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,
        kNone, Value::scalar(10)}, 3},
      {{kNone, kNone, kNone, slow_cycle}, 4},
      {{kNone, kNone, kNone, kNone, short_cycle}, 5},
      {{kNone, kNone, kNone, kNone, short_cycle, Value::row({1, 0})}, 5},
  };
  for (const Case& c : cases) {
    const CallResult r = s.call("UCMSIM", c.args);
    EXPECT_EQ(r.status, 17) << "slot " << c.argument;
    EXPECT_EQ(r.argument, c.argument) << "slot " << c.argument;
  }
}

// Message 352 names both inputs whose dimensions disagree: the one whose
// check failed and the first input given before it, which fixed the
// dimension.
TEST(FailedArgument, DisagreeingDimensionsNameBothInputs) {
  mvts::Session s;
  const Value three = Value::matrix(3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
  struct Case {
    const char* function;
    std::vector<Value> args;
    int argument;
    const char* names;
  };
  const std::vector<Case> cases = {
      {"VARMACOV", {diag2(0.5), kNone, three}, 3, "argument 3 (`sigma`) and argument 1 (`phi`)"},
      {"VARMACOV", {kNone, diag2(0.5), three}, 3,
       "argument 3 (`sigma`) and argument 2 (`theta`)"},
      {"VNORMAL", {Value::row({1, 2, 3}), diag2(1)}, 2, "argument 2 (`sigma`) and argument 1 (`mu`)"},
      {"VARMASIM", {kNone, diag2(0.3), Value::row({1, 2, 3})}, 3,
       "argument 3 (`mu`) and argument 2 (`theta`)"},
      {"VARMALIK", {series(20, 2), three}, 2, "argument 2 (`phi`) and argument 1 (`series`)"},
      {"VTSROOT", {diag2(0.5), three}, 2, "argument 2 (`theta`) and argument 1 (`phi`)"},
  };
  for (const Case& c : cases) {
    const CallResult r = s.call(c.function, c.args);
    EXPECT_EQ(r.status, 100) << c.function;
    EXPECT_EQ(r.argument, c.argument) << c.function;
    ASSERT_EQ(r.messages.size(), 1u) << c.function;
    EXPECT_EQ(r.messages[0].number, 352) << c.function;
    EXPECT_NE(r.messages[0].text.find(c.names), std::string::npos)
        << c.function << ": " << r.messages[0].text;
  }
}

// Failures that are not about one input name none: a model that is not
// stationary, a failed allocation.
TEST(FailedArgument, OtherFailuresNameNoArgument) {
  mvts::Session s;
  CallResult r = s.call("VARMACOV", {diag2(1.5), kNone, diag2(1)});
  ASSERT_NE(r.status, 0);
  EXPECT_EQ(r.argument, 0);
  s.fail_allocation_at(1);
  r = s.call("FDIF", {Value::row({1, 2, 3}), Value::scalar(0.4)});
  ASSERT_EQ(r.status, 1);
  EXPECT_EQ(r.argument, 0);
}

}  // namespace
