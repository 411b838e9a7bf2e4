#include "module/farma/fft_convolve.hpp"

#include <fftw3.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace mvtsa {
namespace {

// The wisdom of the estimated plans of every length this file uses up to
// 2^22, made at build time (tools/make_fft_wisdom.cpp), and the
// description of the plan of length 1024 on the build machine.
#include "fft_wisdom.inc"

// Planning a length from 4096 on takes milliseconds (30 ms at 32768), more
// than the convolution itself: the wisdom is taken, once, before the first
// such plan.  Shorter lengths plan faster than the wisdom is read (3 ms).
constexpr std::int64_t kWisdomFrom = 4096;

// Takes the build's wisdom where this machine's planner makes the build
// machine's plan of length 1024 (the same vector units): the plans are then
// those this process would make by planning, so results keep their bits.
void take_wisdom() {
  double* buf = fftw_alloc_real(1032);
  if (!buf) return;
  fftw_plan probe = fftw_plan_dft_r2c_1d(1024, buf, reinterpret_cast<fftw_complex*>(buf),
                                         FFTW_ESTIMATE);
  char* text = probe ? fftw_sprint_plan(probe) : nullptr;
  if (text && std::strcmp(text, kFftProbePlan) == 0) fftw_import_wisdom_from_string(kFftWisdom);
  std::free(text);
  if (probe) fftw_destroy_plan(probe);
  fftw_free(buf);
}

// Plans for this many transform lengths are kept (the least recently used
// idle one makes room): the superfast Toeplitz route holds one length per
// level of its recursion (up to 24) beside the convolution's own.
constexpr int kPlanSlots = 40;

// The half-complex arrays start on 64-byte boundaries.
constexpr std::uintptr_t kAlignBytes = 64;

// Doubles per array: N + 2 (N / 2 + 1 complex values) rounded up to a
// multiple of 8, so that the second array is aligned as the first.
std::int64_t array_stride(std::int64_t N) { return (N + 2 + 7) / 8 * 8; }

double* align_up(double* p) {
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  return reinterpret_cast<double*>((at + kAlignBytes - 1) & ~(kAlignBytes - 1));
}

// A forward (real to half-complex) and an inverse plan of one length, both
// in place on 64-byte aligned arrays.
struct PlanPair {
  std::int64_t length = 0;
  fftw_plan fwd = nullptr;
  fftw_plan inv = nullptr;
  int users = 0;
  std::uint64_t last_use = 0;
};

class PlanCache {
 public:
  ~PlanCache() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (PlanPair& s : slots_) destroy(&s);
  }

  // The plans for length N, made on buf (2 * array_stride(N) doubles,
  // aligned) when not cached.  A pair that no free slot can hold is handed
  // out with length 0 and destroyed on release.  false when FFTW makes no
  // plan.
  bool acquire(std::int64_t N, double* buf, PlanPair* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++clock_;
    for (PlanPair& s : slots_) {
      if (s.length == N && s.fwd) {
        ++s.users;
        s.last_use = clock_;
        *out = s;
        return true;
      }
    }
    static std::once_flag once, wisdom;
    std::call_once(once, [] { fftw_make_planner_thread_safe(); });
    if (N >= kWisdomFrom) std::call_once(wisdom, take_wisdom);
    PlanPair made;
    const int n = static_cast<int>(N);
    auto* spectrum = reinterpret_cast<fftw_complex*>(buf);
    made.fwd = fftw_plan_dft_r2c_1d(n, buf, spectrum, FFTW_ESTIMATE);
    made.inv = fftw_plan_dft_c2r_1d(n, spectrum, buf, FFTW_ESTIMATE);
    if (!made.fwd || !made.inv) {
      destroy(&made);
      return false;
    }
    PlanPair* slot = nullptr;
    for (PlanPair& s : slots_)
      if (s.users == 0 && (!slot || s.last_use < slot->last_use)) slot = &s;
    if (slot) {
      destroy(slot);
      made.length = N;
      made.users = 1;
      made.last_use = clock_;
      *slot = made;
    }
    *out = made;  // length 0 when not cached
    return true;
  }

