#include "module/farma/gph_fft.hpp"

#include <cmath>
#include <cstring>
#include <utility>

namespace mvtsa {
namespace {

constexpr double kTwoPi = 6.283185307179586;

// One self-sorting radix-r pass (Stockham): the input holds n/Ns interleaved
// transforms of length Ns; the output holds n/(Ns r) transforms of length
// Ns r.  For j = 0 .. n/r - 1 with k = j mod Ns:
//   v_q = x[j + q n/r] * exp(-2 pi i q k / (Ns r)),         q = 0 .. r-1
//   y[(j / Ns) Ns r + k + p Ns] = sum_q v_q exp(-2 pi i p q / r),  p = 0 .. r-1
void stockham_pass(const double* xr, const double* xi, double* yr, double* yi, std::int64_t n,
                   int r, std::int64_t ns) {
  double wr[kFftMaxPrime + 1], wi[kFftMaxPrime + 1];  // exp(-2 pi i t / r)
  double vr[kFftMaxPrime + 1], vi[kFftMaxPrime + 1];
  for (int t = 0; t < r; ++t) {
    wr[t] = std::cos(kTwoPi * t / r);
    wi[t] = -std::sin(kTwoPi * t / r);
  }
  const std::int64_t m = n / r;
  for (std::int64_t j = 0; j < m; ++j) {
    const std::int64_t k = j % ns;
    const double base = -kTwoPi * double(k) / double(ns * r);
    for (int q = 0; q < r; ++q) {
      const double ar = xr[j + q * m], ai = xi[j + q * m];
      if (k == 0 || q == 0) {
        vr[q] = ar;
        vi[q] = ai;
      } else {
        const double c = std::cos(base * q), s = std::sin(base * q);
        vr[q] = ar * c - ai * s;
        vi[q] = ar * s + ai * c;
      }
    }
    const std::int64_t out = (j / ns) * ns * r + k;
    for (int p = 0; p < r; ++p) {
      double sr = 0.0, si = 0.0;
      int t = 0;  // (p q) mod r, advanced by p each step
      for (int q = 0; q < r; ++q) {
        sr += vr[q] * wr[t] - vi[q] * wi[t];
        si += vr[q] * wi[t] + vi[q] * wr[t];
        t += p;
        if (t >= r) t -= r;
      }
      yr[out + p * ns] = sr;
      yi[out + p * ns] = si;
    }
  }
}

}  // namespace

int fft_factor(std::int64_t n, int* factors, int* count) {
  *count = 0;
  if (n < 2) return kFftTooShort;
  int square[kFftMaxFactors], free_part[kFftMaxFactors];
  int ns = 0, nf = 0;
  std::int64_t k = n;
  // Square factors: 16 = 4^2, then j^2 for odd j.  A square of a prime
  // above 23 is left in k and fails below.
  while (k % 16 == 0) {
    square[ns++] = 4;
    k /= 16;
  }
  for (int j = 3; j <= kFftMaxPrime && std::int64_t(j) * j <= k; j += 2)
    while (k % (std::int64_t(j) * j) == 0) {
      square[ns++] = j;
      k /= std::int64_t(j) * j;
    }
  // The square-free rest.
  if (k <= 4) {
    if (k != 1) free_part[nf++] = int(k);
    k = 1;
  } else {
    if (k % 4 == 0) {
      square[ns++] = 2;
      k /= 4;
    }
    for (int j = 2; j <= kFftMaxPrime && k > 1; j = (j == 2 ? 3 : j + 2))
      if (k % j == 0) {
        free_part[nf++] = j;
        k /= j;
      }
  }
  for (int i = 0; i < ns; ++i) factors[(*count)++] = square[i];
  for (int i = 0; i < nf; ++i) factors[(*count)++] = free_part[i];
  for (int i = ns - 1; i >= 0; --i) factors[(*count)++] = square[i];
  if (k > 1) return kFftPrimeTooLarge;  // a prime factor above 23 remains
  std::int64_t product = 1;
  for (int i = 0; i < nf; ++i) product *= free_part[i];
  if (product > kFftMaxSquareFree) return kFftSquareFreeTooLarge;
  return kFftOk;
}

int fft_mixed_radix(double* re, double* im, std::int64_t n, double* work) {
  int factors[kFftMaxFactors];
  int count = 0;
  if (int st = fft_factor(n, factors, &count)) return st;
  double* xr = re;
  double* xi = im;
  double* yr = work;
  double* yi = work + n;
  std::int64_t ns = 1;
  for (int f = 0; f < count; ++f) {
    stockham_pass(xr, xi, yr, yi, n, factors[f], ns);
    ns *= factors[f];
    std::swap(xr, yr);
    std::swap(xi, yi);
  }
  if (xr != re) {
    std::memcpy(re, xr, sizeof(double) * std::size_t(n));
    std::memcpy(im, xi, sizeof(double) * std::size_t(n));
  }
  return kFftOk;
}

}  // namespace mvtsa
