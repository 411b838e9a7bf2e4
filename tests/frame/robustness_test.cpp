// Every registered function against injected allocation failures and against
// random arguments: a status the module defines, no crash, nothing left
// allocated.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "host/host.hpp"
#include "tests/support/allocation.hpp"
#include "tests/support/series.hpp"

namespace {

using mvts::Value;
using test_support::series;

Value diag2(double x) { return Value::matrix(2, 2, {x, 0, 0, x}); }
const Value kNone = Value::omitted();

struct Call {
  const char* name;
  std::vector<Value> args;
};

std::vector<Call> valid_calls() {
  return {
      {"VNORMAL", {Value::row({1, 2}), diag2(2), Value::scalar(5), Value::scalar(3)}},
      {"VARMACOV", {diag2(0.5), diag2(0.2), diag2(1), kNone, kNone, Value::scalar(4)}},
      {"VARMAFIT", {series(40, 2), Value::scalar(1)}},
      {"VARMALIK", {series(20, 2), diag2(0.5), diag2(0.2), kNone, kNone, kNone, Value::scalar(0)}},
      {"VARMASIM", {diag2(0.5), diag2(0.2), kNone, kNone, Value::scalar(10), kNone, kNone, kNone,
                    Value::scalar(3)}},
      {"VTSROOT", {Value::matrix(2, 2, {0.5, 0.1, 0.2, 0.3}), diag2(0.4)}},
      {"FARMALIK", {series(20, 1), Value::scalar(0.3), Value::scalar(0.5)}},
      {"FARMASIM", {Value::scalar(0.3), Value::scalar(0.5), kNone, kNone, kNone, Value::scalar(20),
                    kNone, kNone, kNone, Value::scalar(3)}},
      {"FARMACOV", {Value::scalar(0.3), Value::scalar(0.5), Value::scalar(0.2), kNone, kNone,
                    kNone, Value::scalar(5)}},
      {"FARMAFIT", {series(60, 1), Value::scalar(1)}},
      {"FDIF", {Value::row({1, 2, 3, 4}), Value::scalar(0.4)}},
      {"UCMSIM", {Value::scalar(10), Value::scalar(1), Value::row({1, 0, 4, 0.9, 0.1}), kNone,
                  kNone, kNone, Value::row({1, 2, 3}), kNone, kNone, kNone, kNone,
                  Value::scalar(0.5), Value::scalar(20), Value::scalar(3)}},
      {"FARMAFCST", {series(30, 1), Value::scalar(0.3), Value::scalar(0.5), Value::scalar(0.2),
                     kNone, kNone, kNone, Value::scalar(4)}},
      {"FARMARES", {series(30, 1), Value::scalar(0.3), Value::scalar(0.5), kNone, kNone, kNone,
                    kNone, Value::scalar(1)}},
      {"FARMAFITMEAN", {series(60, 1), Value::scalar(1), kNone, Value::scalar(1)}},
      {"FARMAINFO", {series(40, 1), Value::scalar(0.3), Value::scalar(0.5), kNone,
                     Value::scalar(1), kNone, kNone, Value::scalar(1)}},
      {"VARMAFCST", {series(20, 2), diag2(0.5), diag2(0.2), kNone, kNone, kNone,
                     Value::scalar(3)}},
      {"VARMARES", {series(20, 2), diag2(0.5), diag2(0.2)}},
      {"VARMAINFO", {series(20, 2), diag2(0.5), diag2(0.2)}},
      {"VTSACF", {series(30, 2), Value::scalar(4)}},
  };
}

void expect_nothing_left(const mvts::Session& s, const std::string& what) {
  EXPECT_EQ(s.live_blocks(), 0) << what;
  EXPECT_EQ(s.live_pools(), 0) << what;
  EXPECT_EQ(s.open_utility_files(), 0) << what;
  EXPECT_EQ(s.live_temp_blocks(), 0) << what;
}

class AllocationFailure : public ::testing::TestWithParam<int> {};

// A failed allocation anywhere in the call, the fits' included, ends the call
// with status 1 and the host's error raised, and leaves no block, pool, file
// or temporary block behind.
TEST_P(AllocationFailure, EveryAllocationOfTheCall) {
  const Call c = valid_calls()[std::size_t(GetParam())];
  mvts::Session s;
  test_support::expect_allocation_failures(s, c.name, c.args);
}

INSTANTIATE_TEST_SUITE_P(RegisteredFunctions, AllocationFailure,
                         ::testing::Range(0, int(valid_calls().size())),
                         [](const ::testing::TestParamInfo<int>& i) {
                           return std::string(valid_calls()[std::size_t(i.param)].name);
                         });

// A call of few allocations is failed at each of them; a long one at each of
// the first 300 and then at indices an eighth apart, up to its last
// allocation and one past it.
TEST(AllocationIndices, EveryIndexFirstThenAGeometricSampleToOnePastTheLast) {
  EXPECT_EQ(test_support::allocation_indices(3), (std::vector<std::int64_t>{1, 2, 3, 4}));
  const std::vector<std::int64_t> v = test_support::allocation_indices(10000);
  ASSERT_GT(v.size(), 302u);
  for (std::int64_t n = 1; n <= 300; ++n) EXPECT_EQ(v[std::size_t(n - 1)], n);
  for (std::size_t i = 300; i < v.size(); ++i) {
    EXPECT_GT(v[i], v[i - 1]) << i;
    EXPECT_LE(v[i] - v[i - 1], v[i - 1] / 8 + 1) << i;
  }
  EXPECT_EQ(v[v.size() - 2], 10000);
  EXPECT_EQ(v.back(), 10001);
  EXPECT_LT(v.size(), 340u);  // about twenty calls per tenfold count
}

// The loop above runs over every row of the registration table.
TEST(AllocationFailureCalls, CoverEveryRegisteredFunction) {
  mvts::Session s;
  std::set<std::string> registered, called;
  for (const mvts::FunctionInfo& f : s.functions()) registered.insert(f.name);
  for (const Call& c : valid_calls()) called.insert(c.name);
  EXPECT_EQ(called, registered);
}

// ---- random arguments ------------------------------------------------------

Value random_value(std::mt19937& gen) {
  static const double pool[] = {0,    1,    2,    3,     0.5,  -1,       0.3,    -0.7,
                                0.99, 1e-300, 1e300, NAN, INFINITY, -INFINITY, 2.5, 1e10,
                                100,  -0.5, 0.2,  12,    4,    1.5,      -3,     7};
  std::uniform_int_distribution<int> kind(0, 9), dim(0, 4), pick(0, sizeof pool / 8 - 1);
  switch (kind(gen)) {
    case 0: return Value::omitted();
    case 1: return Value::no_value();
    case 2: return Value::character("text");
    case 3: return Value::scalar(pool[pick(gen)]);
    default: {
      const int r = dim(gen), c = dim(gen);
      std::vector<double> d(std::size_t(r) * c);
      for (double& x : d) x = pool[pick(gen)];
      return Value::matrix(r, c, d);
    }
  }
}

TEST(RandomArguments, EveryEntryPointAnswersWithAKnownStatus) {
  // Every status an entry point may return: 0, the argument and host
  // statuses, 100 and the kernel failure codes that are message numbers.
  const std::set<int> known = {0,  1,  2,  3,  6,   8,   10,  11,  13,  15, 17,
                               18, 100, 315, 316, 358, 372, 373, 390, 88, 89};
  mvts::Session s;
  s.set_allocation_limit(std::uint64_t(256) << 20);
  std::mt19937 gen(20261209);
  for (const mvts::FunctionInfo& f : s.functions()) {
    for (int trial = 0; trial < 150; ++trial) {
      std::uniform_int_distribution<int> count(0, f.max_inputs);
      std::vector<Value> args(std::size_t(count(gen)));
      for (Value& v : args) v = random_value(gen);
      const std::string what = f.name + " trial " + std::to_string(trial);
      auto r = s.call(f.name, args);
      EXPECT_TRUE(known.count(r.status)) << what << " status " << r.status;
      // Argument failures come before any output is created.
      if (std::set<int>{2, 6, 8, 10, 11, 13, 15, 17, 18}.count(r.status)) {
        for (const auto& out : r.outputs) EXPECT_FALSE(out.has_value()) << what;
      }
      expect_nothing_left(s, what);
    }
  }
}

}  // namespace
