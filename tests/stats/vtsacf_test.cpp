// VTSACF, the sample auto- and cross-covariances, through the session: a
// long-double reference computed here, the invariances a sample covariance
// keeps (a shift of level, a change of units, a permutation of the
// variables), the link C(h)' = C(-h) between the two orders of a pair, and
// the argument checks.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "host/host.hpp"
#include "tests/support/argument_checks.hpp"

namespace {

using mvts::Value;

// A T x k AR(1)-like series with cross-correlation, row-major.
std::vector<double> make_series(int T, int k, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::normal_distribution<double> z;
  std::vector<double> y(std::size_t(T) * k);
  for (int t = 0; t < T; ++t)
    for (int j = 0; j < k; ++j) {
      const double prev = t > 0 ? y[std::size_t((t - 1) * k + j)] : 0.0;
      const double other = t > 0 ? y[std::size_t((t - 1) * k + (j + 1) % k)] : 0.0;
      y[std::size_t(t * k + j)] = 0.6 * prev + 0.2 * other + z(gen) + 3.0;
    }
  return y;
}

// The covariances of the definition, in long double.
std::vector<double> reference_cov(const std::vector<double>& y, int T, int k, int L) {
  std::vector<long double> m(k, 0.0L);
  for (int t = 0; t < T; ++t)
    for (int j = 0; j < k; ++j) m[j] += y[std::size_t(t * k + j)];
  for (int j = 0; j < k; ++j) m[j] /= T;
  std::vector<double> c(std::size_t(L + 1) * k * k);
  for (int h = 0; h <= L; ++h)
    for (int i = 0; i < k; ++i)
      for (int j = 0; j < k; ++j) {
        long double s = 0;
        for (int t = 0; t + h < T; ++t)
          s += (y[std::size_t(t * k + i)] - m[i]) * (y[std::size_t((t + h) * k + j)] - m[j]);
        c[std::size_t((h * k + i) * k + j)] = double(s / T);
      }
  return c;
}

struct Acf {
  std::vector<double> cov, corr;
};

Acf call_acf(mvts::Session& s, const std::vector<double>& y, int T, int k, int L) {
  const auto r = s.call("VTSACF", {Value::matrix(T, k, y), Value::scalar(L)});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.outputs[0] && r.outputs[1]);
  if (r.status != 0 || !r.outputs[0] || !r.outputs[1]) return {};
  EXPECT_EQ(r.outputs[0]->rows, (L + 1) * k);
  EXPECT_EQ(r.outputs[0]->cols, k);
  return {r.outputs[0]->data, r.outputs[1]->data};
}

TEST(Vtsacf, AgreesWithTheDefinitionInLongDouble) {
  mvts::Session s;
  for (int k : {1, 3}) {
    const int T = 500, L = 20;
    const auto y = make_series(T, k, 11u + unsigned(k));
    const Acf a = call_acf(s, y, T, k, L);
    const auto ref = reference_cov(y, T, k, L);
    ASSERT_EQ(a.cov.size(), ref.size());
    for (std::size_t e = 0; e < ref.size(); ++e)
      EXPECT_NEAR(a.cov[e], ref[e], 1e-13 * std::fabs(ref[0])) << "k " << k << " element " << e;
    // Correlations: 1 on the diagonal of lag 0, the covariances scaled.
    for (int i = 0; i < k; ++i) EXPECT_DOUBLE_EQ(a.corr[std::size_t(i * k + i)], 1.0);
    const double r = ref[std::size_t(k * k)] / std::sqrt(ref[0] * ref[0]);
    EXPECT_NEAR(a.corr[std::size_t(k * k)], r, 1e-14);
  }
}

TEST(Vtsacf, KeepsTheInvariancesOfASampleCovariance) {
  mvts::Session s;
  const int T = 300, k = 3, L = 6;
  const auto y = make_series(T, k, 5u);
  const Acf base = call_acf(s, y, T, k, L);
  ASSERT_FALSE(base.cov.empty());
  // A shift of level changes nothing; units scale the covariances by the
  // product of the two units and leave the correlations alone.
  const double unit[k] = {1e-6, 1.0, 1e6};
  std::vector<double> moved(y), scaled(y), permuted(y);
  const int perm[k] = {2, 0, 1};
  for (int t = 0; t < T; ++t)
    for (int j = 0; j < k; ++j) {
      moved[std::size_t(t * k + j)] += 1000.0;
      scaled[std::size_t(t * k + j)] *= unit[j];
      permuted[std::size_t(t * k + j)] = y[std::size_t(t * k + perm[j])];
    }
  const Acf m = call_acf(s, moved, T, k, L), u = call_acf(s, scaled, T, k, L),
            p = call_acf(s, permuted, T, k, L);
  ASSERT_FALSE(m.cov.empty() || u.cov.empty() || p.cov.empty());
  for (int h = 0; h <= L; ++h)
    for (int i = 0; i < k; ++i)
      for (int j = 0; j < k; ++j) {
        const std::size_t e = std::size_t((h * k + i) * k + j);
        const std::size_t q = std::size_t((h * k + perm[i]) * k + perm[j]);
        const double scale = std::sqrt(base.cov[std::size_t(i * k + i)] * base.cov[std::size_t(j * k + j)]);
        EXPECT_NEAR(m.cov[e], base.cov[e], 1e-9 * scale);
        EXPECT_NEAR(u.cov[e] / (unit[i] * unit[j]), base.cov[e], 1e-13 * scale);
        EXPECT_NEAR(u.corr[e], base.corr[e], 1e-13);
        EXPECT_EQ(p.cov[e], base.cov[q]);
      }
}

