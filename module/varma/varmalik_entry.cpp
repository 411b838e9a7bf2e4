// VARMALIK(series, phi, theta, sigma, p, q, method) -> 3 x 1 (log-likelihood,
// sum of log-determinants D, sum of quadratic forms S) by the innovations
// algorithm (0), the conditional likelihood (1) or the Kalman filter (2).
#include <cmath>
#include <cstring>

#include "module/frame/args.hpp"
#include "module/frame/entries.hpp"
#include "module/linalg/companion_roots.hpp"
#include "module/linalg/covariance.hpp"
#include "module/varma/covariance_argument.hpp"
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

// The series and the model as read: sigma packed (and full for the
// innovations method), the coefficient blocks spread over lags 1 .. pmax
// (qmax).
struct Model {
  MatrixArg y;
  int k = 0;
  std::int64_t T = 0;
  int pmax = 0, qmax = 0;
  WorkBlock<double> sig_packed, sig_full, ar, ma;
};

// series (T x k, k >= 2, missing values allowed), phi and theta (at least
// one), sigma (symmetric, positive definite), the lag lists; each checked
// as it is read, in this order.
int read_model(const ArgList& in, Model* m) {
  if (int st = in.series(kSeries, &m->y)) return st;
  const int k = m->k = m->y.cols;
  m->T = m->y.rows;
  const std::int64_t kk = std::int64_t(k) * k;
  int dim = k;
  MatrixArg phi, theta;
  int p = 0, q = 0;
  if (in.given(kPhi))
    if (int st = in.coefficients(kPhi, "AR", &dim, &phi, &p)) return st;
  if (in.given(kTheta))
    if (int st = check_theta(in, &dim, &theta, &q)) return st;
  if (p == 0 && q == 0) return fail_message(kMsgNoCoefficients, {"coefficient"});
  if (int st = m->sig_packed.allocate(std::uint64_t(packed_size(k)))) return st;
  if (int st = m->sig_full.allocate(std::uint64_t(kk))) return st;
  MatrixArg sm;
  if (in.given(kSigma))
    if (int st = in.square(kSigma, &dim, &sm)) return st;
  if (int st = covariance_argument(in.given(kSigma) ? sm.data : nullptr, k, m->sig_packed.data()))
    return st;
  unpack_symmetric(m->sig_packed.data(), k, m->sig_full.data());
  LagList ar_lags, ma_lags;
  if (in.given(kArLags))
    if (int st = in.lag_list(kArLags, p, "AR", &ar_lags)) return st;
  if (in.given(kMaLags))
    if (int st = in.lag_list(kMaLags, q, "MA", &ma_lags)) return st;
  m->pmax = static_cast<int>(lag_order(ar_lags, p));
  m->qmax = static_cast<int>(lag_order(ma_lags, q));
  if (int st = m->ar.allocate(checked_mul(std::uint64_t(m->pmax), std::uint64_t(kk)))) return st;
  if (int st = m->ma.allocate(checked_mul(std::uint64_t(m->qmax), std::uint64_t(kk)))) return st;
  if (p > 0) spread_blocks(phi.data, p, k, ar_lags, m->ar.data());
  if (q > 0) spread_blocks(theta.data, q, k, ma_lags, m->ma.data());
  return kStatusOk;
}

// The stationarity test of the AR part, on a copy: *nonstationary is 1 when
// a root lies on or outside the unit circle (or the roots fail).
int ar_nonstationary(const Model& m, int* nonstationary) {
  *nonstationary = 0;
  if (m.pmax == 0) return kStatusOk;
  const std::uint64_t kk = std::uint64_t(m.k) * std::uint64_t(m.k);
  WorkBlock<double> copy(checked_mul(std::uint64_t(m.pmax), kk));
  if (!copy) return copy.status();
  WorkBlock<double> roots(checked_mul(2 * std::uint64_t(m.k), std::uint64_t(m.pmax)));
  if (!roots) return roots.status();
  std::memcpy(copy.data(), m.ar.data(), sizeof(double) * std::size_t(m.pmax * kk));
  WorkBlock<double> work(is_nonstationary_work(copy.data(), m.pmax, m.pmax, nullptr, m.k));
  if (!work) return work.status();
  int roots_status = kCompanionRootsOk;
  *nonstationary = is_nonstationary(copy.data(), m.pmax, m.pmax, nullptr, m.k, roots.data(),
                                    work.data(), &roots_status);
  return roots_status == kCompanionRootsCancelled ? cancelled() : kStatusOk;
}

