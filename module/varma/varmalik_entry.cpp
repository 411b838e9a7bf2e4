// VARMALIK(series, phi, theta, sigma, p, q, method) -> 3 x 1 (log-likelihood,
// sum of log-determinants D, sum of quadratic forms S) by the innovations
// algorithm (0), the conditional likelihood (1) or the Kalman filter (2).
#include <cmath>
#include <cstring>

#include "module/frame/args.hpp"
#include "module/frame/entries.hpp"
#include "module/linalg/companion_roots.hpp"
#include "module/linalg/covariance.hpp"
#include "module/varma/varma_autocov.hpp"
#include "module/varma/varma_cond.hpp"
#include "module/varma/varma_innov.hpp"
#include "module/varma/varma_kalman.hpp"

namespace mvtsa {
namespace {

enum { kSeries = 0, kPhi = 1, kTheta = 2, kSigma = 3, kArLags = 4, kMaLags = 5, kMethod = 6 };
enum { kMethodInnovations = 0, kMethodConditional = 1, kMethodKalman = 2 };

// theta: the coefficient-matrix checks without the no-value test, so that a
// theta holding no value meets the row and column tests (message 350).
int check_theta(const ArgList& in, int* dim, MatrixArg* m, int* blocks) {
  get_arg_matrix(in.slot(kTheta), m);
  if (m->type >= 0) return kStatusCharacter;
  if (has_missing(in.slot(kTheta))) return kStatusMissing;
  if (m->rows < 1 || m->cols < 1) return fail_message(kMsgDimension);
  if (!(m->rows > 1 && m->cols > 1)) return fail_message(kMsgShape, {shape_word(*m), "matrix"});
  if (m->rows % m->cols != 0) return fail_message(kMsgNotMultiple, {"MA"});
  if (*dim != 0 && m->cols != *dim) return fail_message(kMsgDisagree);
  // A host that reports a shape but no values must not be read from.
  if (m->data == nullptr) return kStatusNoValue;
  *blocks = m->rows / m->cols;
  return kStatusOk;
}

// Method: numeric, no missing value, not a matrix; the first element in
// [0, 2], its integer part the method.
int check_method(const ArgList& in, int* method) {
  MatrixArg m;
  if (int st = in.fetch(kMethod, &m)) return st;
  if (has_missing(in.slot(kMethod))) return kStatusMissing;
  if (m.rows < 1 || m.cols < 1) return fail_message(kMsgDimension);
  if (m.rows > 1 && m.cols > 1) return fail_message(kMsgScalarOrVector);
  const double x = m.data[0];
  if (!(x >= 0.0 && x <= 2.0)) return kStatusRange;
  *method = static_cast<int>(x);
  return kStatusOk;
}

// The blocks of a spread array (order blocks, block j-1 at lag j) that are not
// zero, compacted with their lags, for the Kalman filter.
struct CompactPart {
  WorkBlock<double> blocks;
  WorkBlock<int> lags;
  int count = 0;
  int build(const double* spread, int order, int k) {
    const std::int64_t kk = std::int64_t(k) * k;
    if (int st = blocks.allocate(checked_mul(std::uint64_t(order), std::uint64_t(kk)))) return st;
    if (int st = lags.allocate(std::uint64_t(order))) return st;
    for (std::int64_t l = 1; l <= order; ++l) {
      const double* b = spread + (l - 1) * kk;
      bool nonzero = false;
      for (std::int64_t e = 0; e < kk && !nonzero; ++e) nonzero = b[e] != 0.0;
      if (!nonzero) continue;
      std::memcpy(blocks.data() + std::int64_t(count) * kk, b, sizeof(double) * std::size_t(kk));
      lags[count++] = static_cast<int>(l);
    }
    return kStatusOk;
  }
};

int varmalik(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  // The series: T x k, k >= 2; missing values allowed.
  MatrixArg y;
  if (int st = in.series(kSeries, &y)) return st;
  const int k = y.cols;
  const std::int64_t T = y.rows;
  const std::int64_t kk = std::int64_t(k) * k;
  int dim = k;

  // phi and theta, at least one of them.
  MatrixArg phi, theta;
  int p = 0, q = 0;
  if (in.given(kPhi))
    if (int st = in.coefficients(kPhi, "AR", &dim, &phi, &p)) return st;
  if (in.given(kTheta))
    if (int st = check_theta(in, &dim, &theta, &q)) return st;
  if (p == 0 && q == 0) return fail_message(kMsgNoCoefficients, {"coefficient"});

  // sigma: symmetric, positive definite; packed (and full for method 0).
  WorkBlock<double> sig_packed(std::uint64_t(packed_size(k)));
  if (!sig_packed) return sig_packed.status();
  WorkBlock<double> sig_full{std::uint64_t(kk)};
  if (!sig_full) return sig_full.status();
  MatrixArg sm;
  if (in.given(kSigma))
    if (int st = in.square(kSigma, &dim, &sm)) return st;
  if (int st = covariance_argument(in.given(kSigma) ? sm.data : nullptr, k, sig_packed.data()))
    return st;
  unpack_symmetric(sig_packed.data(), k, sig_full.data());

  // The lag lists, and the blocks spread over lags 1 .. pmax (qmax).
  LagList ar_lags, ma_lags;
  if (in.given(kArLags))
    if (int st = in.lag_list(kArLags, p, "AR", &ar_lags)) return st;
  if (in.given(kMaLags))
    if (int st = in.lag_list(kMaLags, q, "MA", &ma_lags)) return st;
  const int pmax = static_cast<int>(lag_order(ar_lags, p));
  const int qmax = static_cast<int>(lag_order(ma_lags, q));
  WorkBlock<double> ar(checked_mul(std::uint64_t(pmax), std::uint64_t(kk)));
  if (!ar) return ar.status();
  WorkBlock<double> ma(checked_mul(std::uint64_t(qmax), std::uint64_t(kk)));
  if (!ma) return ma.status();
  if (p > 0) spread_blocks(phi.data, p, k, ar_lags, ar.data());
  if (q > 0) spread_blocks(theta.data, q, k, ma_lags, ma.data());

  // The stationarity test of the AR part, on a copy.
  int nonstationary = 0;
  if (pmax > 0) {
    WorkBlock<double> copy(checked_mul(std::uint64_t(pmax), std::uint64_t(kk)));
    if (!copy) return copy.status();
    WorkBlock<double> roots(checked_mul(2 * std::uint64_t(k), std::uint64_t(pmax)));
    if (!roots) return roots.status();
    std::memcpy(copy.data(), ar.data(), sizeof(double) * std::size_t(pmax * kk));
    int roots_status = 0;
    nonstationary = is_nonstationary(copy.data(), pmax, pmax, nullptr, k, roots.data(),
                                     &roots_status);
    if (roots_status == kCompanionRootsHostError) return kStatusHostError;
    if (roots_status == kCompanionRootsCancelled) return cancelled();
  }

  // method: 0, 1 or 2 (the Kalman filter when absent).
  int method = kMethodKalman;
  if (in.given(kMethod))
    if (int st = check_method(in, &method)) return st;

  // Screening: a value above the series bound draws message 368 (column,
  // row, bound) and counts as missing from then on
  const bool missing = screen_series(y.data, T, k, false, nullptr);

  // Missing values, too short a series for the conditional method and a
  // non-stationary AR part for the innovations method all fall back to the
  // Kalman filter.
  if (missing || (method == kMethodConditional && pmax >= T) ||
      (method == kMethodInnovations && nonstationary))
    method = kMethodKalman;

  // Work space of the chosen method, before the output exists.
  CompactPart ar_c, ma_c;
  WorkBlock<double> gamma, work;
  WorkBlock<char> flags{std::uint64_t(k)};
  if (!flags) return flags.status();
  const int m0 = pmax > qmax ? pmax : qmax;
  if (method == kMethodKalman) {
    if (int st = ar_c.build(ar.data(), pmax, k)) return st;
    if (int st = ma_c.build(ma.data(), qmax, k)) return st;
  } else if (method == kMethodConditional) {
    if (int st = work.allocate(varma_cond_work_size(k, qmax))) return st;
  } else {
    if (int st = gamma.allocate(checked_mul(2 * std::uint64_t(m0), std::uint64_t(kk)))) return st;
    if (int st = work.allocate(varma_innov_work_size(T, k, pmax, qmax))) return st;
  }

  // The result, the series fetched again, the chosen method.
  double* out = create_result(1, 3, 1);
  if (!out) return kStatusHostError;
  const MatrixArg y2 = in.refetch(kSeries);
  if (!y2.data) return kStatusNoValue;
  switch (method) {
    case kMethodInnovations:
      // Gamma(0) .. Gamma(2m-1); a failed solve is the status
      if (m0 > 0)
        if (int st = varma_autocov(gamma.data(), 2 * std::int64_t(m0) - 1, sig_full.data(),
                                   ar.data(), ma.data(), pmax, qmax, k))
          return st;
      return varma_innov_loglik(&out[0], &out[1], &out[2], y2.data, T, k, ar.data(), pmax,
                                ma.data(), qmax, sig_full.data(), gamma.data(), work.data(),
                                flags.data());
    case kMethodConditional:
      return varma_cond_loglik(&out[0], &out[1], &out[2], y2.data, T, k, ar.data(), pmax,
                               ma.data(), qmax, sig_packed.data(), work.data(), flags.data());
    default:
      return varma_kalman_loglik(&out[0], &out[1], &out[2], y2.data, T, k, ar_c.blocks.data(),
                                 ar_c.count, pmax, ar_c.lags.data(), ma_c.blocks.data(),
                                 ma_c.count, qmax, ma_c.lags.data(), sig_packed.data());
  }
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t varmalik_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::varmalik(args, given); });
}
