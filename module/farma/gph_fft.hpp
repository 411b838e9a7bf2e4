// Mixed-radix fast Fourier transform for the log-periodogram start of
// FARMAFIT.
//
// The length is factored by Singleton's rules: factors of 16 first, each
// giving a factor 4; then the squares j^2 of odd j = 3, 5, 7, ..., each
// giving a factor j; then, when more than 4 remains, a factor 2 for a
// remaining 4 and the square-free rest by ascending primes.  The square
// factors are used on both sides of the square-free ones (n = s * f * s').
// The transform fails, as Singleton's method does, when n < 2, when a prime
// factor exceeds 23, or when the product of the square-free factors exceeds
// 209.  The transform itself runs the factors as self-sorting (Stockham)
// passes, each a radix-f butterfly with its twiddle factors.
#pragma once

#include <cstdint>

namespace mvtsa {

inline constexpr int kFftOk = 0;
inline constexpr int kFftTooShort = 1;        // n < 2
inline constexpr int kFftPrimeTooLarge = 2;   // a prime factor above 23
inline constexpr int kFftSquareFreeTooLarge = 3;  // square-free product above 209

inline constexpr int kFftMaxPrime = 23;
inline constexpr std::int64_t kFftMaxSquareFree = 209;
// Enough room for the factors of any 64-bit length.
inline constexpr int kFftMaxFactors = 128;

// Singleton's factorisation of n into factors[0 .. *count-1] (their product
// is n).  Returns a kFft code; the factors are filled in every case.
int fft_factor(std::int64_t n, int* factors, int* count);

// Doubles of work space for fft_mixed_radix: two arrays of n.
inline std::int64_t fft_work_size(std::int64_t n) { return 2 * n; }

// In place: (re, im) <- X_j = sum_t (re_t + i im_t) exp(-2 pi i j t / n),
// j = 0 .. n-1, unnormalised.  Returns a kFft code; on failure the arrays
// are unchanged.
int fft_mixed_radix(double* re, double* im, std::int64_t n, double* work);

}  // namespace mvtsa