// method: 0, 1 or 2 (the Kalman filter when absent).  Missing values (a
// value above the series bound draws message 368 and counts as missing
// from then on), too short a series for the conditional method and a
// non-stationary AR part for the innovations method all fall back to the
// Kalman filter.
int choose_method(const ArgList& in, const Model& m, int nonstationary, int* method) {
  *method = kMethodKalman;
  if (in.given(kMethod))
    if (int st = check_method(in, method)) return st;
  const bool missing = screen_series(m.y.data, m.T, m.k, false, nullptr);
  if (missing || (*method == kMethodConditional && m.pmax >= m.T) ||
      (*method == kMethodInnovations && nonstationary))
    *method = kMethodKalman;
  return kStatusOk;
}

// The work space of the chosen method, taken before the output exists.
struct MethodWork {
  CompactPart ar_c, ma_c;
  WorkBlock<double> gamma, work;
  WorkBlock<char> flags;

  int allocate(int method, const Model& m) {
    const std::uint64_t kk = std::uint64_t(m.k) * std::uint64_t(m.k);
    if (int st = flags.allocate(std::uint64_t(m.k))) return st;
    const int m0 = m.pmax > m.qmax ? m.pmax : m.qmax;
    if (method == kMethodKalman) {
      if (int st = ar_c.build(m.ar.data(), m.pmax, m.k)) return st;
      return ma_c.build(m.ma.data(), m.qmax, m.k);
    }
    if (method == kMethodConditional) return work.allocate(varma_cond_work_size(m.k, m.qmax));
    if (int st = gamma.allocate(checked_mul(2 * std::uint64_t(m0), kk))) return st;
    return work.allocate(varma_innov_work_size(m.T, m.k, m.pmax, m.qmax));
  }
};

// out = (log-likelihood, sum of log-determinants, sum of quadratic forms)
// of the series y by the chosen method.
int compute(int method, const Model& m, MethodWork& w, const double* y, double* out) {
  const int k = m.k, pmax = m.pmax, qmax = m.qmax;
  const int m0 = pmax > qmax ? pmax : qmax;
  switch (method) {
    case kMethodInnovations:
      // Gamma(0) .. Gamma(2m-1); a failed solve is the status
      if (m0 > 0)
        if (int st = varma_autocov(w.gamma.data(), 2 * std::int64_t(m0) - 1, m.sig_full.data(),
                                   m.ar.data(), m.ma.data(), pmax, qmax, k))
          return st;
      return varma_innov_loglik(&out[0], &out[1], &out[2], y, m.T, k, m.ar.data(), pmax,
                                m.ma.data(), qmax, m.sig_full.data(), w.gamma.data(),
                                w.work.data(), w.flags.data());
    case kMethodConditional:
      return varma_cond_loglik(&out[0], &out[1], &out[2], y, m.T, k, m.ar.data(), pmax,
                               m.ma.data(), qmax, m.sig_packed.data(), w.work.data(),
                               w.flags.data());
    default:
      return varma_kalman_loglik(&out[0], &out[1], &out[2], y, m.T, k, w.ar_c.blocks.data(),
                                 w.ar_c.count, pmax, w.ar_c.lags.data(), w.ma_c.blocks.data(),
                                 w.ma_c.count, qmax, w.ma_c.lags.data(), m.sig_packed.data());
  }
}

int varmalik(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  Model m;
  if (int st = read_model(in, &m)) return st;
  int nonstationary = 0, method = kMethodKalman;
  if (int st = ar_nonstationary(m, &nonstationary)) return st;
  if (int st = choose_method(in, m, nonstationary, &method)) return st;
  MethodWork w;
  if (int st = w.allocate(method, m)) return st;
  // The result, and the series fetched again now that it exists.
  double* out = create_result(1, 3, 1);
  if (!out) return kStatusHostError;
  const MatrixArg y2 = in.refetch(kSeries);
  if (!y2.data) return kStatusNoValue;
  return compute(method, m, w, y2.data, out);
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t varmalik_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::varmalik(args, given); });
}
