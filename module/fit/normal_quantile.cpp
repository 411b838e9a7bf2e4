#include "module/fit/normal_quantile.hpp"

#include <cmath>
#include <limits>

namespace mvtsa {
namespace {

// Horner evaluation of c[0] + c[1] x + ... + c[7] x^7.
double poly7(const double* c, double x) {
  double s = c[7];
  for (int i = 6; i >= 0; --i) s = s * x + c[i];
  return s;
}

// Coefficients of AS 241 (PPND16): |q| <= 0.425 in r = 0.180625 - q^2;
// further out in r = sqrt(-log(min(p, 1-p))), r <= 5 shifted by 1.6, else by 5.
constexpr double kA[8] = {3.387132872796366608,   133.14166789178437745, 1971.5909503065514427,
                          13731.693765509461125, 45921.953931549871457, 67265.770927008700853,
                          33430.575583588128105, 2509.0809287301226727};
constexpr double kB[8] = {1.0,                   42.313330701600911252, 687.1870074920579083,
                          5394.1960214247511077, 21213.794301586595867, 39307.89580009271061,
                          28729.085735721942674, 5226.495278852545925};
constexpr double kC[8] = {1.42343711074968357734,   4.6303378461565452959,
                          5.7694972214606914055,    3.64784832476320460504,
                          1.27045825245236838258,   0.24178072517745061177,
                          0.0227238449892691845833, 7.7454501427834140764e-4};
constexpr double kD[8] = {1.0,
                          2.05319162663775882187,    1.6763848301838038494,
                          0.68976733498510000455,    0.14810397642748007459,
                          0.0151986665636164571966,  5.475938084995344946e-4,
                          1.05075007164441684324e-9};
constexpr double kE[8] = {6.6579046435011037772,     5.4637849111641143699,
                          1.7848265399172913358,     0.29656057182850489123,
                          0.026532189526576123093,   0.0012426609473880784386,
                          2.71155556874348757815e-5, 2.01033439929228813265e-7};
constexpr double kF[8] = {1.0,
                          0.59983220655588793769,    0.13692988092273580531,
                          0.0148753612908506148525,  7.868691311456132591e-4,
                          1.8463183175100546818e-5,  1.4215117583164458887e-7,
                          2.04426310338993978564e-15};
constexpr double kSplit1 = 0.425;
constexpr double kSplit2 = 5.0;
constexpr double kConst1 = 0.180625;  // 0.425^2
constexpr double kConst2 = 1.6;

}  // namespace

double normal_quantile(double p) {
  if (!(p > 0.0 && p < 1.0)) return std::numeric_limits<double>::quiet_NaN();
  const double q = p - 0.5;
  if (std::fabs(q) <= kSplit1) {
    const double r = kConst1 - q * q;
    return q * poly7(kA, r) / poly7(kB, r);
  }
  double r = std::sqrt(-std::log(q < 0.0 ? p : 1.0 - p));
  double z;
  if (r <= kSplit2) {
    r -= kConst2;
    z = poly7(kC, r) / poly7(kD, r);
  } else {
    r -= kSplit2;
    z = poly7(kE, r) / poly7(kF, r);
  }
  return q < 0.0 ? -z : z;
}

}  // namespace mvtsa
