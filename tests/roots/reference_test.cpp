// VTSROOT and poly_roots against reference tables of the peer's companion
// eigenvalues (tests/reference/make_tables.py says how the numbers were made).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "host/host.hpp"
#include "tests/support/reference.hpp"
#include "module/farma/poly_roots.hpp"

namespace {

using mvts::Value;
using test_support::blocks;
using test_support::kEps;
using test_support::list;

struct RootCase {
  const char* name;
  const char* region;
  int k;
  std::vector<double> phi, theta;  // stacked k x k blocks
  std::vector<double> ar_lags, ma_lags;
  int tol;                    // absolute, in units of eps
  std::vector<double> roots;  // (real, imaginary) rows: AR roots, then MA roots
};

struct PolyCase {
  const char* name;
  const char* region;
  std::vector<double> coef;   // c_0 z^n + ... + c_n
  int tol;                    // absolute, in units of eps
  std::vector<double> roots;  // (real, imaginary) rows in root-array order
};

// BEGIN GENERATED TABLE (tests/reference/make_tables.py)
// Peer: numpy 1.24.2 linalg.eigvals of the companion matrix (first block row
// Phi_1 .. Phi_p, identity below), each polynomial's roots in root-array order.
// Rows: real, imaginary.  Tolerance: absolute, tol * eps.
const RootCase kRootCases[] = {
  {"Var1Symmetric", "well separated", 2, {
      0.5, 0.10000000000000001, 0.10000000000000001,
      0.5}, {}, {}, {}, 16,
    {
      0.59999999999999998, 0.0, 0.40000000000000002,
      0.0}},
  {"Varma21", "well separated", 2, {
      0.5, 0.25, -0.125,
      0.375, -0.25, 0.0625,
      0.125, 0.1875}, {
      0.375, -0.25, 0.125,
      0.5}, {}, {}, 32,
    {
      0.68462028982755807, 0.0, 0.23594535577519671,
      0.47758182909536767, 0.23594535577519671, -0.47758182909536767,
      -0.28151100137795115, 0.0, 0.43749999999999994,
      0.16535945694153692, 0.43749999999999994, -0.16535945694153692}},
  {"Var2NearUnitCircle", "near the unit circle", 2, {
      1.46875, 0.0625, 0.0,
      1.25, -0.484375, 0.0,
      0.0, -0.875}, {}, {}, {}, 16,
    {
      0.96875, 0.0, 0.625,
      0.69597054535375269, 0.625, -0.69597054535375269,
      0.5, 0.0}},
  {"Var3ThreeSeries", "well separated", 3, {
      0.375, 0.125, -0.0625,
      0.0625, 0.25, 0.125,
      -0.125, 0.0, 0.5,
      -0.125, 0.0625, 0.0,
      0.0, 0.1875, -0.0625,
      0.0625, 0.0, -0.25,
      0.0625, 0.0, 0.03125,
      0.0, -0.125, 0.0,
      0.03125, 0.0625, 0.125}, {
      0.25, 0.0, 0.125,
      -0.125, 0.375, 0.0,
      0.0, 0.25, -0.5}, {}, {}, 64,
    {
      0.53234378012908212, 0.0, 0.37844235326835235,
      0.0, 0.37649738004608202, 0.25000407427130178,
      0.37649738004608202, -0.25000407427130178, 0.059183025862895061,
      0.39414641865629757, 0.059183025862895061, -0.39414641865629757,
      -0.056622921057227951, 0.48696672258068718, -0.056622921057227951,
      -0.48696672258068718, -0.54390110310093009, 0.0,
      0.31543342156987109, 0.029772049599582871, 0.31543342156987109,
      -0.029772049599582871, -0.50586684313974184, 0.0}},
  {"SubsetAr13", "lag lists", 2, {
      0.375, 0.125, 0.0,
      0.25, 0.25, 0.0,
      -0.125, 0.3125}, {
      0.5, 0.25, -0.25,
      0.125}, {
      3.0, 1.0}, {
      2.0}, 64,
    {
      0.77925673326885803, 0.073284035350947449, 0.77925673326885803,
      -0.073284035350947449, -0.17937416163976438, 0.50760335445893034,
      -0.17937416163976438, -0.50760335445893034, -0.28738257162909325,
      0.59783833382419738, -0.28738257162909325, -0.59783833382419738,
      0.57708465175971968, 0.14327140432283428, 0.57708465175971968,
      -0.14327140432283428, -0.57708465175971957, 0.14327140432283339,
      -0.57708465175971957, -0.14327140432283339}},
};

// Peer: numpy 1.24.2 roots (companion eigenvalues).  Coefficients c_0 .. c_n of
// c_0 z^n + ... + c_n, exactly representable.  Rows: real, imaginary, in the
// root-array order.  Tolerance: absolute, tol * eps, ten times the error
// poly_roots showed against 50-digit mpmath roots: Degree8's last two pairs
// (0.5 +- 0.5i, -0.954 +- 0.285i) are off by 2.7e-14 and 1.1e-13 where the
// root condition allows 2e-16; ClusterTriple by 1.5e-10 where it allows
// 1.4e-11 (numpy: 1.2e-15 and 4e-12).  Both losses come from the
// acceptance tests with the precision constants eta = are = mre =
// 1.11e-15 (five units of 2^-52): at degree 4 the quadratic iteration
// accepts 0.5 +- 0.5i with residual 9.0e-14 under a bound of 1.7e-13 (with
// 2^-52 the bound is 3.3e-14 and one more step gives 1e-16), and the
// deflated quadratic inherits that error; ClusterTriple's real iteration
// accepts |p(s)| = 1.5e-15 under 1.3e-14, where |p'| is 1e-5.
const PolyCase kPolyCases[] = {
  {"CubeRootOfHalf", "well separated", {
      1.0, 0.0, 0.0,
      -0.5}, 16,
    {
      0.7937005259840999, 0.0, -0.39685026299205012,
      0.68736481849930176, -0.39685026299205012, -0.68736481849930176}},
  {"MixedDegree5", "well separated", {
      1.0, -0.75, -0.4375,
      0.21875, 0.0859375, -0.0234375}, 64,
    {
      0.87649253645780856, 0.0, 0.54008657432422003,
      0.0, 0.21841776241816657, 0.0,
      -0.44249843660009769, 0.1757110212228245, -0.44249843660009769,
      -0.1757110212228245}},
  {"Degree8", "well separated", {
      1.0, 0.5, -0.25,
      0.375, 0.125, -0.0625,
      0.25, -0.125, 0.03125}, 8192,
    {
      0.49999999999999989, 0.5, 0.49999999999999989,
      -0.5, 0.27387524004855357, 0.23464358850446945,
      0.27387524004855357, -0.23464358850446945, -0.069488313475048691,
      0.69257330467949829, -0.069488313475048691, -0.69257330467949829,
      -0.95438692657350532, 0.28456156180121117, -0.95438692657350532,
      -0.28456156180121117}},
  {"NearUnitCircle", "near the unit circle", {
      1.0, -1.9375, 0.9609375}, 16,
    {
      0.96874999999999989, 0.14986973510352267, 0.96874999999999989,
      -0.14986973510352267}},
  {"ClusterPair", "clustered roots (0.5 and 0.5 + 2^-10)", {
      1.0, -1.0009765625, 0.25048828125}, 64,
    {
      0.50097656249999645, 0.0, 0.50000000000000355,
      0.0}},
  {"ClusterTriple", "clustered roots (0.5, 0.5 +- 2^-8)", {
      1.0, -1.5, 0.7499847412109375,
      -0.12499237060546875}, 8388608,
    {
      0.50390624999784495, 0.0, 0.50000000000424161,
      0.0, 0.49609374999791356, 0.0}},
};
// END GENERATED TABLE

// Rows are (real, imaginary, modulus, radians, degrees), AR roots before MA
// roots, each with real parts descending and a conjugate pair adjacent
// (positive imaginary part first): the table is in that order, so it is
// compared row by row without re-sorting.
TEST(RootsReference, VtsrootMatchesThePeerEigenvalues) {
  mvts::Session s;
  for (const RootCase& c : kRootCases) {
    SCOPED_TRACE(std::string(c.name) + " (" + c.region + ")");
    auto r = s.call("VTSROOT", {blocks(c.phi, c.k), blocks(c.theta, c.k), list(c.ar_lags),
                                list(c.ma_lags)});
    ASSERT_EQ(r.status, 0);
    ASSERT_TRUE(r.outputs.size() == 1 && r.outputs[0]);
    const mvts::Matrix& m = *r.outputs[0];
    ASSERT_EQ(m.rows, static_cast<int>(c.roots.size() / 2));
    ASSERT_EQ(m.cols, 5);
    const double tol = c.tol * kEps;
    for (int i = 0; i < m.rows; ++i) {
      const double re = c.roots[2 * i], im = c.roots[2 * i + 1];
      EXPECT_NEAR(m.at(i, 0), re, tol) << "root " << i;
      EXPECT_NEAR(m.at(i, 1), im, tol) << "root " << i;
      EXPECT_NEAR(m.at(i, 2), std::hypot(re, im), 2 * tol) << "root " << i;
      const double arg = (re == 0 && im == 0) ? 0.0 : std::atan2(im, re);
      const double modulus = std::fmax(std::hypot(re, im), 1e-300);
      EXPECT_NEAR(m.at(i, 3), arg, 4 * tol / modulus) << "root " << i;
      EXPECT_NEAR(m.at(i, 4), arg * 57.29577951, 4 * 57.3 * tol / modulus) << "root " << i;
    }
    EXPECT_EQ(s.live_blocks(), 0);
  }
}

TEST(RootsReference, PolyRootsMatchThePeer) {
  for (const PolyCase& c : kPolyCases) {
    SCOPED_TRACE(std::string(c.name) + " (" + c.region + ")");
    int degree = static_cast<int>(c.coef.size()) - 1;
    const int n = degree;
    std::vector<double> re(n), im(n), work(std::size_t(mvtsa::poly_roots_work_size(n)));
    ASSERT_EQ(mvtsa::poly_roots(c.coef.data(), &degree, re.data(), im.data(), work.data()),
              mvtsa::kPolyRootsOk);
    ASSERT_EQ(degree, n);
    // poly_roots gives the zeros in the order found: sort them like the table
    std::vector<std::pair<double, double>> z;
    for (int i = 0; i < n; ++i) z.emplace_back(re[i], im[i]);
    std::sort(z.begin(), z.end(), [](const auto& a, const auto& b) {
      if (std::fabs(a.first - b.first) > 1e-9) return a.first > b.first;
      return a.second > b.second;
    });
    const double tol = c.tol * kEps;
    for (int i = 0; i < n; ++i) {
      EXPECT_NEAR(z[i].first, c.roots[2 * i], tol) << "zero " << i;
      EXPECT_NEAR(z[i].second, c.roots[2 * i + 1], tol) << "zero " << i;
    }
  }
}

}  // namespace
