#include "cli/number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

// The shortest digits come from Dragonbox (Jeon 2020) as the fmt library
// ships it (header only); with the layout below the whole conversion takes
// about two thirds of the time of libstdc++'s to_chars, built on Ryu (Adams
// 2018) (bench/number_text.cpp).  Without fmt's header, std::to_chars does
// the same work.  Numbers are read by std::from_chars, which libstdc++
// builds on the fast_float algorithm (Lemire 2021); the library of that
// name, timed beside it, was no faster.
#if __has_include(<fmt/format.h>)
#ifndef FMT_HEADER_ONLY
#define FMT_HEADER_ONLY
#endif
#include <fmt/format.h>
#define MVTS_DRAGONBOX 1
#endif

namespace mvts::cli {
namespace {

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr std::uint64_t kPowersOfTen[] = {
    1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull, 10000000ull, 100000000ull,
    1000000000ull, 10000000000ull, 100000000000ull, 1000000000000ull, 10000000000000ull,
    100000000000000ull, 1000000000000000ull, 10000000000000000ull, 100000000000000000ull,
    1000000000000000000ull, 10000000000000000000ull};

// The most significant digits a shortest round trip of a double needs.
constexpr int kSignificantDigits = 17;

// The number of decimal digits of v.
int digit_count(std::uint64_t v) {
  // floor(log10(v)) is floor(log2(v)) * 1233 / 4096 or one more (1233 / 4096 ~ log10(2)).
  const int guess = ((63 - __builtin_clzll(v | 1)) * 1233) >> 12;
  return guess + 1 + (guess + 1 < 20 && v >= kPowersOfTen[guess + 1]);
}

// The 8 decimal digits of v < 10^8, leading zeros included, at `out`.
void put_eight(char* out, std::uint32_t v) {
  const std::uint32_t high = v / 10000, low = v % 10000;
  std::memcpy(out, kDigitPairs + 2 * (high / 100), 2);
  std::memcpy(out + 2, kDigitPairs + 2 * (high % 100), 2);
  std::memcpy(out + 4, kDigitPairs + 2 * (low / 100), 2);
  std::memcpy(out + 6, kDigitPairs + 2 * (low % 100), 2);
}

// The 17 decimal digits of v < 10^17, leading zeros included, at `out`.
void put_seventeen(char* out, std::uint64_t v) {
  const std::uint64_t high = v / 100000000;  // below 10^9
  out[0] = char('0' + high / 100000000);
  put_eight(out + 1, std::uint32_t(high % 100000000));
  put_eight(out + 9, std::uint32_t(v % 100000000));
}

// The n decimal digits of v (n = digit_count(v)) at `out`: eight at a time
// from the right in 32-bit arithmetic, then pairs.
void put_digits(char* out, std::uint64_t v, int n) {
  char* p = out + n;
  while (v >= 100000000) {
    p -= 8;
    put_eight(p, std::uint32_t(v % 100000000));
    v /= 100000000;
  }
  std::uint32_t w = std::uint32_t(v);
  while (w >= 100) {
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * (w % 100), 2);
    w /= 100;
  }
  if (w >= 10) {
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * w, 2);
  } else {
    *--p = char('0' + w);
  }
}

// |x|, an integer below 2^128, written exactly.
char* put_integer(char* out, double x) {
  if (x < 0x1p64) {
    const std::uint64_t v = std::uint64_t(x);
    const int n = digit_count(v);
    put_digits(out, v, n);
    return out + n;
  }
  int exponent = 0;
  const double m = std::frexp(x, &exponent);  // x = m 2^exponent, 0.5 <= m < 1, exponent > 64
  const unsigned __int128 v = static_cast<unsigned __int128>(std::ldexp(m, 53)) << (exponent - 53);
  constexpr std::uint64_t kTen19 = 10000000000000000000ull;
  const std::uint64_t high = std::uint64_t(v / kTen19), low = std::uint64_t(v % kTen19);
  const int n = digit_count(high);
  put_digits(out, high, n);
  std::memset(out + n, '0', 19);
  put_digits(out + n + 19 - digit_count(low), low, digit_count(low));
  return out + n + 19;
}

}  // namespace

char* shortest_text(char* first, double x) {
#ifdef MVTS_DRAGONBOX
  if (x == 0) {
    if (std::signbit(x)) *first++ = '-';
    *first++ = '0';
    return first;
  }
  const auto dec = fmt::detail::dragonbox::to_decimal(x);  // |x| ~ significand 10^exponent
  const int n = digit_count(dec.significand), e = dec.exponent, sci_exp = e + n - 1;
  if (x < 0) *first++ = '-';
  // The lengths of the two notations without the sign: the shorter is
  // written, fixed on a tie.
  const int sci_length = n + (n > 1) + 2 + (std::abs(sci_exp) >= 100 ? 3 : 2);
  const int fixed_length = e >= 0 ? n + e : sci_exp >= 0 ? n + 1 : 1 - sci_exp + n;
  if (fixed_length <= sci_length && e >= 0) return put_integer(first, std::fabs(x));
  // The digits padded to 17 with zeros, written with copies of fixed
  // length (no loop over the digits, few branches): the layouts below copy
  // whole blocks and keep what the length says.
  // The copies read up to 16 bytes past the digit at sci_exp + 1 (at most
  // 16): the buffer holds 16 bytes of padding after the 17 digits.
  char d[kSignificantDigits + kSignificantDigits - 1];
  put_seventeen(d, dec.significand * kPowersOfTen[kSignificantDigits - n]);
  std::memset(d + kSignificantDigits, '0', kSignificantDigits - 1);
  if (fixed_length <= sci_length) {
    if (sci_exp >= 0) {  // ddd.ddd (at most 16 digits before the point)
      std::memcpy(first, d, kSignificantDigits);
      std::memcpy(first + sci_exp + 2, d + sci_exp + 1, kSignificantDigits - 1);
      first[sci_exp + 1] = '.';
      return first + n + 1;
    }
    std::memcpy(first, "0.00000", 8);  // 0.000ddd (at most four zeros: fixed is the shorter)
    std::memcpy(first + 1 - sci_exp, d, kSignificantDigits);
    return first + 1 - sci_exp + n;
  }
  first[0] = d[0];  // d.ddde+XX
  first[1] = '.';
  std::memcpy(first + 2, d + 1, kSignificantDigits - 1);
  char* p = first + (n > 1 ? n + 1 : 1);
  *p++ = 'e';
  *p++ = sci_exp < 0 ? '-' : '+';
  const int a = std::abs(sci_exp);
  if (a >= 100) *p++ = char('0' + a / 100);
  std::memcpy(p, kDigitPairs + 2 * (a % 100), 2);
  return p + 2;
#else
  return std::to_chars(first, first + kShortestTextRoom, x).ptr;
#endif
}

std::size_t read_decimal(std::string_view text, double* x) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  // A first byte of the accepted form: the general reader takes '+', the
  // missing-value words and everything else.
  const char* p = begin + (begin < end && *begin == '-');
  if (p == end || !((*p >= '0' && *p <= '9') || (*p == '.' && p + 1 < end && p[1] >= '0' && p[1] <= '9')))
    return 0;
  const auto r = std::from_chars(begin, end, *x);
  if (r.ec != std::errc() || *x == 0 || std::isinf(*x)) return 0;
  return std::size_t(r.ptr - begin);
}

}  // namespace mvts::cli
