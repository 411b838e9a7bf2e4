// FARMACOV through the host: lag lists, trimming, roots, sigma, lag and the
// argument checks with their statuses and messages.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "host/catalog.hpp"
#include "host/host.hpp"
#include "tests/support/allocation.hpp"
#include "tests/support/argument_checks.hpp"

namespace {

using mvts::Value;

class Farmacov : public ::testing::Test {
 protected:
  // d, phi, theta, sigma, AR lags, MA lags, lag
  mvts::CallResult call(std::vector<Value> args) { return s_.call("FARMACOV", args); }
  static int first_message(const mvts::CallResult& r) {
    return r.messages.empty() ? 0 : r.messages.front().number;
  }
  std::vector<double> values(std::vector<Value> args) {
    auto r = call(std::move(args));
    EXPECT_EQ(r.status, 0);
    return r.status == 0 && r.outputs[0] ? r.outputs[0]->data : std::vector<double>{};
  }
  mvts::Session s_;
};

TEST_F(Farmacov, DefaultsGiveThirteenValues) {
  auto r = call({Value::scalar(0.2)});
  ASSERT_EQ(r.status, 0);
  ASSERT_TRUE(r.outputs[0]);
  EXPECT_EQ(r.outputs[0]->rows, 13);
  EXPECT_EQ(r.outputs[0]->cols, 1);
}

TEST_F(Farmacov, LagListPlacesCoefficientsAtTheirLags) {
  const Value o = Value::omitted();
  // phi = 0.5 at lag 3 is the AR polynomial 1 - 0.5 B^3.
  const auto spread = values({Value::scalar(0.3), Value::scalar(0.5), o, o, Value::scalar(3)});
  const auto full = values({Value::scalar(0.3), Value::column({0, 0, 0.5})});
  ASSERT_EQ(spread.size(), 13u);
  ASSERT_EQ(full.size(), 13u);
  for (int k = 0; k < 13; ++k) EXPECT_DOUBLE_EQ(spread[k], full[k]);
  // Lags [3, 1] for (0.4, 0.2): 0.4 at lag 1, 0.2 at lag 3 (as [1, 3]).
  const auto a = values({Value::scalar(0.3), Value::column({0.4, 0.2}), o, o, Value::row({3, 1})});
  const auto b = values({Value::scalar(0.3), Value::column({0.4, 0, 0.2})});
  ASSERT_EQ(a.size(), 13u);
  ASSERT_EQ(b.size(), 13u);
  for (int k = 0; k < 13; ++k) EXPECT_DOUBLE_EQ(a[k], b[k]);
  // MA lags likewise.
  const auto m1 = values({Value::scalar(0.2), o, Value::scalar(0.6), o, o, Value::scalar(2)});
  const auto m2 = values({Value::scalar(0.2), o, Value::column({0, 0.6})});
  ASSERT_EQ(m1.size(), 13u);
  ASSERT_EQ(m2.size(), 13u);
  for (int k = 0; k < 13; ++k) EXPECT_DOUBLE_EQ(m1[k], m2[k]);
  // A repeated lag counts before duplicates are dropped: 3 elements for 2 coefficients.
  auto r = call({Value::scalar(0.3), Value::column({0.4, 0.2}), o, o, Value::row({3, 1, 3})});
  EXPECT_EQ(r.status, 100);
  EXPECT_EQ(first_message(r), 356);
  ASSERT_EQ(r.messages.size(), 1u);
  ASSERT_EQ(r.messages[0].inserts.size(), 1u);
  EXPECT_EQ(std::get<std::string>(r.messages[0].inserts[0]), "AR");
  r = call({Value::scalar(0.3), o, Value::column({0.4, 0.2}), o, o, Value::scalar(2)});
  EXPECT_EQ(first_message(r), 356);
  ASSERT_EQ(r.messages.size(), 1u);
  ASSERT_EQ(r.messages[0].inserts.size(), 1u);
  EXPECT_EQ(std::get<std::string>(r.messages[0].inserts[0]), "MA");
}

TEST_F(Farmacov, SmallTrailingCoefficientsAreDropped) {
  const auto a = values({Value::scalar(0.3), Value::column({0.5, 0})});
  const auto b = values({Value::scalar(0.3), Value::scalar(0.5)});
  const auto c = values({Value::scalar(0.3), Value::column({0.5, 1e-9})});
  ASSERT_EQ(a.size(), 13u);
  ASSERT_EQ(b.size(), 13u);
  ASSERT_EQ(c.size(), 13u);
  for (int k = 0; k < 13; ++k) {
    EXPECT_EQ(a[k], b[k]);
    EXPECT_EQ(c[k], b[k]);
  }
  // All small: no AR part at all.
  const auto fn = values({Value::scalar(0.3)});
  const auto z = values({Value::scalar(0.3), Value::column({1e-9, 0})});
  ASSERT_EQ(fn.size(), 13u);
  ASSERT_EQ(z.size(), 13u);
  for (int k = 0; k < 13; ++k) EXPECT_EQ(z[k], fn[k]);
}

TEST_F(Farmacov, RootsOutsideOrRepeatedAreRefused) {
  auto r = call({Value::scalar(0.3), Value::scalar(1.2)});
  EXPECT_EQ(r.status, 100);
  EXPECT_EQ(first_message(r), 390);
  EXPECT_FALSE(r.outputs[0].has_value());
  // Roots 1 and -0.5.
  r = call({Value::scalar(0.3), Value::column({0.5, 0.5})});
  EXPECT_EQ(first_message(r), 390);
  // (1 - 0.5 B)^2: the root 0.5 twice.
  r = call({Value::scalar(0.3), Value::column({1.0, -0.25})});
  EXPECT_EQ(r.status, 100);
  EXPECT_EQ(first_message(r), 373);
}

TEST_F(Farmacov, LagIsTruncatedAndSigmaScales) {
  const Value o = Value::omitted();
  auto r = call({Value::scalar(0.3), o, o, o, o, o, Value::scalar(3.9)});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.outputs[0]->rows, 4);
  r = call({Value::scalar(0.3), o, o, o, o, o, Value::scalar(0.7)});
  EXPECT_EQ(r.status, 100);
  EXPECT_EQ(first_message(r), 353);
  const auto one = values({Value::scalar(0.3), Value::scalar(0.4), Value::scalar(0.2)});
  const auto two = values({Value::scalar(0.3), Value::scalar(0.4), Value::scalar(0.2),
                           Value::scalar(2)});
  ASSERT_EQ(one.size(), 13u);
  ASSERT_EQ(two.size(), 13u);
  for (int k = 0; k < 13; ++k) EXPECT_DOUBLE_EQ(two[k], 2 * one[k]);
  r = call({Value::scalar(0.3), o, o, Value::scalar(0)});
  EXPECT_EQ(r.status, 8);
  EXPECT_TRUE(r.messages.empty());
}

