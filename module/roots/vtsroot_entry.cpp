// VTSROOT(phi, theta, p, q) -> k (p' + q') x 5 characteristic roots:
// real part, imaginary part, modulus, argument in radians, argument in
// degrees; the AR roots first, then the MA roots.
#include <cmath>
#include <cstring>

#include "module/frame/args.hpp"
#include "module/frame/entries.hpp"
#include "module/linalg/companion_roots.hpp"
#include "module/linalg/complex_modulus.hpp"

namespace mvtsa {
namespace {

enum { kPhi = 0, kTheta = 1, kArLags = 2, kMaLags = 3 };

// Degrees per radian, truncated to ten significant digits as the function
// has always reported it.
constexpr double kDegreesPerRadian = 57.29577951;

// One polynomial: the given blocks copied, the lag list applied, and the
// expanded array of `order` blocks.
struct Polynomial {
  int blocks = 0;
  std::int64_t order = 0;
  WorkBlock<double> given;     // the blocks as given
  WorkBlock<double> spread;    // the blocks spread over their lags, when needed
  double* expanded = nullptr;  // `order` blocks: given or spread
};

// Copies the given blocks, checks and applies the lag list in slot `slot`,
// and leaves the expanded coefficient array in poly.expanded.
int expand(const ArgList& in, const MatrixArg& coef, int k, int slot, const char* which,
           Polynomial* poly) {
  const std::uint64_t kk = std::uint64_t(k) * std::uint64_t(k);
  WorkBlock<double>& given = poly->given;
  if (int st = given.allocate(checked_mul(kk, std::uint64_t(poly->blocks)))) return st;
  if (poly->blocks > 0)
    std::memcpy(given.data(), coef.data, sizeof(double) * kk * std::uint64_t(poly->blocks));
  LagList lags;
  if (in.given(slot))
    if (int st = in.lag_list(slot, poly->blocks, which, &lags)) return st;
  poly->order = lag_order(lags, poly->blocks);
  if (poly->order == 0) return kStatusOk;
  if (!lags.given || poly->order == std::int64_t(lags.lags.size())) {
    // The blocks keep their places (lags 1..order).
    poly->expanded = given.data();
    return kStatusOk;
  }
  if (int st = poly->spread.allocate(checked_mul(kk, std::uint64_t(poly->order)))) return st;
  spread_blocks(given.data(), poly->blocks, k, lags, poly->spread.data());
  poly->expanded = poly->spread.data();
  return kStatusOk;
}

int vtsroot(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  int k = 0;
  MatrixArg phi, theta;
  Polynomial ar, ma;
  // The coefficient matrices fix the dimension k.
  if (int st = in.coefficient_pair(kPhi, kTheta, &k, &phi, &ar.blocks, &theta, &ma.blocks))
    return st;
  // Private copies, lag lists, expansion to the full orders p' and q'.
  if (int st = expand(in, phi, k, kArLags, "AR", &ar)) return st;
  if (int st = expand(in, theta, k, kMaLags, "MA", &ma)) return st;
  const std::int64_t n_ar = std::int64_t(k) * ar.order, n_ma = std::int64_t(k) * ma.order;
  const std::int64_t rows = n_ar + n_ma;
  if (rows > 0x7fffffff) return allocation_failed();  // no 32-bit row count holds it
  // Root table (complex), modulus table, root scratch of each polynomial.
  WorkBlock<double> table(2 * std::uint64_t(rows));
  if (!table) return table.status();
  WorkBlock<double> modulus{std::uint64_t(rows)};
  if (!modulus) return modulus.status();
  WorkBlock<double> ar_roots(2 * std::uint64_t(n_ar));
  if (!ar_roots) return ar_roots.status();
  WorkBlock<double> ma_roots(2 * std::uint64_t(n_ma));
  if (!ma_roots) return ma_roots.status();
  // AR roots, then MA roots.  A polynomial whose roots cannot be
  // computed gets missing values in its rows rather than zeros, which would
  // read as roots at the origin.
  std::int64_t at = 0;
  for (Polynomial* poly : {&ar, &ma}) {
    if (poly->order == 0) continue;
    WorkBlock<double>& scratch = poly == &ar ? ar_roots : ma_roots;
    const int order = static_cast<int>(poly->order);
    WorkBlock<double> work(companion_roots_work(poly->expanded, k, order));
    if (!work) return work.status();
    const int st = companion_roots(poly->expanded, k, order, scratch.data(), work.data());
    if (st == kCompanionRootsCancelled) return cancelled();
    const std::int64_t m = std::int64_t(k) * poly->order;
    for (std::int64_t i = 0; i < m; ++i, ++at) {
      if (st == kCompanionRootsOk) {
        table[2 * at] = scratch[2 * i];
        table[2 * at + 1] = scratch[2 * i + 1];
        modulus[at] = complex_modulus(scratch.data() + 2 * i);
      } else {
        table[2 * at] = table[2 * at + 1] = modulus[at] = missing_value();
      }
    }
  }
  // The result: real part, imaginary part, modulus, and the argument in
  // radians and in degrees (0 at the origin).
  double* out = create_result(1, static_cast<std::int32_t>(rows), 5);
  if (!out) return kStatusHostError;
  for (std::int64_t i = 0; i < rows; ++i) {
    const double re = table[2 * i], im = table[2 * i + 1];
    double* row = out + 5 * i;
    row[0] = re;
    row[1] = im;
    row[2] = modulus[i];
    if (is_missing(re) || is_missing(im)) {
      row[3] = row[4] = missing_value();
      continue;
    }
    row[3] = (re != 0.0 || im != 0.0) ? std::atan2(im, re) : 0.0;
    row[4] = row[3] * kDegreesPerRadian;
  }
  // The guards free every work block.
  return kStatusOk;
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t vtsroot_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::vtsroot(args, given); });
}
