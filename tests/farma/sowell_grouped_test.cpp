// Sowell's root sums for an AR polynomial in B^g (sowell_grouped_sums: one
// series and one table per zero of the reduced polynomial) against the sums
// over every root (sowell_root_sums), and FARMACOV at one distant AR lag,
// where the grouped route is the one taken, against the interleaved sum
//   gamma_y(h) = 1 / (1 - phi^2) sum_n phi^|n| gamma_u(h + s n)
// of y(t) = phi y(t - s) + u(t), u the ARFIMA(0, d, q) part, whose
// fractional-noise autocovariances come from their ratio recursion in long
// double.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "host/host.hpp"
#include "module/farma/arfima_autocov.hpp"
#include "module/frame/host.hpp"
#include "module/farma/poly_roots.hpp"

namespace {

using mvts::Value;
using Vec = std::vector<double>;

// S(h) for h = hlo..hhi by both routes, for the AR polynomial
// a = (1, a_1, ..., a_p) whose non-zero lags have the gcd g.
struct BothSums {
  Vec per_root, grouped;
};
BothSums both_sums(double d, const Vec& a, int g, std::int64_t hlo, std::int64_t hhi) {
  const int p = int(a.size()) - 1;
  const std::int64_t X = std::max(-hlo, hhi), nh = hhi - hlo + 1;
  Vec re(p), im(p), work(std::size_t(mvtsa::poly_roots_work_size(p)));
  int degree = p;
  EXPECT_EQ(mvtsa::poly_zeros(a.data(), &degree, re.data(), im.data(), work.data()), 0);
  Vec roots(2 * std::size_t(p)), zeta(2 * std::size_t(p));
  bool complex_roots = false;
  for (int j = 0; j < p; ++j) {
    roots[2 * j] = re[j];
    roots[2 * j + 1] = im[j];
    complex_roots = complex_roots || im[j] != 0.0;
  }
  mvtsa::sowell_weights(roots.data(), p, complex_roots, zeta.data());
  BothSums b{Vec(nh), Vec(nh)};
  Vec F(2 * std::size_t(2 * X + 1));
  EXPECT_EQ(mvtsa::sowell_root_sums(d, roots.data(), zeta.data(), p, complex_roots, X, hlo, hhi,
                                    b.per_root.data(), F.data()),
            0);
  Vec gw(std::size_t(mvtsa::sowell_grouped_work_size(p, X)) + 16, -3.25);
  EXPECT_EQ(mvtsa::sowell_grouped_sums(d, a.data(), p, g, X, hlo, hhi, b.grouped.data(), gw.data()),
            0);
  for (std::size_t i = gw.size() - 16; i < gw.size(); ++i) EXPECT_EQ(gw[i], -3.25);  // guard
  return b;
}

class SowellGrouped : public ::testing::Test {
 protected:
  void SetUp() override {  // cancel_requested asks the host
    host_.activate();
    mvtsa::set_host_table(host_.table());
  }
  mvts::Host host_;
};

// Single lags, two seasonal lags with a complex pair of reduced zeros, and
// three lags: moduli of the full roots from 0.84 to 0.999, where the
// per-root series still converge within their term limit.  Within 1e-12
// of the largest |S| (measured: below 3e-14).
TEST_F(SowellGrouped, GroupedSumsMatchThePerRootSums) {
  struct Case {
    double d;
    Vec a;  // 1, a_1, ..., a_p
    int g;
  };
  auto lags = [](int p, std::vector<std::pair<int, double>> c) {
    Vec a(std::size_t(p) + 1, 0.0);
    a[0] = 1.0;
    for (auto [l, x] : c) a[std::size_t(l)] = x;
    return a;
  };
  const Case cases[] = {
      {0.3, lags(4, {{4, -0.5}}), 4},
      {-0.3, lags(12, {{12, 0.9}}), 12},
      {0.45, lags(2, {{2, -0.8}}), 2},
      {0.2, lags(24, {{12, -2 * 0.9 * std::cos(1.0)}, {24, 0.81}}), 12},
      {-0.1, lags(9, {{3, -0.3}, {6, 0.2}, {9, -0.1}}), 3},
      {0.3, lags(100, {{100, -0.9}}), 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "d " << c.d << " p " << c.a.size() - 1);
    const int p = int(c.a.size()) - 1;
    const BothSums b = both_sums(c.d, c.a, c.g, p - 2 - 300, p + 2);
    double big = 0.0, diff = 0.0;
    for (std::size_t i = 0; i < b.grouped.size(); ++i) {
      big = std::max(big, std::fabs(b.per_root[i]));
      diff = std::max(diff, std::fabs(b.grouped[i] - b.per_root[i]));
    }
    EXPECT_GT(big, 0.0);
    EXPECT_LE(diff, 1e-12 * big);
  }
}

// gamma(0..lag) of y(t) = phi y(t - s) + u(t), u = (1 - B)^-d (1 - theta B) e:
// gamma_fn by its ratio recursion in long double, the MA part through
// psi(-1..1), and the interleaved sum over |n| <= N, phi^N below 1e-18.
std::vector<double> interleaved(double d, double phi, int s, double theta, int lag) {
  const int N = int(std::ceil(std::log(1e-18) / std::log(std::fabs(phi))));
  const std::int64_t K = std::int64_t(lag) + 2 + std::int64_t(s) * N;
  std::vector<long double> fn(std::size_t(K) + 1);
  const long double ld = d;
  fn[0] = std::exp(std::lgammal(1 - 2 * ld) - 2 * std::lgammal(1 - ld));
  for (std::int64_t k = 1; k <= K; ++k) fn[k] = fn[k - 1] * (k - 1 + ld) / (k - ld);
  const long double psi0 = 1 + (long double)theta * theta, psi1 = -(long double)theta;
  auto gu = [&](std::int64_t h) {
    h = h < 0 ? -h : h;
    return psi0 * fn[h] + psi1 * (fn[h + 1] + fn[h == 0 ? 1 : h - 1]);
  };
  std::vector<double> g(std::size_t(lag) + 1);
  for (int h = 0; h <= lag; ++h) {
    long double sum = 0;
    for (int n = -N; n <= N; ++n)
      sum += std::pow((long double)std::fabs(phi), std::abs(n)) * (phi < 0 && n % 2 ? -1 : 1) *
             gu(h + std::int64_t(s) * n);
    g[h] = double(sum / (1 - (long double)phi * phi));
  }
  return g;
}

// One AR coefficient at a distant lag s: FARMACOV, which now sums the s
// roots as one group, against the interleaved sum, within 1e-12 of
// gamma(0) (measured: 2e-13 at phi = 0.99, below 2e-14 elsewhere).  phi = 0.99 at lag 1000 is where the per-root route needed
// 41 s and, its series cut at 2^20 terms for roots of modulus 1 - 1e-5,
// was off by 4e-6; phi = 0.5 at lag 2000 is where its weights once
// overflowed.
TEST(FarmacovDistantLag, OneLagMatchesTheInterleavedSum) {
  mvts::Session session;
  struct Case {
    double d, phi;
    int s;
    double theta;
    int lag;
  };
  const Case cases[] = {{0.3, 0.99, 1000, 0.0, 12},  {-0.3, 0.99, 300, 0.4, 40},
                        {0.3, 0.5, 2000, 0.0, 5},    {0.45, -0.9, 12, -0.5, 100},
                        {-0.45, 0.7, 7, 0.3, 2000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "d " << c.d << " phi " << c.phi << " at lag " << c.s);
    const auto r = session.call(
        "FARMACOV", {Value::scalar(c.d), Value::scalar(c.phi),
                     c.theta != 0.0 ? Value::scalar(c.theta) : Value::omitted(),
                     Value::omitted(), Value::scalar(c.s), Value::omitted(),
                     Value::scalar(c.lag)});
    ASSERT_EQ(r.status, 0);
    ASSERT_TRUE(r.outputs.at(0));
    const Vec& got = r.outputs[0]->data;
    ASSERT_EQ(got.size(), std::size_t(c.lag) + 1);
    const std::vector<double> want = interleaved(c.d, c.phi, c.s, c.theta, c.lag);
    for (int h = 0; h <= c.lag; ++h) ASSERT_NEAR(got[h], want[h], 1e-12 * want[0]) << "lag " << h;
  }
}

}  // namespace