// A lag of 2147483647 passes the lag-list checks but asks for a polynomial
// of 2^31 coefficients, beyond the 32-bit orders of the FARMA routines: each
// function refuses it as an allocation (status 1, one error, nothing live)
// instead of taking 16 GiB and counting past the largest int.
TEST_F(Farmacov, LagBeyondTheLargestOrderIsARefusedAllocation) {
  const Value o = Value::omitted();
  const Value d = Value::scalar(0.3), c = Value::scalar(0.5), big = Value::scalar(2147483647.0);
  const Value y = Value::column({1, 2, 3, 4, 5});
  const std::vector<std::pair<const char*, std::vector<Value>>> calls = {
      {"FARMACOV", {d, c, o, o, big}},                 // AR lag list
      {"FARMACOV", {d, o, c, o, o, big}},              // MA lag list
      {"FARMALIK", {y, d, c, o, o, big}},              // AR lag list
      {"FARMASIM", {d, o, c, o, o, Value::scalar(5), o, big}},  // MA lag list
  };
  for (const auto& [name, args] : calls) {
    const auto r = s_.call(name, args);
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.messages.size(), 1u) << name;
    EXPECT_TRUE(r.outputs.empty() || !r.outputs[0]) << name;
    EXPECT_EQ(s_.live_blocks(), 0) << name;
  }
}

// lag = 2147483647 is a whole number within the 32-bit range, but its
// result would have 2^31 rows: the call fails with status 1 and the host's
// error that says so, not as a number above 2147483647 (status 18, kept for
// 2147483648).  VARMACOV refuses its k (lag + 1) rows the same way.
TEST_F(Farmacov, ResultBeyondTheLargestRowCountIsRefusedAsSuch) {
  const Value o = Value::omitted();
  const std::vector<std::pair<const char*, std::vector<Value>>> calls = {
      {"FARMACOV", {Value::scalar(0.3), o, o, o, o, o, Value::scalar(2147483647.0)}},
      {"VARMACOV", {Value::matrix(2, 2, {0.5, 0, 0, 0.5}), o, o, o, o,
                    Value::scalar(1073741823.0)}},
  };
  for (const auto& [name, args] : calls) {
    const auto r = s_.call(name, args);
    EXPECT_EQ(r.status, 1) << name;
    ASSERT_EQ(r.messages.size(), 1u) << name;
    EXPECT_NE(r.messages[0].text.find("more than 2147483647 rows"), std::string::npos)
        << name << ": " << r.messages[0].text;
    EXPECT_EQ(r.argument, 0) << name;  // the value itself is valid
    EXPECT_EQ(s_.live_blocks(), 0) << name;
  }
  auto r = call({Value::scalar(0.3), o, o, o, o, o, Value::scalar(2147483648.0)});
  EXPECT_EQ(r.status, 18);
}

