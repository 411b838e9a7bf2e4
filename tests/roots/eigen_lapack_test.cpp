// general_eigenvalues against LAPACK's expert driver dgeevx on 1020 matrices
// of orders 1 to 80: dense Gaussian, companion matrices of random VARMA
// polynomials, repeated and clustered eigenvalues, matrices scaled by
// 1e-140 and 1e140, triangular and partly reducible ones, and defective
// double roots.
//
// Tolerance.  Both solvers are backward stable: each returns the exact
// eigenvalues of A + E with ||E|| a modest multiple of n u ||B||, B the
// balanced matrix.  To first order an eigenvalue then moves by at most
// ||E|| / s_i, s_i = |y_i' x_i| the reciprocal condition number of the
// eigenvalue (dgeevx's RCONDE, for the balanced matrix; ABNRM = ||B||_1).
// Each of our eigenvalues must therefore lie within
//     tol_i = 100 n u ABNRM / RCONDE_i
// of a distinct LAPACK eigenvalue.  The factor 100 covers the two solvers'
// constants and their different balancing (radix 10 here, radix 2 there);
// the largest observed ratio |ours - LAPACK| / tol_i over the whole set is
// printed and stays below 0.05.  For the defective double roots the
// first-order bound still holds in this form because RCONDE of a computed
// Jordan pair is itself of order sqrt(u).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <random>
#include <vector>

#include "module/linalg/general_eigenvalues.hpp"

extern "C" {
void dgeevx_(const char* balanc, const char* jobvl, const char* jobvr, const char* sense,
             const int* n, double* a, const int* lda, double* wr, double* wi, double* vl,
             const int* ldvl, double* vr, const int* ldvr, int* ilo, int* ihi, double* scale,
             double* abnrm, double* rconde, double* rcondv, double* work, const int* lwork,
             int* iwork, int* info, std::size_t, std::size_t, std::size_t, std::size_t);
void dgeev_(const char* jobvl, const char* jobvr, const int* n, double* a, const int* lda,
            double* wr, double* wi, double* vl, const int* ldvl, double* vr, const int* ldvr,
            double* work, const int* lwork, int* info, std::size_t, std::size_t);
}

namespace {

using Vec = std::vector<double>;
using cd = std::complex<double>;
constexpr double kU = 0x1p-53;
constexpr double kTau = mvtsa::kEigSortTol;

struct Reference {
  Vec wr, wi, tol;
};

// LAPACK eigenvalues and first-order error bounds.  LAPACK reads column
// major, so it sees the transpose of the row-major matrix: same eigenvalues.
bool lapack_reference(int n, Vec a, Reference* ref) {
  ref->wr.assign(n, 0.0);
  ref->wi.assign(n, 0.0);
  ref->tol.assign(n, 0.0);
  Vec vl(std::size_t(n) * n), vr(std::size_t(n) * n), scale(n), rconde(n), rcondv(n);
  std::vector<int> iwork(2 * n);
  int ilo = 0, ihi = 0, info = 0, lwork = -1;
  double abnrm = 0.0, query = 0.0;
  dgeevx_("B", "V", "V", "E", &n, a.data(), &n, ref->wr.data(), ref->wi.data(), vl.data(), &n,
          vr.data(), &n, &ilo, &ihi, scale.data(), &abnrm, rconde.data(), rcondv.data(), &query,
          &lwork, iwork.data(), &info, 1, 1, 1, 1);
  lwork = static_cast<int>(query);
  Vec work(lwork);
  dgeevx_("B", "V", "V", "E", &n, a.data(), &n, ref->wr.data(), ref->wi.data(), vl.data(), &n,
          vr.data(), &n, &ilo, &ihi, scale.data(), &abnrm, rconde.data(), rcondv.data(),
          work.data(), &lwork, iwork.data(), &info, 1, 1, 1, 1);
  if (info != 0) return false;
  for (int i = 0; i < n; ++i) {
    const double s = std::max(rconde[i], 1e-300);
    ref->tol[i] = 100.0 * n * kU * abnrm / s;
    if (abnrm == 0.0) ref->tol[i] = 1e-300;
  }
  return true;
}

struct Check {
  int matrices = 0;
  int above_crossover = 0;
  int complex_pairs = 0;
  double worst = 0.0;  // largest |ours - LAPACK| / tol
};

// Runs one matrix through both solvers and checks values and ordering.
void check(const char* family, int n, const Vec& a, Check* c) {
  Reference ref;
  ASSERT_TRUE(lapack_reference(n, a, &ref)) << family << " n=" << n;
  Vec copy = a, wr(n), wi(n), work(mvtsa::general_eigenvalues_work(n));
  const int st = mvtsa::general_eigenvalues(n, copy.data(), n, wr.data(), wi.data(), work.data());
  if (st != 0) { FILE* f = std::fopen("/tmp/roots_fail.txt", "w"); std::fprintf(f, "%d\n", n); for (double x : a) std::fprintf(f, "%.17g\n", x); std::fclose(f); }
  ASSERT_EQ(st, 0) << family << " n=" << n;
  ++c->matrices;
  if (n > mvtsa::kEigCrossover) ++c->above_crossover;

  // Multiset match: reference eigenvalues, tightest tolerance first, each
  // take the nearest unused one of ours.
  std::vector<int> order(n);
  for (int i = 0; i < n; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](int x, int y) { return ref.tol[x] < ref.tol[y]; });
  std::vector<bool> used(n, false);
  for (int i : order) {
    const cd want(ref.wr[i], ref.wi[i]);
    int best = -1;
    double dist = 0.0;
    for (int j = 0; j < n; ++j) {
      if (used[j]) continue;
      const double d = std::abs(cd(wr[j], wi[j]) - want);
      if (best < 0 || d < dist) best = j, dist = d;
    }
    used[best] = true;
    const double ratio = dist / ref.tol[i];
    c->worst = std::max(c->worst, ratio);
    ASSERT_LE(ratio, 1.0) << family << " n=" << n << ": LAPACK " << want << " nearest "
                          << cd(wr[best], wi[best]) << " tol " << ref.tol[i];
  }

