// The FFT route of the fractional-difference filter against the direct sums
// (the route below kFracDiffFftMin, kept as the reference) and against the
// same sums in long double; the convolution kernel and its plan cache.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "host/host.hpp"
#include "module/farma/fft_convolve.hpp"
#include "module/farma/frac_diff.hpp"
#include "module/frame/status.hpp"
#include "tests/support/allocation.hpp"

namespace {

using mvts::Value;

// Test series: noise around a level, a random walk away from zero, and a
// smooth trend (the benchmark's series).
std::vector<double> make_series(int kind, std::int64_t n) {
  std::mt19937_64 rng(11 + kind);
  std::normal_distribution<double> z;
  std::vector<double> x(n);
  double walk = 100;
  for (std::int64_t t = 0; t < n; ++t) {
    walk += z(rng);
    x[t] = kind == 0 ? 5 + z(rng) : kind == 1 ? walk : std::sin(0.01 * t) + 0.001 * t;
  }
  return x;
}

struct Filtered {
  std::vector<double> out, w, y;  // the result, the weights, the series convolved
};

// frac_diff_filter, with the series it convolves: x, or its running sum for
// d <= -1/2 (formed as the filter forms it).
Filtered run_filter(double d, const std::vector<double>& x) {
  const auto n = std::int64_t(x.size());
  Filtered f{std::vector<double>(n), std::vector<double>(n), x};
  std::vector<double> work(mvtsa::frac_diff_work_size(n) - n);
  EXPECT_EQ(mvtsa::frac_diff_filter(f.out.data(), f.w.data(), d, x.data(), n, work.data()), 0);
  if (d <= -0.5) {
    double s = 0;
    for (double& v : f.y) v = s += v;
  }
  return f;
}

// sum_{j=0..t} w_j y_{t-j} in long double.
double exact_term(const Filtered& f, std::int64_t t) {
  long double s = 0;
  for (std::int64_t j = 0; j <= t; ++j) s += (long double)f.w[j] * f.y[t - j];
  return double(s);
}

const double kOrders[] = {-0.999999, -0.99, -0.75, -0.5, -0.49, -0.3, -1e-3, 1e-4,
                          0.2,       0.45,  0.5,   0.51, 0.75,  0.99, 0.999999};

// Up to n = 5000 (at the crossover, the first FFT length against the
// last direct one), d across (-1, 1): every term against the direct sums of
// the route below the crossover, kept as the reference, and against
// long-double sums, within 1e-12 of the largest |term|.  The one exception
// is the direct sums' own rounding: on the trend with d > 1/2 and n in the
// ten thousands they are off by up to 2e-11 of the largest term, where the
// FFT route is within 1e-13 of the long-double sums.
TEST(FracDiffFft, AgreesWithTheDirectSums) {
  for (std::int64_t n : {mvtsa::kFracDiffFftMin, std::int64_t(1000), std::int64_t(5000)}) {
    for (int kind = 0; kind < 3; ++kind) {
      const std::vector<double> x = make_series(kind, n);
      for (double d : kOrders) {
        const Filtered f = run_filter(d, x);
        std::vector<double> direct(n), rev(n);
        mvtsa::frac_diff_direct(direct.data(), f.w.data(), f.y.data(), n, rev.data());
        double big = 0;
        for (std::int64_t t = 1; t < n; ++t) big = std::max(big, std::fabs(direct[t]));
        EXPECT_TRUE(mvtsa::is_missing(f.out[0]));
        for (std::int64_t t = 1; t < n; t += t < 1000 ? 1 : 97) {
          const double exact = exact_term(f, t);
          const double e_fft = std::fabs(f.out[t] - exact);
          ASSERT_LE(e_fft, 1e-12 * big) << "n " << n << " series " << kind << " d " << d;
          if (std::fabs(f.out[t] - direct[t]) > 1e-12 * big) {
            ASSERT_GT(std::fabs(direct[t] - exact), e_fft)
                << "n " << n << " series " << kind << " d " << d << " t " << t;
          }
        }
      }
    }
  }
}

// n = 10^5: terms at 200 places (the first 100 and then spread to the end)
// against long-double sums, within 1e-12 of the largest of them; the worst
// case measured is 1e-13 (d = 1/2 on the trend).
TEST(FracDiffFft, LongSeriesAgainstLongDoubleSums) {
  const std::int64_t n = 100000;
  for (int kind = 0; kind < 3; ++kind) {
    const std::vector<double> x = make_series(kind, n);
    for (double d : {-0.999999, -0.5, -0.3, 0.45, 0.5, 0.75, 0.99}) {
      const Filtered f = run_filter(d, x);
      double big = 0, err = 0;
      for (std::int64_t t = 1; t < n; t += t < 100 ? 1 : 997) {
        const double want = exact_term(f, t);
        big = std::max(big, std::fabs(want));
        err = std::max(err, std::fabs(f.out[t] - want));
      }
      EXPECT_LE(err, 1e-12 * big) << "series " << kind << " d " << d;
    }
  }
}

// A level of 10^6 over unit noise: for d > 1/2 the transform carries the
// differences, so the terms stay within 1e-10 of the long-double sums (the
// rounding of W_t x_0 and of the O(1) differenced terms); transforming the
// level itself would leave errors of 7e-10.
TEST(FracDiffFft, HighLevelKeepsTheAccuracyOfTheDifferences) {
  const std::int64_t n = 5000;
  std::vector<double> x = make_series(0, n);
  for (double& v : x) v += 1e6;
  for (double d : {0.6, 0.9, 0.999}) {
    const Filtered f = run_filter(d, x);
    double err = 0;
    for (std::int64_t t = 1; t < n; t += 7)
      err = std::max(err, std::fabs(f.out[t] - exact_term(f, t)));
    EXPECT_LE(err, 1e-10) << d;
  }
}

// Lengths at and around the transform sizes 2^k, 3 2^k and 5 2^k: the
// length is the smallest such N >= 2n - 1, and the convolution matches the
// direct one on random sequences.
TEST(FftConvolve, LengthsAndTermsAroundEveryTransformSize) {
  EXPECT_EQ(mvtsa::fft_convolve_length(1), 2);
  EXPECT_EQ(mvtsa::fft_convolve_length(2), 3);
  EXPECT_EQ(mvtsa::fft_convolve_length(64), 128);         // 127 -> 2^7
  EXPECT_EQ(mvtsa::fft_convolve_length(65), 160);         // 129 -> 5 * 2^5
  EXPECT_EQ(mvtsa::fft_convolve_length(100000), 262144);  // 199999 -> 2^18
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(-1, 1);
  for (std::int64_t n : {1, 2, 3, 5, 33, 64, 65, 96, 97, 128, 129, 160, 161, 1025}) {
    const std::int64_t N = mvtsa::fft_convolve_length(n);
    std::int64_t m = N;
    while (m % 2 == 0) m /= 2;
    EXPECT_TRUE(m == 1 || m == 3 || m == 5) << N;
    EXPECT_GE(N, 2 * n - 1);
    std::vector<double> a(n), b(n), out(n), work(mvtsa::fft_convolve_work_size(n));
    for (auto& v : a) v = u(rng);
    for (auto& v : b) v = u(rng);
    ASSERT_TRUE(mvtsa::fft_convolve_head(out.data(), a.data(), b.data(), n, work.data()));
    for (std::int64_t t = 0; t < n; ++t) {
      double s = 0;
      for (std::int64_t j = 0; j <= t; ++j) s += a[j] * b[t - j];
      ASSERT_NEAR(out[t], s, 1e-13 * std::sqrt(double(t + 1))) << "n " << n << " t " << t;
    }
  }
}

// The plans are cached for four lengths; a result never depends on which
// plans were cached, on the alignment of the caller's block, or on other
// threads using the cache at the same time.
TEST(FftConvolve, ResultsIndependentOfCacheStateAndThreads) {
  const std::int64_t lengths[] = {300, 700, 1500, 2500, 4000, 6000};
  auto convolve = [](std::int64_t n, std::size_t offset) {
    const std::vector<double> a = make_series(0, n), b = make_series(1, n);
    std::vector<double> out(n), work(mvtsa::fft_convolve_work_size(n) + offset);
    EXPECT_TRUE(mvtsa::fft_convolve_head(out.data(), a.data(), b.data(), n,
                                         work.data() + offset));
    return out;
  };
  std::vector<std::vector<double>> first;
  for (std::int64_t n : lengths) first.push_back(convolve(n, 0));
  // every length again after the others have pushed it out, at another offset
  for (std::size_t i = 0; i < std::size(lengths); ++i)
    EXPECT_EQ(convolve(lengths[i], 3), first[i]) << lengths[i];
  std::vector<std::thread> threads;
  std::vector<int> same(8, 0);
  for (int k = 0; k < 8; ++k)
    threads.emplace_back([&, k] {
      for (int rep = 0; rep < 5; ++rep) {
        const std::size_t i = std::size_t(k + rep) % std::size(lengths);
        same[k] += convolve(lengths[i], std::size_t(k % 4)) == first[i];
      }
    });
  for (auto& t : threads) t.join();
  for (int k = 0; k < 8; ++k) EXPECT_EQ(same[k], 5) << "thread " << k;
}

// FDIF and the conditional likelihood on series long enough for the FFT
// route: every allocation failure ends with status 1 and nothing left, and
// the likelihood matches the one formed from the direct sums.
TEST(FracDiffFft, EntryPointsOnTheFftRoute) {
  mvts::Session s;
  const std::vector<double> x = make_series(2, 300);
  EXPECT_GE(test_support::expect_allocation_failures(
                s, "FDIF", {Value::column(x), Value::scalar(0.7)}, 10),
            1);
  const std::vector<Value> lik = {Value::column(x), Value::scalar(0.3), Value::scalar(0.5),
                                  Value::scalar(-0.4)};
  EXPECT_GE(test_support::expect_allocation_failures(s, "FARMALIK", lik, 10), 1);
  auto r = s.call("FARMALIK", lik);
  ASSERT_EQ(r.status, 0);
  // -(n/2) ln(S/n) with e_t = u_t - 0.5 u_(t-1) - 0.4 e_(t-1), u from the
  // direct sums (m = 1).
  const Filtered f = run_filter(0.3, x);
  std::vector<double> u(x.size()), rev(x.size());
  const auto n = std::int64_t(x.size());
  mvtsa::frac_diff_direct(u.data(), f.w.data(), x.data(), n, rev.data());
  u[0] = 0;
  double e_prev = 0, S = 0;
  for (std::int64_t t = 0; t < n; ++t) {
    const double e = u[t] - (t > 0 ? 0.5 * u[t - 1] : 0) - 0.4 * e_prev;
    if (t >= 1) S += e * e;
    e_prev = e;
  }
  const double want = -0.5 * double(n - 1) * std::log(S / double(n - 1));
  EXPECT_NEAR(r.outputs[0]->data[0], want, 1e-12 * std::fabs(want));
}

}  // namespace
