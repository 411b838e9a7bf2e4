// The number writer against std::to_chars, byte for byte, and the number
// reader against the writer, bit for bit.
#include "cli/number_text.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace mvts::cli {
namespace {

std::string shortest(double x) {
  char buf[kShortestTextRoom];
  return std::string(buf, shortest_text(buf, x));
}

std::string standard(double x) {
  char buf[64];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, x).ptr);
}

double from_bits(std::uint64_t b) {
  double x;
  std::memcpy(&x, &b, sizeof x);
  return x;
}

// The doubles where the two notations and the exact integers meet: random
// bit patterns, every power of two with its neighbours (subnormals
// included), m 10^e and its neighbours for small m, integers about 2^53 and
// integers up to 10^22 written out in full.
std::vector<double> hard_doubles() {
  std::vector<double> xs = {0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308,
                            2.2250738585072009e-308, 1.7976931348623157e308, 1e22, 1e23,
                            9007199254740993.0, 123456789012345680000.0, 0x1p64, 0x1p70};
  std::mt19937_64 gen(2027);
  for (int i = 0; i < 300000; ++i) xs.push_back(from_bits(gen()));
  for (int e = -1074; e < 1024; ++e)
    for (double x = std::ldexp(1.0, e), k = 0; k < 3; ++k, x = std::nextafter(x, 0.0))
      xs.push_back(x), xs.push_back(-std::nextafter(std::ldexp(1.0, e), HUGE_VAL));
  for (int e = -325; e < 309; e += 1)
    for (int m : {1, 2, 5, 9, 12, 99, 123, 999, 4096})
      for (double x = m * std::pow(10.0, e), k = 0; k < 2; ++k, x = std::nextafter(x, HUGE_VAL))
        xs.push_back(x);
  for (std::uint64_t i = 0; i < 2000; ++i) {
    xs.push_back(double((std::uint64_t(1) << 53) + 7919 * i));
    xs.push_back(double(i) * 1e18 + 0.5e17);  // 17 to 22 digits, fixed or scientific
    xs.push_back(double(i) * 1e-5);
  }
  return xs;
}

TEST(NumberText, ShortestTextIsToCharsByteForByte) {
  int checked = 0;
  for (double x : hard_doubles()) {
    if (!std::isfinite(x)) continue;
    ASSERT_EQ(shortest(x), standard(x)) << std::hexfloat << x;
    ++checked;
  }
  EXPECT_GT(checked, 300000);
}

TEST(NumberText, ReadDecimalReadsWhatIsWrittenBitForBit) {
  int read = 0;
  for (double x : hard_doubles()) {
    if (!std::isfinite(x)) continue;
    const std::string t = shortest(x);
    double back = 1.0;
    const std::size_t n = read_decimal(t, &back);
    if (x == 0) {
      EXPECT_EQ(n, 0u) << t;  // zero is left to the general reader (its sign)
      continue;
    }
    ASSERT_EQ(n, t.size()) << t;
    ASSERT_EQ(std::memcmp(&back, &x, sizeof x), 0) << t;
    ++read;
  }
  EXPECT_GT(read, 300000);
}

TEST(NumberText, ReadDecimalStopsAtTheNumberAndLeavesOtherFormsAlone) {
  double x = 0;
  EXPECT_EQ(read_decimal("1.5,2", &x), 3u);
  EXPECT_EQ(x, 1.5);
  EXPECT_EQ(read_decimal("-.25 7", &x), 4u);
  EXPECT_EQ(x, -0.25);
  EXPECT_EQ(read_decimal("3.e2x", &x), 4u);
  EXPECT_EQ(x, 300.0);
  EXPECT_EQ(read_decimal("2e", &x), 1u);  // the 'e' is not part of the number
  // Forms the general reader decides: a sign '+', a missing value, words,
  // zero (its sign), out of range, hexadecimal's "0x" (read as 0, then x).
  for (const char* t : {"+1", ".", "-", "-.", "nan", "inf", "-inf", "NA", "x1", "", "0", "-0.0",
                        "0e5", "1e400", "-1e400", "1e-400", "0x10", " 1"})
    EXPECT_EQ(read_decimal(t, &x), 0u) << t;
}

}  // namespace
}  // namespace mvts::cli