  // Ordering: real parts descending; an increase is allowed only inside a
  // tie (real parts chaining within tau), where |imaginary part| descends;
  // conjugate pairs adjacent with the positive part first.
  for (int i = 0; i + 1 < n; ++i) {
    if (wr[i + 1] > wr[i]) {
      ASSERT_LT(wr[i + 1] - wr[i], 16 * kTau) << family << " n=" << n << " at " << i;
      ASSERT_GE(std::fabs(wi[i]), std::fabs(wi[i + 1])) << family << " n=" << n << " at " << i;
    }
  }
  for (int i = 0; i < n; ++i) {
    if (wi[i] == 0.0) continue;
    ASSERT_GT(wi[i], 0.0) << family << " n=" << n << ": pair led by a negative part at " << i;
    ASSERT_LT(i + 1, n) << family;
    ASSERT_EQ(wr[i + 1], wr[i]) << family << " n=" << n << " at " << i;
    ASSERT_EQ(wi[i + 1], -wi[i]) << family << " n=" << n << " at " << i;
    ++c->complex_pairs;
    ++i;
  }
}

// Orthogonal Q = H1 H2 from two random Householder reflectors (dense).
Vec random_orthogonal(int n, std::mt19937_64& rng) {
  std::normal_distribution<double> z;
  Vec q(std::size_t(n) * n, 0.0);
  for (int i = 0; i < n; ++i) q[i * n + i] = 1.0;
  for (int r = 0; r < 2; ++r) {
    Vec v(n);
    double vv = 0.0;
    for (double& x : v) x = z(rng), vv += x * x;
    // q := q (I - 2 v v' / v'v)
    for (int i = 0; i < n; ++i) {
      double s = 0.0;
      for (int j = 0; j < n; ++j) s += q[i * n + j] * v[j];
      for (int j = 0; j < n; ++j) q[i * n + j] -= 2.0 * s * v[j] / vv;
    }
  }
  return q;
}

// Q B Q' for orthogonal Q: a normal matrix when B is block diagonal with
// 1 x 1 blocks and 2 x 2 rotation-scaling blocks.
Vec similar(int n, const Vec& b, const Vec& q) {
  Vec t(std::size_t(n) * n, 0.0), a(std::size_t(n) * n, 0.0);
  for (int i = 0; i < n; ++i)
    for (int l = 0; l < n; ++l)
      for (int j = 0; j < n; ++j) t[i * n + j] += q[i * n + l] * b[l * n + j];
  for (int i = 0; i < n; ++i)
    for (int l = 0; l < n; ++l)
      for (int j = 0; j < n; ++j) a[i * n + j] += t[i * n + l] * q[j * n + l];
  return a;
}