  void release(const PlanPair& p) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (p.length == 0) {
      PlanPair own = p;
      destroy(&own);
      return;
    }
    for (PlanPair& s : slots_)
      if (s.fwd == p.fwd) --s.users;
  }

 private:
  static void destroy(PlanPair* p) {
    if (p->fwd) fftw_destroy_plan(p->fwd);
    if (p->inv) fftw_destroy_plan(p->inv);
    *p = PlanPair{};
  }

  std::mutex mutex_;
  PlanPair slots_[kPlanSlots];
  std::uint64_t clock_ = 0;
};

PlanCache& plan_cache() {
  static PlanCache cache;
  return cache;
}

}  // namespace

const char* fft_build_wisdom() { return kFftWisdom; }

std::int64_t fft_convolve_length(std::int64_t n) {
  return fft_nice_length(n < 2 ? 2 : 2 * n - 1);
}

std::int64_t fft_nice_length(std::int64_t m) {
  std::int64_t p = 1;
  while (p < m) p *= 2;
  std::int64_t best = p;
  for (std::int64_t f : {3, 5}) {
    std::int64_t q = f;
    while (q < m) q *= 2;
    best = std::min(best, q);
  }
  return best;
}

std::int64_t fft_array_stride(std::int64_t N) { return array_stride(N); }
double* fft_align(double* p) { return align_up(p); }

FftPlans::~FftPlans() { release(); }

bool FftPlans::acquire(std::int64_t N, double* buf) {
  release();
  if (N < 1 || N > INT_MAX) return false;
  PlanPair p;
  if (!plan_cache().acquire(N, buf, &p)) return false;
  length_ = N;
  cached_ = p.length;
  fwd_ = p.fwd;
  inv_ = p.inv;
  return true;
}

void FftPlans::release() {
  if (!fwd_) return;
  PlanPair p;
  p.length = cached_;
  p.fwd = static_cast<fftw_plan>(fwd_);
  p.inv = static_cast<fftw_plan>(inv_);
  plan_cache().release(p);
  fwd_ = inv_ = nullptr;
  length_ = cached_ = 0;
}

void FftPlans::forward(double* x) const {
  fftw_execute_dft_r2c(static_cast<fftw_plan>(fwd_), x, reinterpret_cast<fftw_complex*>(x));
}

void FftPlans::inverse(double* x) const {
  fftw_execute_dft_c2r(static_cast<fftw_plan>(inv_), reinterpret_cast<fftw_complex*>(x), x);
}

std::int64_t fft_convolve_work_size(std::int64_t n) {
  return 2 * array_stride(fft_convolve_length(n)) + std::int64_t(kAlignBytes / sizeof(double));
}

bool fft_convolve_head(double* out, const double* a, const double* b, std::int64_t n,
                       double* work) {
  const std::int64_t N = fft_convolve_length(n);
  if (n < 1 || N > INT_MAX) return false;
  const std::int64_t stride = array_stride(N);
  double* A = align_up(work);
  double* B = A + stride;
  PlanPair plans;
  if (!plan_cache().acquire(N, A, &plans)) return false;
  // a and b zero-padded to N, transformed in place: A_k, B_k, k = 0..N/2.
  std::copy_n(a, n, A);
  std::fill(A + n, A + stride, 0.0);
  std::copy_n(b, n, B);
  std::fill(B + n, B + stride, 0.0);
  auto* Ac = reinterpret_cast<fftw_complex*>(A);
  auto* Bc = reinterpret_cast<fftw_complex*>(B);
  fftw_execute_dft_r2c(plans.fwd, A, Ac);
  fftw_execute_dft_r2c(plans.fwd, B, Bc);
  // B_k <- A_k B_k / N, then the unnormalised inverse transform.
  const double scale = 1.0 / double(N);
  for (std::int64_t k = 0; k <= N / 2; ++k) {
    const double ar = A[2 * k], ai = A[2 * k + 1], br = B[2 * k], bi = B[2 * k + 1];
    B[2 * k] = (ar * br - ai * bi) * scale;
    B[2 * k + 1] = (ar * bi + ai * br) * scale;
  }
  fftw_execute_dft_c2r(plans.inv, Bc, B);
  plan_cache().release(plans);
  std::copy_n(B, n, out);
  return true;
}

}  // namespace mvtsa
