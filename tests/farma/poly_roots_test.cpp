// The Jenkins-Traub root finder: closed-form cases, return codes, and
// polynomials built from chosen roots checked against the eigenvalues of the
// companion matrix (LAPACK DGEEV) and by their backward error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include "module/farma/poly_roots.hpp"

extern "C" void dgeev_(const char* jobvl, const char* jobvr, const int* n, double* a,
                       const int* lda, double* wr, double* wi, double* vl, const int* ldvl,
                       double* vr, const int* ldvr, double* work, const int* lwork, int* info);

namespace {

using cplx = std::complex<double>;

struct Found {
  int code;
  int degree;
  std::vector<cplx> z;
};

using Finder = int (*)(const double*, int*, double*, double*, double*);

Found find_roots(const std::vector<double>& c, Finder finder = mvtsa::poly_roots) {
  const int n = static_cast<int>(c.size()) - 1;
  std::vector<double> re(n > 0 ? n : 1, -99), im(n > 0 ? n : 1, -99),
      work(mvtsa::poly_roots_work_size(n));
  Found f;
  f.degree = n;
  f.code = finder(c.data(), &f.degree, re.data(), im.data(), work.data());
  for (int i = 0; i < n; ++i) f.z.emplace_back(re[i], im[i]);
  return f;
}

Found find_zeros(const std::vector<double>& c) { return find_roots(c, mvtsa::poly_zeros); }

// Real zeros have imaginary part exactly 0; a complex zero is followed by
// its exact conjugate.
void expect_conjugate_structure(const std::vector<cplx>& z, const std::string& what) {
  for (std::size_t i = 0; i < z.size(); ++i) {
    if (z[i].imag() == 0.0) continue;
    ASSERT_GT(z[i].imag(), 0.0) << what << " at " << i;
    ASSERT_LT(i + 1, z.size()) << what;
    EXPECT_EQ(z[i + 1], std::conj(z[i])) << what << " at " << i;
    ++i;
  }
}

// Coefficients (highest power first) of prod (z - r_i).
std::vector<double> from_roots(const std::vector<cplx>& roots) {
  std::vector<cplx> c{1.0};
  for (const cplx& r : roots) {
    c.push_back(0.0);
    for (std::size_t i = c.size() - 1; i > 0; --i) c[i] -= r * c[i - 1];
  }
  std::vector<double> out;
  for (const cplx& x : c) out.push_back(x.real());
  return out;
}

// Eigenvalues of the companion matrix of the monic polynomial.
std::vector<cplx> companion_eigenvalues(const std::vector<double>& c) {
  const int n = static_cast<int>(c.size()) - 1;
  std::vector<double> a(std::size_t(n) * n, 0.0);  // column-major
  for (int j = 0; j < n; ++j) a[std::size_t(j) * n] = -c[j + 1] / c[0];
  for (int i = 1; i < n; ++i) a[std::size_t(i - 1) * n + i] = 1.0;
  std::vector<double> wr(n), wi(n), work(8 * std::size_t(n) + 8);
  int lwork = static_cast<int>(work.size()), info = 0, one = 1;
  double dummy = 0;
  dgeev_("N", "N", &n, a.data(), &n, wr.data(), wi.data(), &dummy, &one, &dummy, &one,
         work.data(), &lwork, &info);
  EXPECT_EQ(info, 0);
  std::vector<cplx> w;
  for (int i = 0; i < n; ++i) w.emplace_back(wr[i], wi[i]);
  return w;
}

// Each found root matched to a distinct reference root; returns the largest
// distance.
double match_distance(std::vector<cplx> found, std::vector<cplx> ref) {
  double worst = 0.0;
  for (const cplx& r : ref) {
    auto it = std::min_element(found.begin(), found.end(), [&](const cplx& a, const cplx& b) {
      return std::abs(a - r) < std::abs(b - r);
    });
    worst = std::max(worst, std::abs(*it - r));
    found.erase(it);
  }
  return worst;
}

// Backward error |p(z)| / sum |c_i| |z|^(n-i), in long double.
double backward_error(const std::vector<double>& c, cplx z) {
  std::complex<long double> v = 0, zz(z.real(), z.imag());
  long double s = 0, az = std::abs(zz);
  for (double ci : c) {
    v = v * zz + (long double)ci;
    s = s * az + std::fabs((long double)ci);
  }
  return double(std::abs(v) / s);
}

TEST(PolyRootsClosedForms, QuadraticGivesTheSmallerZeroFirst) {
  Found f = find_roots({1, 0, -0.25});
  ASSERT_EQ(f.code, 0);
  EXPECT_EQ(f.degree, 2);
  EXPECT_EQ(f.z[0], cplx(0.5, 0));
  EXPECT_EQ(f.z[1], cplx(-0.5, 0));
  // z^2 + 1: the pair, positive imaginary part first.
  f = find_roots({1, 0, 1});
  ASSERT_EQ(f.code, 0);
  EXPECT_EQ(f.z[0], cplx(0, 1));
  EXPECT_EQ(f.z[1], cplx(0, -1));
  // Degree 1.
  f = find_roots({2, -1});
  ASSERT_EQ(f.code, 0);
  EXPECT_EQ(f.z[0], cplx(0.5, 0));
}

TEST(PolyRootsClosedForms, QuadraticAvoidsCancellationAndOverflow) {
  // z^2 - 1e8 z + 1: zeros 1e8 and 1e-8; the small one from c / (a * larger).
  Found f = find_roots({1, -1e8, 1});
  ASSERT_EQ(f.code, 0);
  EXPECT_NEAR(f.z[0].real(), 1e-8, 1e-8 * 1e-15);
  EXPECT_NEAR(f.z[1].real(), 1e8, 1e8 * 1e-15);
  // Coefficients whose square overflows: z^2 - 2e200 z + 1e400 is out of
  // range, but 1e-200 z^2 - 2 z + 1e200 (zeros 1e200 twice) is not.
  f = find_roots({1e-200, -2, 1e200});
  ASSERT_EQ(f.code, 0);
  EXPECT_NEAR(f.z[0].real() / 1e200, 1.0, 1e-7);
  EXPECT_NEAR(f.z[1].real() / 1e200, 1.0, 1e-7);
}

TEST(PolyRootsClosedForms, CubeRootsOfOneHalf) {
  Found f = find_roots({1, 0, 0, -0.5});
  ASSERT_EQ(f.code, 0);
  ASSERT_EQ(f.degree, 3);
  const double r = std::cbrt(0.5);
  int real_count = 0;
  for (const cplx& z : f.z) {
    EXPECT_NEAR(std::abs(z), r, 1e-14);
    EXPECT_NEAR(std::pow(z, 3).real(), 0.5, 1e-14);
    if (z.imag() == 0) ++real_count;
  }
  EXPECT_EQ(real_count, 1);
  EXPECT_EQ(f.z[1], std::conj(f.z[2]));
}

TEST(PolyRootsClosedForms, ZerosAtTheOriginComeFirst) {
  Found f = find_roots({1, -0.5, 0});
  ASSERT_EQ(f.code, 0);
  EXPECT_EQ(f.z[0], cplx(0, 0));
  EXPECT_EQ(f.z[1], cplx(0.5, 0));
  // z^3 (z^3 - 2 z + 1): three zeros at the origin, then the others.
  f = find_roots({1, 0, -2, 1, 0, 0, 0});
  ASSERT_EQ(f.code, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(f.z[i], cplx(0, 0));
  std::vector<cplx> rest(f.z.begin() + 3, f.z.end());
  const double s5 = std::sqrt(5.0);
  EXPECT_LT(match_distance(rest, {1.0, (-1 + s5) / 2, (-1 - s5) / 2}), 1e-14);
  // Only zeros at the origin.
  f = find_roots({3, 0, 0});
  ASSERT_EQ(f.code, 0);
  EXPECT_EQ(f.z[0], cplx(0, 0));
  EXPECT_EQ(f.z[1], cplx(0, 0));
}

TEST(PolyRootsCodes, LeadingZeroAndScaleLimits) {
  Found f = find_roots({0, 1, 2});
  EXPECT_EQ(f.code, mvtsa::kPolyRootsLeadingZero);
  EXPECT_EQ(f.degree, 0);
  // The scale test runs from degree 3 on: 1e160 above 2^512, 1e-160 below 2^-511.
  f = find_roots({1e160, 1, 2, 3});
  EXPECT_EQ(f.code, mvtsa::kPolyRootsScaleHigh);
  EXPECT_EQ(f.degree, 3);
  f = find_roots({1e-160, 1e-160, 2e-160, 3e-160});
  EXPECT_EQ(f.code, mvtsa::kPolyRootsScaleLow);
  EXPECT_EQ(f.degree, 3);
  // A coefficient that is not a number is refused rather than iterated on.
  f = find_roots({1, std::nan(""), 2, 3});
  EXPECT_EQ(f.code, mvtsa::kPolyRootsScaleHigh);
}

TEST(PolyRootsCodes, CallerArrayIsLeftUnchanged) {
  std::vector<double> c = {2, -3, 0.5, 7, -1};
  const std::vector<double> copy = c;
  find_roots(c);
  EXPECT_EQ(c, copy);
}

// Random polynomials of degree 1 to 30 from random real zeros and conjugate
// pairs, moduli in [0.2, 1.25]: every zero matches a companion eigenvalue,
// and each has a small backward error.
TEST(PolyRootsRandom, MatchCompanionEigenvaluesUpToDegreeThirty) {
  std::mt19937_64 gen(20261209);
  std::uniform_real_distribution<double> mod(0.2, 1.25), ang(0.05, 3.09), coin(0, 1);
  for (int n = 1; n <= 30; ++n) {
    for (int rep = 0; rep < 4; ++rep) {
      std::vector<cplx> roots;
      // Zeros at least 0.05 apart (closer ones are the clustered cases below).
      auto apart = [&](cplx z) {
        for (const cplx& r : roots)
          if (std::abs(r - z) < 0.05) return false;
        return true;
      };
      while (int(roots.size()) < n) {
        const double m = mod(gen);
        if (int(roots.size()) + 2 <= n && coin(gen) < 0.6) {
          const cplx z = std::polar(m, ang(gen));
          if (!apart(z) || std::abs(z.imag()) < 0.025) continue;
          roots.push_back(z);
          roots.push_back(std::conj(z));
        } else {
          const cplx z(coin(gen) < 0.5 ? m : -m, 0.0);
          if (!apart(z)) continue;
          roots.push_back(z);
        }
      }
      const std::vector<double> c = from_roots(roots);
      Found f = find_roots(c);
      ASSERT_EQ(f.code, 0) << "degree " << n;
      ASSERT_EQ(f.degree, n);
      for (const cplx& z : f.z) EXPECT_LT(backward_error(c, z), 1e-11) << "degree " << n;
      // Conjugate pairs are stored adjacent, the positive imaginary part first.
      for (int i = 0; i < n; ++i)
        if (f.z[i].imag() > 0) {
          ASSERT_LT(i + 1, n);
          EXPECT_EQ(f.z[i + 1], std::conj(f.z[i]));
          ++i;
        }
      const double dist = match_distance(f.z, companion_eigenvalues(c));
      EXPECT_LT(dist, 1e-7) << "degree " << n << " rep " << rep;
    }
  }
}

// Multiple zeros are found to about eps^(1/m): 1e-6 for a double zero,
// 1e-4 for a triple one; four zeros 1e-3 apart (condition about 1e10) to 1e-5.
TEST(PolyRootsRandom, MultipleAndClusteredZeros) {
  struct Case {
    std::vector<cplx> roots;
    double tol;
  } cases[] = {
      {{0.5, 0.5, -0.3, cplx(0.1, 0.7), cplx(0.1, -0.7)}, 1e-6},
      {{0.6, 0.6, 0.6, 0.1, -0.9}, 1e-4},
      {{cplx(0.3, 0.4), cplx(0.3, -0.4), cplx(0.3, 0.4), cplx(0.3, -0.4), 0.8}, 1e-6},
      {{0.5, 0.501, 0.502, 0.503, -0.7, 0.2}, 1e-5},
      {{-1, -1, 1, 1, 2}, 1e-6},
  };
  for (const Case& c : cases) {
    const std::vector<double> coef = from_roots(c.roots);
    Found f = find_roots(coef);
    ASSERT_EQ(f.code, 0);
    EXPECT_LT(match_distance(f.z, c.roots), c.tol) << c.roots[0];
    EXPECT_LT(match_distance(f.z, companion_eigenvalues(coef)), 10 * c.tol);
  }
}

// poly_zeros: the zeros polished on the undeflated polynomial, and the
// polynomial in z^g when every power present is a multiple of g.

// The zeros of z^n - a (all of modulus |a|^(1/n)) with a = s r^n.
std::vector<cplx> zeros_of_binomial(int n, double r, double s) {
  std::vector<cplx> z;
  for (int j = 0; j < n; ++j) z.push_back(std::polar(r, (2 * j + (s < 0 ? 1 : 0)) * M_PI / n));
  return z;
}

// Degree 100 to 500 with zeros on two circles 1e-3 inside and outside the
// unit circle: (z^n1 - s1 r1^n1)(z^n2 - s2 r2^n2) with n1, n2 coprime (no
// common factor).  The deflating stages alone miss the circles by 0.006 to
// 7 in modulus for these polynomials (with s1 = s2 = 1); after polishing
// every zero is within 1e-12 of its exact value, on the right side of the
// unit circle.
TEST(PolyZeros, ModuliNearTheUnitCircleAtHighDegree) {
  struct Case {
    int n1, n2;
    double s1, s2;
  } cases[] = {{51, 50, 1, 1}, {101, 150, 1, -1}, {199, 2, -1, 1}, {333, 167, -1, -1}};
  const double inside = 1 - 1e-3, outside = 1 + 1e-3;
  for (const Case& c : cases)
    for (const bool swap : {false, true}) {
      const double r1 = swap ? outside : inside, r2 = swap ? inside : outside;
      const double a1 = c.s1 * std::pow(r1, c.n1), a2 = c.s2 * std::pow(r2, c.n2);
      const int n = c.n1 + c.n2;
      std::vector<double> coef(n + 1, 0.0);  // z^n - a2 z^n1 - a1 z^n2 + a1 a2
      coef[0] = 1;
      coef[n - c.n1] -= a2;
      coef[n - c.n2] -= a1;
      coef[n] += a1 * a2;
      std::vector<cplx> want = zeros_of_binomial(c.n1, r1, c.s1);
      for (const cplx& z : zeros_of_binomial(c.n2, r2, c.s2)) want.push_back(z);
      const std::string what = std::to_string(c.n1) + " + " + std::to_string(c.n2);
      Found f = find_zeros(coef);
      ASSERT_EQ(f.code, mvtsa::kPolyRootsOk) << what;
      ASSERT_EQ(f.degree, n) << what;
      EXPECT_LT(match_distance(f.z, want), 1e-12) << what;
      int on_first = 0;
      for (const cplx& z : f.z) {
        const double m = std::abs(z);
        EXPECT_TRUE(std::fabs(m - r1) < 1e-12 || std::fabs(m - r2) < 1e-12) << what << " " << z;
        on_first += std::fabs(m - r1) < 1e-12;
      }
      EXPECT_EQ(on_first, c.n1) << what;
      expect_conjugate_structure(f.z, what);
    }
}

TEST(PolyZeros, CommonPowerFactorGivesTheRootsOfTheReducedPolynomial) {
  // z^100 - 0.5 and z^100 + 0.5: degree 1 in w = z^100.
  for (const double s : {1.0, -1.0}) {
    std::vector<double> c(101, 0.0);
    c[0] = 1;
    c[100] = -0.5 * s;
    Found f = find_zeros(c);
    ASSERT_EQ(f.code, 0);
    EXPECT_LT(match_distance(f.z, zeros_of_binomial(100, std::pow(0.5, 0.01), s)), 4e-15);
    expect_conjugate_structure(f.z, "z^100 -+ 0.5");
  }
  // Q(w) from chosen zeros (real, negative, a pair), then P(z) = z^s Q(z^g):
  // the zeros against the companion eigenvalues of P.
  const std::vector<cplx> w = {0.7, -0.4, cplx(0.2, 0.5), cplx(0.2, -0.5), -0.9};
  const std::vector<double> q = from_roots(w);
  for (const int g : {2, 3, 7})
    for (const int s : {0, 2}) {
      std::vector<double> c((q.size() - 1) * g + 1 + s, 0.0);
      for (std::size_t j = 0; j < q.size(); ++j) c[j * g] = q[j];
      Found f = find_zeros(c);
      ASSERT_EQ(f.code, 0) << g;
      ASSERT_EQ(f.degree, int(c.size()) - 1) << g;
      for (int i = 0; i < s; ++i) EXPECT_EQ(f.z[i], cplx(0, 0));
      std::vector<cplx> rest(f.z.begin() + s, f.z.end());
      std::vector<double> no_origin(c.begin(), c.end() - s);
      EXPECT_LT(match_distance(rest, companion_eigenvalues(no_origin)), 1e-12) << g;
      expect_conjugate_structure(rest, "g = " + std::to_string(g));
    }
  // A double zero of Q gives g double zeros, exactly equal in pairs (the
  // repeated-root test of the model functions relies on it).
  Found f = find_zeros({1, 0, 0, -1, 0, 0, 0.25});  // (z^3 - 0.5)^2
  ASSERT_EQ(f.code, 0);
  for (const cplx& z : f.z)
    EXPECT_EQ(std::count(f.z.begin(), f.z.end(), z), 2) << z;
}

TEST(PolyZeros, LowDegreeZerosAreAtWorkingAccuracy) {
  // Random degree 3 to 30 polynomials from zeros of moduli 0.2 to 1.25: the
  // polished zeros have backward errors at the rounding level, match the
  // companion eigenvalues and keep the conjugate structure.
  std::mt19937_64 gen(7);
  std::uniform_real_distribution<double> mod(0.2, 1.25), ang(0.1, 3.0), coin(0, 1);
  for (int n = 3; n <= 30; ++n) {
    std::vector<cplx> roots;
    while (int(roots.size()) < n) {
      const cplx z = std::polar(mod(gen), ang(gen));
      if (int(roots.size()) + 2 <= n && coin(gen) < 0.6) {
        roots.push_back(z);
        roots.push_back(std::conj(z));
      } else {
        roots.push_back(std::abs(z) * (coin(gen) < 0.5 ? 1 : -1));
      }
    }
    const std::vector<double> c = from_roots(roots);
    Found f = find_zeros(c);
    ASSERT_EQ(f.code, 0) << n;
    for (const cplx& z : f.z) EXPECT_LT(backward_error(c, z), 1e-14) << n;
    EXPECT_LT(match_distance(f.z, companion_eigenvalues(c)), 1e-6) << n;
    expect_conjugate_structure(f.z, std::to_string(n));
  }
  // Multiple and clustered zeros still come out to their conditioning.
  const std::vector<cplx> triple = {0.6, 0.6, 0.6, 0.1, -0.9};
  Found f = find_zeros(from_roots(triple));
  ASSERT_EQ(f.code, 0);
  EXPECT_LT(match_distance(f.z, triple), 1e-4);
}

TEST(PolyZeros, CodesOfTheRootFinder) {
  Found f = find_zeros({0, 1, 2});
  EXPECT_EQ(f.code, mvtsa::kPolyRootsLeadingZero);
  EXPECT_EQ(f.degree, 0);
  f = find_zeros({1e160, 1, 2, 3});
  EXPECT_EQ(f.code, mvtsa::kPolyRootsScaleHigh);
  EXPECT_EQ(f.degree, 3);
  f = find_zeros({1, std::nan(""), 2, 3});
  EXPECT_EQ(f.code, mvtsa::kPolyRootsScaleHigh);
  // Through the reduced polynomial (g = 2): nothing reported but the origin.
  f = find_zeros({1e-160, 0, 1e-160, 0, 2e-160, 0, 3e-160, 0});
  EXPECT_EQ(f.code, mvtsa::kPolyRootsScaleLow);
  EXPECT_EQ(f.degree, 7);
  for (const cplx& z : f.z) EXPECT_EQ(z, cplx(0, 0));
  // Degrees 1 and 2 and only zeros at the origin.
  f = find_zeros({2, -1});
  EXPECT_EQ(f.z[0], cplx(0.5, 0));
  f = find_zeros({1, 0, 0});
  ASSERT_EQ(f.code, 0);
  EXPECT_EQ(f.z[1], cplx(0, 0));
}

}  // namespace