TEST(Vtsacf, APairInTheOtherOrderTransposesEveryBlock) {
  mvts::Session s;
  const int T = 200, L = 5;
  const auto y = make_series(T, 2, 9u);
  std::vector<double> swapped(y.size());
  for (int t = 0; t < T; ++t) {
    swapped[std::size_t(2 * t)] = y[std::size_t(2 * t + 1)];
    swapped[std::size_t(2 * t + 1)] = y[std::size_t(2 * t)];
  }
  const Acf a = call_acf(s, y, T, 2, L), b = call_acf(s, swapped, T, 2, L);
  ASSERT_FALSE(a.cov.empty() || b.cov.empty());
  for (int h = 0; h <= L; ++h) {
    EXPECT_EQ(a.cov[std::size_t(4 * h + 1)], b.cov[std::size_t(4 * h + 2)]);
    EXPECT_EQ(a.cov[std::size_t(4 * h + 2)], b.cov[std::size_t(4 * h + 1)]);
  }
}

TEST(Vtsacf, TakesAVectorEitherWayAndADefaultLag) {
  mvts::Session s;
  const auto y = make_series(1000, 1, 3u);
  const auto col = s.call("VTSACF", {Value::matrix(1000, 1, y)});
  const auto row = s.call("VTSACF", {Value::matrix(1, 1000, y)});
  ASSERT_EQ(col.status, 0);
  ASSERT_EQ(row.status, 0);
  EXPECT_EQ(col.outputs[0]->rows, 31);  // 10 log10(1000) = 30 lags
  EXPECT_EQ(col.outputs[0]->data, row.outputs[0]->data);
  // A series of two values takes lag 1 at most.
  const auto two = s.call("VTSACF", {Value::row({1.0, 2.0})});
  ASSERT_EQ(two.status, 0);
  EXPECT_EQ(two.outputs[0]->rows, 2);
  // A constant series: variance 0, correlation 1 at lag 0 and 0 beyond.
  const auto flat = s.call("VTSACF", {Value::row({4.0, 4.0, 4.0, 4.0}), Value::scalar(2)});
  ASSERT_EQ(flat.status, 0);
  EXPECT_EQ(flat.outputs[1]->data, (std::vector<double>{1.0, 0.0, 0.0}));
}

TEST(Vtsacf, RefusesBadArguments) {
  mvts::Session s;
  const double nan = std::nan("");
  test_support::expect_argument_failures(
      s, "VTSACF",
      {{"no series", {}, 2, 0},
       {"a missing value", {Value::row({1.0, nan, 3.0})}, 17, 0},
       {"one observation", {Value::scalar(1.0)}, 100, 248},
       {"a lag as long as the series", {Value::row({1.0, 2.0, 3.0}), Value::scalar(3)}, 100, 420},
       {"a lag of 0", {Value::row({1.0, 2.0, 3.0}), Value::scalar(0)}, 100, 353},
       {"text", {Value::character("abc")}, 13, 0}});
}

}  // namespace

namespace {

// The session loads the statistics module beside the twelve functions; a
// module that registers a name already registered is refused whole and
// leaves the session as it was.
TEST(StatisticsModule, LoadsBesideTheTwelveAndRefusesADuplicateName) {
  mvts::Session s;
  ASSERT_NE(s.find("VARMAFIT"), nullptr);
  ASSERT_NE(s.find("vtsacf"), nullptr);
  const std::size_t count = s.functions().size();
  std::string error;
  EXPECT_FALSE(s.load("orvmvtst", &error));
  EXPECT_NE(error.find("VTSACF"), std::string::npos) << error;
  EXPECT_EQ(s.functions().size(), count);
  EXPECT_EQ(s.call("VTSACF", {Value::row({1.0, 2.0, 4.0})}).status, 0);
}

}  // namespace