// Block diagonal B from a list of eigenvalues (re, im >= 0): a pair takes a
// 2 x 2 block [[re, -im], [im, re]].
Vec block_diagonal(int n, const std::vector<cd>& values) {
  Vec b(std::size_t(n) * n, 0.0);
  int at = 0;
  for (const cd& v : values) {
    if (at >= n) break;
    if (v.imag() != 0.0 && at + 1 < n) {
      b[at * n + at] = b[(at + 1) * n + at + 1] = v.real();
      b[at * n + at + 1] = -v.imag();
      b[(at + 1) * n + at] = v.imag();
      at += 2;
    } else {
      b[at * n + at] = v.real();
      at += 1;
    }
  }
  return b;
}

// Companion matrix of I - Phi_1 z - ... - Phi_p z^p (row-major, m = k p).
Vec companion(int k, int p, const Vec& phi) {
  const int m = k * p;
  Vec c(std::size_t(m) * m, 0.0);
  for (int i = 0; i < k; ++i)
    for (int j = 0; j < p; ++j)
      for (int l = 0; l < k; ++l) c[i * m + j * k + l] = phi[j * k * k + i * k + l];
  for (int j = 0; j < m - k; ++j) c[(k + j) * m + j] = 1.0;
  return c;
}

TEST(GeneralEigenvaluesLapack, ThousandMatricesAgreeAndAreOrdered) {
  std::mt19937_64 rng(20240611);
  std::normal_distribution<double> z;
  std::uniform_int_distribution<int> order(1, 80);
  Check c;

  // 1. Dense Gaussian (300).
  for (int t = 0; t < 300; ++t) {
    const int n = t < 40 ? 51 + t % 30 : order(rng);
    Vec a(std::size_t(n) * n);
    for (double& x : a) x = z(rng);
    check("gaussian", n, a, &c);
    if (HasFatalFailure()) return;
  }
  // 2. Companion matrices of random VARMA polynomials (300), orders up to 80.
  for (int t = 0; t < 300; ++t) {
    const int k = 1 + t % 4;
    const int p = std::uniform_int_distribution<int>(1, 80 / k)(rng);
    const double s = (t % 3 == 0 ? 0.9 : 0.4) / std::sqrt(double(k) * p);
    Vec phi(std::size_t(k) * k * p);
    for (double& x : phi) x = s * z(rng);
    check("companion", k * p, companion(k, p, phi), &c);
    if (HasFatalFailure()) return;
  }
  // 3. Repeated eigenvalues, real and complex, in a normal matrix (150).
  const std::vector<cd> pool = {{-0.5, 0}, {0.3, 0.4}, {1.0, 0}, {0.0, 0.7}, {0.3, 0}};
  for (int t = 0; t < 150; ++t) {
    const int n = order(rng);
    std::vector<cd> values;
    while (int(values.size()) < n) values.push_back(pool[rng() % pool.size()]);
    check("repeated", n, similar(n, block_diagonal(n, values), random_orthogonal(n, rng)), &c);
    if (HasFatalFailure()) return;
  }
  // 4. Clustered eigenvalues 0.5 + 1e-9 j and pairs 0.2 + 1e-9 j +- 0.6i (100).
  for (int t = 0; t < 100; ++t) {
    const int n = order(rng);
    std::vector<cd> values;
    for (int j = 0; int(values.size()) < n; ++j)
      values.push_back(j % 3 == 2 ? cd(0.2 + 1e-9 * j, 0.6) : cd(0.5 + 1e-9 * j, 0.0));
    check("clustered", n, similar(n, block_diagonal(n, values), random_orthogonal(n, rng)), &c);
    if (HasFatalFailure()) return;
  }
  // 5. Gaussian and companion matrices scaled by 1e-140 and 1e140 (100).
  for (int t = 0; t < 100; ++t) {
    const int n = order(rng);
    Vec a;
    if (t % 2 == 0) {
      a.resize(std::size_t(n) * n);
      for (double& x : a) x = z(rng);
    } else {
      Vec phi(n);
      for (double& x : phi) x = 0.5 / std::sqrt(double(n)) * z(rng);
      a = companion(1, n, phi);
    }
    const double s = t % 4 < 2 ? 1e-140 : 1e140;
    for (double& x : a) x *= s;
    check(s < 1 ? "scaled 1e-140" : "scaled 1e140", n, a, &c);
    if (HasFatalFailure()) return;
  }
  // 6. Triangular, and dense with rows and columns that isolate eigenvalues,
  //    symmetrically permuted (50).
  for (int t = 0; t < 50; ++t) {
    const int n = order(rng);
    Vec a(std::size_t(n) * n);
    for (double& x : a) x = z(rng);
    if (t < 20) {
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < i; ++j) a[(t % 2 ? i * n + j : j * n + i)] = 0.0;
    } else {
      for (int r = 0; r < n / 4; ++r) {
        const int i = int(rng() % n);
        for (int j = 0; j < n; ++j)
          if (j != i) a[(r % 2 ? i * n + j : j * n + i)] = 0.0;
      }
      std::vector<int> perm(n);
      for (int i = 0; i < n; ++i) perm[i] = i;
      std::shuffle(perm.begin(), perm.end(), rng);
      Vec b(a.size());
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) b[perm[i] * n + perm[j]] = a[i * n + j];
      a.swap(b);
    }
    check("reducible", n, a, &c);
    if (HasFatalFailure()) return;
  }
  // 7. Defective double roots: (1 - r z)^2 (1 - s z) ... as scalar companions (20).
  for (int t = 0; t < 20; ++t) {
    // (1 - 0.5 z)^2 (1 + 0.3 z)^(t % 3): coefficients by convolution.
    Vec poly = {1.0};
    auto times = [&](double r) {  // multiply by (1 - r z)
      Vec out(poly.size() + 1, 0.0);
      for (std::size_t i = 0; i < poly.size(); ++i) {
        out[i] += poly[i];
        out[i + 1] -= r * poly[i];
      }
      poly = out;
    };
    times(0.5);
    times(0.5);
    for (int j = 0; j < t % 3; ++j) times(-0.3);
    for (int j = 0; j < t / 3; ++j) times(0.1 * (j + 1));
    const int p = int(poly.size()) - 1;
    Vec phi(p);
    for (int j = 0; j < p; ++j) phi[j] = -poly[j + 1];
    check("defective", p, companion(1, p, phi), &c);
    if (HasFatalFailure()) return;
  }

  EXPECT_GE(c.matrices, 1000);
  EXPECT_GE(c.above_crossover, 100);
  EXPECT_GE(c.complex_pairs, 1000);
  EXPECT_LT(c.worst, 0.05);
  std::printf("matrices %d (above order 50: %d), complex pairs %d, worst |diff|/tol %.3g\n",
              c.matrices, c.above_crossover, c.complex_pairs, c.worst);
}

