// The vector-kernel wrappers: results, strides, the inline short path and the
// floating-point environment around each call.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <vector>

#include "host/host.hpp"
#include "module/blas/blas.hpp"
#include "module/frame/entries.hpp"

namespace {

TEST(Blas, DotAndAxpyWithUnitAndOtherStrides) {
  std::vector<double> x(12), y(12);
  for (int i = 0; i < 12; ++i) {
    x[i] = 0.5 * i - 2;
    y[i] = 1.0 / (i + 1);
  }
  for (int n : {1, 2, 3, 5}) {
    for (int inc : {1, 2}) {
      double ref = 0;
      for (int i = 0; i < n; ++i) ref += x[i * inc] * y[i * inc];
      EXPECT_DOUBLE_EQ(mvtsa::blas_ddot(n, x.data(), inc, y.data(), inc), ref) << n << " " << inc;
      std::vector<double> z = y, zr = y;
      for (int i = 0; i < n; ++i) zr[i * inc] += 1.5 * x[i * inc];
      EXPECT_EQ(mvtsa::blas_daxpy(n, 1.5, x.data(), inc, z.data(), inc), mvtsa::kFpNone);
      for (int i = 0; i < 12; ++i) EXPECT_DOUBLE_EQ(z[i], zr[i]);
    }
  }
  EXPECT_EQ(mvtsa::blas_ddot(0, x.data(), y.data()), 0.0);
}

TEST(Blas, IdamaxIsZeroBasedAndTakesTheFirstLargest) {
  const double x[6] = {1, -7, 3, 7, 0, -7};
  EXPECT_EQ(mvtsa::blas_idamax(6, x, 1), 1);
  EXPECT_EQ(mvtsa::blas_idamax(3, x, 2), 1);  // 1, 3, 0
  EXPECT_EQ(mvtsa::blas_idamax(0, x, 1), -1);
}

TEST(Blas, FaultInsideTheCallIsRecordedAndTheEnvironmentRestored) {
  mvtsa::clear_fp_fault();
  std::feclearexcept(FE_ALL_EXCEPT);
  std::fesetround(FE_DOWNWARD);
  std::feraiseexcept(FE_INEXACT);  // a flag of the caller's own
  const double big[3] = {1e300, 1e300, 1e300};
  const double r = mvtsa::blas_ddot(3, big, big);
  EXPECT_GT(r, 1e307);  // rounded downward: the largest double, not infinity
  EXPECT_EQ(mvtsa::fp_fault(), mvtsa::kFpOverflow);
  EXPECT_EQ(std::fegetround(), FE_DOWNWARD);
  EXPECT_TRUE(std::fetestexcept(FE_INEXACT));
  EXPECT_FALSE(std::fetestexcept(FE_OVERFLOW));  // the call's flag does not leak out
  EXPECT_EQ(fegetexcept(), 0);                   // no trap left enabled
  std::fesetround(FE_TONEAREST);
  std::feclearexcept(FE_ALL_EXCEPT);
  mvtsa::clear_fp_fault();

  // Invalid operation: infinity times zero.
  const double a[3] = {INFINITY, 1, 1}, b[3] = {0, 1, 1};
  (void)mvtsa::blas_ddot(3, a, b);
  EXPECT_EQ(mvtsa::fp_fault(), mvtsa::kFpInvalid);
  mvtsa::clear_fp_fault();
  // Quiet NaNs propagate without a fault.
  const double q[3] = {NAN, 1, 1};
  EXPECT_TRUE(std::isnan(mvtsa::blas_ddot(3, q, b)));
  EXPECT_EQ(mvtsa::fp_fault(), mvtsa::kFpNone);
}

TEST(Blas, EntryGuardTurnsAFaultIntoAHostErrorAndStatusOne) {
  mvts::Host host;
  host.activate();
  mvtsa::set_host_table(host.table());
  const double big[4] = {1e200, 1e200, 1e200, 1e200};
  const int status = mvtsa::run_entry([&] {
    (void)mvtsa::blas_ddot(4, big, big);
    return 0;
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(host.current().raised_error, MCN_ERROR_FLOATING_POINT);
  EXPECT_EQ(mvtsa::fp_fault(), mvtsa::kFpNone);  // cleared for the next call
  EXPECT_EQ(mvtsa::run_entry([] { return 0; }), 0);
}

}  // namespace
