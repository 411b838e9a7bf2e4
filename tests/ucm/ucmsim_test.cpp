// UCMSIM through the host: the deterministic components in closed form, the
// order of the normal deviates against a reference simulator written here,
// the stream, and every failure status.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "host/host.hpp"
#include "tests/support/allocation.hpp"
#include "tests/support/argument_checks.hpp"
#include "module/frame/rng.hpp"

namespace {

using mvts::Value;

constexpr double kTiny = 1e-300;  // an irregular variance that leaves ~1e-150 noise
constexpr int kUcmNote = 376;     // the note every call issues on entry

// Builds the 14 slots from the given ones; the rest stay omitted.
std::vector<Value> slots(std::initializer_list<std::pair<int, Value>> given) {
  std::vector<Value> v(14, Value::omitted());
  for (const auto& [i, val] : given) v[i - 1] = val;
  return v;
}

class Ucmsim : public ::testing::Test {
 protected:
  mvts::CallResult call(const std::vector<Value>& args) {
    auto r = s_.call("UCMSIM", args);
    // The note is issued first on every call, whatever follows.
    EXPECT_FALSE(r.messages.empty());
    if (!r.messages.empty()) {
      EXPECT_EQ(r.messages[0].number, kUcmNote);
      EXPECT_TRUE(r.messages[0].note);
    }
    EXPECT_EQ(s_.live_blocks(), 0);
    return r;
  }
  std::vector<double> series(const std::vector<Value>& args) {
    auto r = call(args);
    EXPECT_EQ(r.status, 0);
    if (r.status != 0 || !r.outputs[0]) return {};
    EXPECT_EQ(r.outputs[0]->cols, 1);
    return r.outputs[0]->data;
  }
  mvts::Session s_;
};

TEST_F(Ucmsim, NoArgumentsIsOneHundredUnitIrregulars) {
  s_.set_clock_seed(4242);
  auto y = series({});
  ASSERT_EQ(y.size(), 100u);
  std::uint32_t seed = 4242;
  for (double v : y) EXPECT_EQ(v, mvtsa::rng_normal(&seed));
}

TEST_F(Ucmsim, LevelMovesByTheSlopeBeforeItIsObserved) {
  auto y = series(slots({{1, Value::scalar(10)}, {2, Value::scalar(1)},
                         {12, Value::scalar(kTiny)}, {13, Value::scalar(6)}, {14, Value::scalar(3)}}));
  ASSERT_EQ(y.size(), 6u);
  for (int t = 1; t <= 6; ++t) EXPECT_NEAR(y[t - 1], 10.0 + t, 1e-12) << t;
}

TEST_F(Ucmsim, UndampedPeriodFourCycleRotatesByAQuarterTurn) {
  auto y = series(slots({{3, Value::row({1, 0, 4, 1, 0})}, {12, Value::scalar(kTiny)},
                         {13, Value::scalar(9)}, {14, Value::scalar(3)}}));
  const double expect[9] = {0, -1, 0, 1, 0, -1, 0, 1, 0};
  ASSERT_EQ(y.size(), 9u);
  for (int t = 0; t < 9; ++t) EXPECT_NEAR(y[t], expect[t], 1e-15) << t;
  // Damping 0.5 and period 6: the cycle is rho^t cos(t pi / 3) from (1, 0).
  y = series(slots({{4, Value::column({1, 0, 6, 0.5, 0})}, {12, Value::scalar(kTiny)},
                    {13, Value::scalar(12)}, {14, Value::scalar(3)}}));
  for (int t = 1; t <= 12; ++t)
    EXPECT_NEAR(y[t - 1], std::pow(0.5, t) * std::cos(t * 3.141592653589793 / 3), 1e-15) << t;
}

TEST_F(Ucmsim, DummySeasonalRepeatsItsValuesAndMinusTheirSum) {
  auto y = series(slots({{7, Value::row({1, 2, 3})}, {12, Value::scalar(kTiny)},
                         {13, Value::scalar(10)}, {14, Value::scalar(3)}}));
  const double expect[10] = {1, 2, 3, -6, 1, 2, 3, -6, 1, 2};
  ASSERT_EQ(y.size(), 10u);
  for (int t = 0; t < 10; ++t) EXPECT_NEAR(y[t], expect[t], 1e-12) << t;
}

TEST_F(Ucmsim, TrigonometricSeasonalOfLengthFour) {
  // s = 4: one harmonic at pi/2 over (a, b), the pi term over c.
  //   harmonic: b, -a, -b, a, ...;  pi term: -c, c, -c, c, ...
  const double a = 1.5, b = -2, c = 0.25;
  auto y = series(slots({{6, Value::row({1, 0})}, {7, Value::column({a, b, c})},
                         {12, Value::scalar(kTiny)}, {13, Value::scalar(8)}, {14, Value::scalar(3)}}));
  const double expect[4] = {b - c, -a + c, -b - c, a + c};
  ASSERT_EQ(y.size(), 8u);
  for (int t = 0; t < 8; ++t) EXPECT_NEAR(y[t], expect[t % 4], 1e-14) << t;
}

TEST_F(Ucmsim, DeterministicSeasonalsHavePeriodSAndSumToZeroOverASeason) {
  // Type 1.9 cuts to 1 (trigonometric); type 2 is dummy.
  for (double type : {1.9, 2.0}) {
    for (int q : {1, 2, 4, 6, 11}) {
      std::vector<double> e(q);
      for (int i = 0; i < q; ++i) e[i] = std::sin(1.0 + i) * (i + 1);
      const int s = q + 1;
      auto y = series(slots({{8, Value::row({type, 0})}, {9, Value::row(e)},
                             {12, Value::scalar(kTiny)}, {13, Value::scalar(3 * s)}, {14, Value::scalar(1)}}));
      ASSERT_EQ(y.size(), std::size_t(3 * s));
      for (int t = 0; t + s < 3 * s; ++t) EXPECT_NEAR(y[t + s], y[t], 1e-12) << type << " " << s;
      double sum = 0;
      for (int t = 0; t < s; ++t) sum += y[t + 1];
      EXPECT_NEAR(sum, 0.0, 1e-12) << type << " " << s;
    }
  }
}

// Reference simulator written from the model's equations, with explicit
// rotation matrices, for the order of the deviates.
struct Ref {
  std::uint32_t seed;
  double z() { return mvtsa::rng_normal(&seed); }
};

TEST_F(Ucmsim, EachStepDrawsTrendCyclesSeasonalsThenIrregular) {
  const double pi = 3.141592653589793;
  // Level, slope, two cycles, a trigonometric seasonal (s = 4), a dummy
  // seasonal (s = 3), the irregular: every variance positive.
  const std::vector<double> lvl = {2, 0.25}, slp = {0.1, 0.04}, cy1 = {1, 0.5, 8, 0.9, 0.09},
                            cy2 = {-0.5, 0.2, 3, 0.7, 0.01}, e1 = {0.3, -0.2, 0.6},
                            e2 = {1, -1};
  const int n = 40;
  auto y = series(slots({{1, Value::row(lvl)}, {2, Value::column(slp)}, {3, Value::row(cy1)},
                         {5, Value::row(cy2)}, {6, Value::row({1, 0.16})}, {7, Value::row(e1)},
                         {10, Value::row({0, 0.36})}, {11, Value::row(e2)},
                         {12, Value::scalar(0.5)}, {13, Value::scalar(n)}, {14, Value::scalar(77)}}));
  ASSERT_EQ(y.size(), std::size_t(n));

  Ref r{77};
  double mu = 2, beta = 0.1;
  struct Cyc { double p, ps, lam, rho, sd; } cyc[2] = {{1, 0.5, 2 * pi / 8, 0.9, 0.3},
                                                      {-0.5, 0.2, 2 * pi / 3, 0.7, 0.1}};
  double trig[3] = {0.3, -0.2, 0.6};
  // Dummy seasonal of length 3 as the last three seasonal values gamma_t:
  // gamma_t = -(gamma_{t-1} + gamma_{t-2}) + w, started so that the first
  // two values are e2[0], e2[1].
  // The state before t = 1: gamma_0 = -(e0 + e1), gamma_{-1} = e1, so
  // that gamma_1 = e0 and gamma_2 = e1 without disturbances.
  double g1 = -(e2[0] + e2[1]), g2 = e2[1];
  for (int t = 0; t < n; ++t) {
    mu += beta;
    mu += 0.5 * r.z();
    beta += 0.2 * r.z();
    double yt = mu;
    for (auto& c : cyc) {
      const double np = c.rho * (std::cos(c.lam) * c.p + std::sin(c.lam) * c.ps) + c.sd * r.z();
      const double nps = c.rho * (-std::sin(c.lam) * c.p + std::cos(c.lam) * c.ps) + c.sd * r.z();
      c.p = np;
      c.ps = nps;
      yt += np;
    }
    const double x = trig[0], xs = trig[1];
    trig[0] = std::cos(pi / 2) * x + std::sin(pi / 2) * xs + 0.4 * r.z();
    trig[1] = -std::sin(pi / 2) * x + std::cos(pi / 2) * xs + 0.4 * r.z();
    trig[2] = -trig[2] + 0.4 * r.z();
    yt += trig[0] + trig[2];
    const double g = -(g1 + g2) + 0.6 * r.z();
    g2 = g1;
    g1 = g;
    yt += g;
    yt += std::sqrt(0.5) * r.z();
    EXPECT_NEAR(y[t], yt, 1e-12 * (1 + std::fabs(yt))) << t;
  }
}

TEST_F(Ucmsim, ZeroCycleStateDrawsNothing) {
  const auto base = slots({{1, Value::row({0, 1})}, {13, Value::scalar(30)}, {14, Value::scalar(11)}});
  auto with = base;
  with[2] = Value::row({0, 0, 10, 0.9, 2});
  with[4] = Value::row({1e-17, -1e-17, 5, 1, 3});  // within 2^-53 of zero
  EXPECT_EQ(series(with), series(base));
  // A non-zero state does move and draw.
  with[2] = Value::row({0, 1e-15, 10, 0.9, 2});
  EXPECT_NE(series(with), series(base));
}

TEST_F(Ucmsim, SeedsReproduceAndStreamsContinue) {
  const auto a = series(slots({{2, Value::row({0, 1})}, {13, Value::scalar(20)}, {14, Value::scalar(5)}}));
  const auto b = series(slots({{2, Value::row({0, 1})}, {13, Value::scalar(20)}, {14, Value::scalar(5)}}));
  EXPECT_EQ(a, b);
  const auto c = series(slots({{2, Value::row({0, 1})}, {13, Value::scalar(20)}, {14, Value::scalar(6)}}));
  EXPECT_NE(a, c);
  // Seed -7 starts the stream; an omitted seed then continues it, as if one
  // call had drawn both parts (one deviate per step for a pure irregular).
  const auto whole = series(slots({{13, Value::scalar(10)}, {14, Value::scalar(7)}}));
  const auto first = series(slots({{13, Value::scalar(4)}, {14, Value::scalar(-7)}}));
  const auto rest = series(slots({{13, Value::scalar(6)}}));
  std::vector<double> joined = first;
  joined.insert(joined.end(), rest.begin(), rest.end());
  EXPECT_EQ(joined, whole);
}

TEST_F(Ucmsim, StreamIsItsOwn) {
  // A VNORMAL call between two UCMSIM calls leaves the UCMSIM stream alone.
  const auto part1 = series(slots({{13, Value::scalar(4)}, {14, Value::scalar(-8)}}));
  auto v = s_.call("VNORMAL", {Value::row({0, 0}), Value::omitted(), Value::scalar(3),
                               Value::scalar(-8)});
  ASSERT_EQ(v.status, 0);
  const auto part2 = series(slots({{13, Value::scalar(6)}}));
  std::uint32_t seed = 8;
  for (double x : part1) EXPECT_EQ(x, mvtsa::rng_normal(&seed));
  for (double x : part2) EXPECT_EQ(x, mvtsa::rng_normal(&seed));
}

TEST_F(Ucmsim, ShortComponentVectorsTakeTheAbsentValues) {
  const auto full = series(slots({{1, Value::row({3, 0})}, {3, Value::row({1, 0, 4, 1, 0})},
                                  {6, Value::row({0, 0})}, {7, Value::row({1, 2})},
                                  {13, Value::scalar(12)}, {14, Value::scalar(8)}}));
  const auto shrt = series(slots({{1, Value::scalar(3)}, {3, Value::row({1, 0, 4})},
                                  {6, Value::scalar(0)}, {7, Value::row({1, 2})},
                                  {13, Value::scalar(12)}, {14, Value::scalar(8)}}));
  EXPECT_EQ(full, shrt);
  const auto damped_only = series(slots({{3, Value::row({1, 0, 4, 0.5})}, {13, Value::scalar(12)},
                                         {14, Value::scalar(8)}}));
  const auto damped_full = series(slots({{3, Value::row({1, 0, 4, 0.5, 0})}, {13, Value::scalar(12)},
                                         {14, Value::scalar(8)}}));
  EXPECT_EQ(damped_only, damped_full);
  // A one-element seasonal form selects the trigonometric form.
  const auto t1 = series(slots({{6, Value::scalar(1)}, {7, Value::row({1, 2, 3})},
                                {12, Value::scalar(kTiny)}, {13, Value::scalar(4)}, {14, Value::scalar(1)}}));
  EXPECT_NEAR(t1[0], 2 - 3, 1e-12);
  // A seasonal form without initial values adds nothing.
  const auto form_only = series(slots({{6, Value::row({1, 5})}, {13, Value::scalar(12)}, {14, Value::scalar(8)}}));
  const auto none = series(slots({{13, Value::scalar(12)}, {14, Value::scalar(8)}}));
  EXPECT_EQ(form_only, none);
}

TEST_F(Ucmsim, FailureStatuses) {
  const Value m22 = Value::matrix(2, 2, {1, 2, 3, 4});
  const std::vector<test_support::ArgumentCase> cases = {
      {"no value", slots({{1, Value::no_value()}}), 2, 0},
      {"init no value", slots({{9, Value::no_value()}}), 2, 0},
      {"character", slots({{5, Value::character("c")}}), 13, 0},
      {"level too long", slots({{1, Value::row({1, 1, 1})}}), 11, 0},
      {"slope a matrix", slots({{2, m22}}), 11, 0},
      {"level variance negative", slots({{1, Value::row({1, -1})}}), 11, 0},
      {"slope missing", slots({{2, Value::row({NAN, 1})}}), 17, 0},
      {"cycle too long", slots({{3, Value::row({1, 0, 4, 1, 0, 0})}}), 11, 0},
      {"cycle a matrix", slots({{4, m22}}), 11, 0},
      {"period below 2", slots({{3, Value::row({1, 0, 1.5, 1, 0})}}), 17, 0},
      {"period lacking", slots({{3, Value::row({1, 0})}}), 17, 0},
      {"damping above 1", slots({{3, Value::row({1, 0, 4, 1.2, 0})}}), 11, 0},
      {"damping below 0", slots({{5, Value::row({1, 0, 4, -0.1, 0})}}), 11, 0},
      {"cycle variance negative", slots({{3, Value::row({1, 0, 4, 1, -1})}}), 11, 0},
      {"cycle missing", slots({{3, Value::row({1, INFINITY, 4, 1, 0})}}), 17, 0},
      {"seasonal form a matrix", slots({{6, m22}}), 11, 0},
      {"seasonal variance negative", slots({{10, Value::row({1, -0.5})}}), 11, 0},
      {"seasonal form missing", slots({{8, Value::row({NAN, 0})}}), 17, 0},
      {"init a matrix", slots({{7, m22}}), 11, 0},
      {"init missing", slots({{11, Value::row({1, NAN})}}), 17, 0},
      {"irregular not scalar", slots({{12, Value::row({1, 1})}}), 15, 0},
      {"irregular zero", slots({{12, Value::scalar(0)}}), 11, 0},
      {"irregular negative", slots({{12, Value::scalar(-1)}}), 11, 0},
      {"irregular missing", slots({{12, Value::scalar(NAN)}}), 17, 0},
      {"n not scalar", slots({{13, Value::row({5, 5})}}), 15, 0},
      {"n missing", slots({{13, Value::scalar(NAN)}}), 17, 0},
      {"n too large", slots({{13, Value::scalar(3e9)}}), 18, 0},
      {"n below 1", slots({{13, Value::scalar(0.5)}}), 100, 353},
      {"seed not scalar", slots({{14, Value::column({1, 2})}}), 15, 0},
      {"seed missing", slots({{14, Value::scalar(NAN)}}), 17, 0},
      // The first failing slot decides.
      {"slot order", slots({{3, Value::row({1, 0, 1, 1, 0})}, {12, Value::scalar(-1)}}), 17,
       0},
  };
  test_support::expect_argument_failures(s_, "UCMSIM", cases, {kUcmNote});
}

TEST_F(Ucmsim, AllocationFailureRaisesAndLeaksNothing) {
  const auto args = slots({{6, Value::row({1, 0.1})}, {7, Value::row({1, 2, 3})},
                           {11, Value::row({1, 2})}, {13, Value::scalar(20)}, {14, Value::scalar(2)}});
  // two copies, y and two seasonal blocks (the record exists after the first call)
  EXPECT_GE(test_support::expect_allocation_failures(s_, "UCMSIM", args, 20), 4);
}

}  // namespace