TEST(GeneralEigenvaluesLapack, PlainDriverAgreesOnCompanionOfOrder200) {
  // One large companion matrix (the multishift path for most of the
  // iteration) against the plain driver dgeev.
  std::mt19937_64 rng(7);
  std::normal_distribution<double> z;
  const int n = 200;
  Vec phi(n);
  for (double& x : phi) x = 0.3 / std::sqrt(double(n)) * z(rng);
  const Vec a = companion(1, n, phi);
  Vec la = a, lwr(n), lwi(n), lwork(8 * n);
  int info = 0, lw = 8 * n, one = 1;
  double dummy = 0.0;
  dgeev_("N", "N", &n, la.data(), &n, lwr.data(), lwi.data(), &dummy, &one, &dummy, &one,
         lwork.data(), &lw, &info, 1, 1);
  ASSERT_EQ(info, 0);
  Vec copy = a, wr(n), wi(n), work(mvtsa::general_eigenvalues_work(n));
  ASSERT_EQ(mvtsa::general_eigenvalues(n, copy.data(), n, wr.data(), wi.data(), work.data()), 0);
  // Roots of a random polynomial of degree 200 cluster near a circle and are
  // moderately conditioned: 1e-9 absolute.
  std::vector<bool> used(n, false);
  for (int i = 0; i < n; ++i) {
    int best = -1;
    double dist = 0.0;
    for (int j = 0; j < n; ++j) {
      if (used[j]) continue;
      const double d = std::abs(cd(wr[j], wi[j]) - cd(lwr[i], lwi[i]));
      if (best < 0 || d < dist) best = j, dist = d;
    }
    used[best] = true;
    EXPECT_LT(dist, 1e-9) << i;
  }
}

}  // namespace
