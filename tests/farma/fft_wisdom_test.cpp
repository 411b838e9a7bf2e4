// The build's FFTW wisdom: it holds a plan for every length the convolution
// uses up to 2^22, and each is the plan this machine's planner makes without
// it (the same codelets in the same order), so taking it leaves every
// result's bits as they were.
#include <gtest/gtest.h>
#include <fftw3.h>

#include <cstdlib>
#include <string>

#include "module/farma/fft_convolve.hpp"

namespace {

// The description of the estimated in-place forward and inverse plans of
// length N on 64-byte aligned arrays, or "" when the flags make no plan.
std::string plan_text(int N, unsigned flags) {
  double* buf = fftw_alloc_real(std::size_t((N + 2 + 7) / 8 * 8));
  auto* spectrum = reinterpret_cast<fftw_complex*>(buf);
  std::string out;
  fftw_plan f = fftw_plan_dft_r2c_1d(N, buf, spectrum, FFTW_ESTIMATE | flags);
  fftw_plan g = fftw_plan_dft_c2r_1d(N, spectrum, buf, FFTW_ESTIMATE | flags);
  if (f && g) {
    char* a = fftw_sprint_plan(f);
    char* b = fftw_sprint_plan(g);
    out = std::string(a) + "\n" + b;
    std::free(a);
    std::free(b);
  }
  if (f) fftw_destroy_plan(f);
  if (g) fftw_destroy_plan(g);
  fftw_free(buf);
  return out;
}

TEST(FftWisdom, HoldsThePlansThePlannerMakesForEveryLength) {
  for (int base : {1, 3, 5})
    for (int N = base * 4096; N <= (1 << 22); N *= 2) {
      SCOPED_TRACE("N = " + std::to_string(N));
      fftw_forget_wisdom();
      const std::string planned = plan_text(N, 0);
      ASSERT_FALSE(planned.empty());
      fftw_forget_wisdom();
      ASSERT_EQ(fftw_import_wisdom_from_string(mvtsa::fft_build_wisdom()), 1);
      // Wisdom only: a length the wisdom lacks would make no plan.
      EXPECT_EQ(plan_text(N, FFTW_WISDOM_ONLY), planned);
    }
  fftw_forget_wisdom();
}

// Lengths the convolution never uses are not in the wisdom.
TEST(FftWisdom, HoldsNoOtherLength) {
  fftw_forget_wisdom();
  ASSERT_EQ(fftw_import_wisdom_from_string(mvtsa::fft_build_wisdom()), 1);
  EXPECT_EQ(plan_text(7 * 4096, FFTW_WISDOM_ONLY), "");
  fftw_forget_wisdom();
}

}  // namespace
