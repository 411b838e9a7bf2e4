// Results whose size follows from the arguments are refused before the work
// that precedes them when they cannot fit the host's memory cap: no result
// is created, and no random stream moves.
#include <gtest/gtest.h>

#include <vector>

#include "host/host.hpp"

namespace {

using mvts::Value;

constexpr std::uint64_t kMiB = std::uint64_t(1) << 20;
constexpr int kOutOfMemory = MCN_ERROR_OUT_OF_MEMORY;

std::vector<Value> slots(int count, std::initializer_list<std::pair<int, Value>> given) {
  std::vector<Value> v(std::size_t(count), Value::omitted());
  for (const auto& [i, val] : given) v[std::size_t(i - 1)] = val;
  return v;
}

void expect_refused(const mvts::Session& s, const mvts::CallResult& r) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.raised_error, kOutOfMemory);
  for (const auto& out : r.outputs) EXPECT_FALSE(out.has_value());
  EXPECT_EQ(s.live_blocks(), 0);
}

// A simulation refused for its size draws nothing: the call after it,
// continuing the stream (seed 0), draws what it would have drawn had the
// refused call not been made.
void expect_stream_untouched(const char* name, int count, int n_slot, int seed_slot,
                             std::initializer_list<std::pair<int, Value>> model, double big_n,
                             std::uint64_t cap) {
  auto with = [&](double n, double seed) {
    std::vector<Value> v = slots(count, model);
    v[std::size_t(n_slot - 1)] = Value::scalar(n);
    v[std::size_t(seed_slot - 1)] = Value::scalar(seed);
    return v;
  };
  std::vector<double> expected;
  {
    mvts::Session s;
    ASSERT_EQ(s.call(name, with(3, -5)).status, 0) << name;
    const mvts::CallResult second = s.call(name, with(3, 0));
    ASSERT_EQ(second.status, 0) << name;
    expected = second.outputs[0]->data;
  }
  mvts::Session s;
  ASSERT_EQ(s.call(name, with(3, -5)).status, 0) << name;
  s.set_memory_limit(cap);
  expect_refused(s, s.call(name, with(big_n, 0)));
  const mvts::CallResult next = s.call(name, with(3, 0));
  ASSERT_EQ(next.status, 0) << name;
  EXPECT_EQ(next.outputs[0]->data, expected) << name;
}

TEST(MemoryCap, UcmsimRefusesBeforeSimulating) {
  // y and the result: 2 x 40 MB against a 64 MiB cap.
  expect_stream_untouched("UCMSIM", 14, 13, 14, {{12, Value::scalar(1)}}, 5e6, 64 * kMiB);
}

TEST(MemoryCap, VarmasimRefusesBeforeSimulating) {
  // A fixed start without MA part, k = 2: the series (32 MB) and the result
  // (32 MB) against a 48 MiB cap.  The block of deviates, as large as the
  // result, is taken with the series before any draw, so the simulation
  // needs no check of its own.
  expect_stream_untouched("VARMASIM", 9, 5, 9,
                          {{1, Value::matrix(2, 2, {0.5, 0.1, 0.1, 0.5})}, {8, Value::scalar(0)}},
                          2e6, 48 * kMiB);
}

TEST(MemoryCap, FarmasimRefusesBeforeSimulating) {
  // d = 1/2 takes the moving-average path: the deviates and the noise (40 MB)
  // fit a 48 MiB cap, the noise, the series and the result (60 MB) do not.
  expect_stream_untouched("FARMASIM", 10, 6, 10, {{1, Value::scalar(0.5)}}, 2.5e6, 48 * kMiB);
}

TEST(MemoryCap, FarmacovRefusesBeforeCreatingItsResult) {
  mvts::Session s;
  const auto args = [](double lag) {
    return slots(7, {{1, Value::scalar(0.2)}, {7, Value::scalar(lag)}});
  };
  // The result (40 MB) and the work space (40 MB) against a 64 MiB cap.
  s.set_memory_limit(64 * kMiB);
  expect_refused(s, s.call("FARMACOV", args(5e6)));
  // Under a cap that holds both the call goes through.
  s.set_memory_limit(96 * kMiB);
  const mvts::CallResult r = s.call("FARMACOV", args(5e6));
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.outputs[0]->rows, 5000001);
}

}  // namespace