// |d| of 2^-26.5 or less (d = 0 among them) is refused by the four
// functions that take d, as is |d| at the upper bound; the message and the
// help of d say both bounds.
TEST_F(Farmacov, TheRefusalOfASmallDSaysTheRule) {
  const Value o = Value::omitted();
  const Value y = Value::column({1, 2, 3, 4, 5, 6});
  struct Function {
    const char* name;
    int d_slot;  // 0-based
    std::vector<Value> args;
  };
  const std::vector<Function> functions = {
      {"FDIF", 1, {y, o}}, {"FARMACOV", 0, {o}}, {"FARMALIK", 1, {y, o}}, {"FARMASIM", 0, {o}}};
  for (const Function& f : functions) {
    for (double d : {0.0, 1e-9, -1e-9, 0x1p-27, 1.0}) {
      std::vector<Value> args = f.args;
      args[std::size_t(f.d_slot)] = Value::scalar(d);
      const auto r = s_.call(f.name, args);
      EXPECT_EQ(r.status, 100) << f.name << " d = " << d;
      EXPECT_EQ(r.argument, f.d_slot + 1) << f.name << " d = " << d;
      ASSERT_EQ(r.messages.size(), 1u) << f.name << " d = " << d;
      EXPECT_EQ(r.messages[0].number, 372);
      for (const char* rule : {"|d| must exceed 2^-26.5", "d = 0", "0.5 - 2^-26.5 for FARMACOV",
                               "1 - 2^-26.5 for FDIF, FARMALIK and FARMASIM"})
        EXPECT_NE(r.messages[0].text.find(rule), std::string::npos) << rule;
    }
    // Just above the lower bound: accepted.
    std::vector<Value> args = f.args;
    args[std::size_t(f.d_slot)] = Value::scalar(1.1e-8);
    EXPECT_EQ(s_.call(f.name, args).status, 0) << f.name;
    const mvts::FunctionDoc* doc = mvts::find_doc(f.name);
    ASSERT_NE(doc, nullptr);
    ASSERT_GT(doc->inputs.size(), std::size_t(f.d_slot));
    const std::string help = doc->inputs[std::size_t(f.d_slot)].meaning;
    EXPECT_NE(help.find("2^-26.5 < |d| < "), std::string::npos) << f.name << ": " << help;
    EXPECT_NE(help.find("d = 0 is refused"), std::string::npos) << f.name << ": " << help;
  }
}

TEST_F(Farmacov, ArgumentChecksInOrder) {
  const Value o = Value::omitted();
  const double nan = std::nan("");
  const std::vector<test_support::ArgumentCase> cases = {
      {"nothing", {}, 17, 0},
      {"d empty slot", {o, Value::scalar(0.5)}, 17, 0},
      {"d no value", {Value::no_value()}, 2, 0},
      {"d character", {Value::character("x")}, 13, 0},
      {"d vector", {Value::row({0.1, 0.2})}, 15, 0},
      {"d missing", {Value::scalar(nan)}, 17, 0},
      {"d = 0.5", {Value::scalar(0.5)}, 100, 372},
      {"d = 0", {Value::scalar(0)}, 100, 372},
      {"d = -0.5", {Value::scalar(-0.5)}, 100, 372},
      {"phi no value", {Value::scalar(0.2), Value::no_value()}, 2, 0},
      {"phi character", {Value::scalar(0.2), Value::character("a")}, 13, 0},
      {"phi missing", {Value::scalar(0.2), Value::column({0.1, nan})}, 17, 0},
      {"phi empty", {Value::scalar(0.2), Value::matrix(0, 1, {})}, 100, 350},
      {"phi matrix", {Value::scalar(0.2), Value::matrix(2, 2, {0.1, 0, 0, 0.1})}, 6, 0},
      {"theta matrix", {Value::scalar(0.2), o, Value::matrix(2, 2, {0.1, 0, 0, 0.1})}, 6, 0},
      {"sigma vector", {Value::scalar(0.2), o, o, Value::row({1, 2})}, 15, 0},
      {"sigma negative", {Value::scalar(0.2), o, o, Value::scalar(-1)}, 8, 0},
      {"AR lags matrix",
       {Value::scalar(0.2), Value::column({0.1, 0.1, 0.1, 0.1}), o, o,
        Value::matrix(2, 2, {1, 2, 3, 4})},
       100, 351},
      {"AR lag zero", {Value::scalar(0.2), Value::scalar(0.1), o, o, Value::scalar(0)}, 100, 353},
      {"AR lags without phi", {Value::scalar(0.2), o, o, o, Value::scalar(1)}, 100, 356},
      {"lag vector", {Value::scalar(0.2), o, o, o, o, o, Value::row({1, 2})}, 15, 0},
      {"lag character", {Value::scalar(0.2), o, o, o, o, o, Value::character("l")}, 13, 0},
      {"lag too large", {Value::scalar(0.2), o, o, o, o, o, Value::scalar(3e9)}, 18, 0},
  };
  test_support::expect_argument_failures(s_, "FARMACOV", cases);
}

TEST_F(Farmacov, EveryAllocationFailureIsReportedWithoutLeaks) {
  const std::vector<Value> args = {Value::scalar(0.3), Value::column({0.5, -0.2}),
                                   Value::scalar(0.4), Value::omitted(), Value::omitted(),
                                   Value::omitted(), Value::scalar(20)};
  // AR and MA polynomials, roots, result, work
  EXPECT_GE(test_support::expect_allocation_failures(s_, "FARMACOV", args, 50), 4);
}

}  // namespace
