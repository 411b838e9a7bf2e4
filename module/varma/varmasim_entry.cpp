// VARMASIM(phi, theta, mu, sigma, n, p, q, initial, seed) -> n x k simulated
// VARMA series (fewer rows when a fixed-start series overflows).
#include <algorithm>
#include <cstring>

#include "module/frame/args.hpp"
#include "module/frame/room.hpp"
#include "module/frame/entries.hpp"
#include "module/linalg/covariance.hpp"
#include "module/varma/covariance_argument.hpp"
#include "module/varma/mvn_draw.hpp"
#include "module/varma/varma_autocov.hpp"
#include "module/varma/varma_parts.hpp"
#include "module/varma/varma_sim.hpp"

namespace mvtsa {
namespace {

using i64 = std::int64_t;
using u64 = std::uint64_t;

enum { kPhi = 0, kTheta = 1, kMu = 2, kSigma = 3, kN = 4, kP = 5, kQ = 6, kInitial = 7, kSeed = 8 };

struct SimModel {
  const double* phi;
  const double* theta;
  int p, q, k;
  i64 n;
  const double* packed_sigma;  // k (k+1) / 2
  double seed;
};

// The simulated series: rows first .. first+rows-1 of `series` are returned.
struct SimResult {
  WorkBlock<double> series;
  i64 first = 0;
  i64 rows = 0;
};

int draw(double* out, const SimModel& s, i64 count) {
  WorkBlock<double> work(u64(packed_size(s.k)) + u64(s.k));
  if (!work) return work.status();
  return mvn_draw(out, nullptr, s.packed_sigma, count, s.k, s.seed, work.data(),
                  Stream::kVarmasim);
}

// Fixed start: y_{1-p} .. y_0 and e_{1-q} .. e_0 all equal to x0.  The
// simulation stops (note 359) at the first observation with an element
// beyond 2^512 / 100.
int simulate_fixed(const SimModel& s, double x0, SimResult* r) {
  const i64 k = s.k, p = s.p, q = s.q, n = s.n;
  if (int st = r->series.allocate(checked_mul(u64(n + p), u64(k)))) return st;
  double* y = r->series.data();
  std::fill_n(y, p * k, x0);
  i64 done;
  if (q > 0) {
    // innovation history: q pre-sample rows, then n + p drawn (the first n used)
    WorkBlock<double> e(checked_mul(u64(q + n + p), u64(k)));
    if (!e) return e.status();
    std::fill_n(e.data(), q * k, x0);
    if (int st = draw(e.data() + q * k, s, n + p)) return st;
    done = varma_recursion(y, e.data(), q - p, p, p + n, s.phi, s.p, s.theta, s.q, s.k, true);
  } else {
    // draws straight into rows p .. p+n-1, transformed in place
    if (int st = draw(y + p * k, s, n)) return st;
    done = varma_recursion(y, y, 0, p, p + n, s.phi, s.p, nullptr, 0, s.k, true);
  }
  if (done < n) issue_message(kMsgOverflow, {static_cast<long long>(done + 1), kSeriesBound});
  r->first = p;
  r->rows = done;
  return kStatusOk;
}

// Stationary start of a pure MA model: n + q draws, the first q pre-sample.
int simulate_ma(const SimModel& s, SimResult* r) {
  const i64 k = s.k, q = s.q, n = s.n;
  if (int st = r->series.allocate(checked_mul(u64(n), u64(k)))) return st;
  WorkBlock<double> e(checked_mul(u64(n + q), u64(k)));
  if (!e) return e.status();
  if (int st = draw(e.data(), s, n + q)) return st;
  varma_recursion(r->series.data(), e.data(), q, 0, n, nullptr, 0, s.theta, s.q, s.k, false);
  r->first = 0;
  r->rows = n;
  return kStatusOk;
}

// Stationary start with an AR part: the stacked pre-sample vector
// w = (y_{1-p} .. y_0, e_{1-q} .. e_0) is drawn as F eta, F F' = Cov(w)
// (built from Gamma(0..p-1), Psi and S), eta standard normal.  One draw of
// p + q + n vectors with covariance S serves all: the first p + q are
// whitened (L_S^-1 z) to give eta, the rest are the innovations.  The
// output is rows 0 .. n-1: the p pre-sample observations, then the first
// n - p simulated ones.
int simulate_stationary(const SimModel& s, const double* full_sigma, SimResult* r) {
  const i64 k = s.k, p = s.p, q = s.q, n = s.n;
  const u64 kk = u64(k) * u64(k);
  // Gamma(0) .. Gamma(p) of the model with innovation covariance S
  WorkBlock<double> gam(checked_mul(kk, u64(p) + 1));
  if (!gam) return gam.status();
  if (int st = varma_autocov(gam.data(), p, full_sigma, s.phi, s.theta, s.p, s.q, s.k)) return st;
  // Psi_0 .. Psi_{q-1}
  WorkBlock<double> psi(checked_mul(kk, u64(std::max<i64>(q, 1))));
  if (!psi) return psi.status();
  WorkBlock<double> ps(checked_mul(kk, u64(std::max<i64>(q, 1))));
  if (!ps) return ps.status();
  varma_psi_weights(s.phi, s.p, s.theta, s.q, s.k, q, psi.data());
  // Cov(w), packed, and its Cholesky factor (pivots not tested)
  const u64 dim = checked_mul(u64(k), u64(p + q));
  WorkBlock<double> cov(checked_mul(dim, dim + 1) / 2);
  if (!cov) return cov.status();
  varma_presample_cov(cov.data(), gam.data(), psi.data(), full_sigma, s.p, s.q, s.k, ps.data());
  cholesky_packed(cov.data(), static_cast<int>(dim), kCholeskyTol);
  // the draws
  if (int st = r->series.allocate(checked_mul(u64(std::max(n, p)), u64(k)))) return st;
  WorkBlock<double> e(checked_mul(u64(p + q + n), u64(k)));
  if (!e) return e.status();
  if (int st = draw(e.data(), s, p + q + n)) return st;
  // eta = L_S^-1 z for the first p + q vectors (L_S as mvn_draw factored it), then w = F eta
  WorkBlock<double> ls(u64(packed_size(k)));
  if (!ls) return ls.status();
  std::memcpy(ls.data(), s.packed_sigma, sizeof(double) * packed_size(k));
  cholesky_packed(ls.data(), s.k, kCholeskyTol);
  whiten_draws(e.data(), p + q, ls.data(), s.k);
  lower_packed_times(cov.data(), i64(dim), e.data());
  // rows 0 .. p-1: y_{1-p} .. y_0; e rows p .. p+q-1 already hold e_{1-q} .. e_0
  double* y = r->series.data();
  std::memcpy(y, e.data(), sizeof(double) * u64(std::min(n, p) * k));
  // series row r (r >= p) takes innovation row r + q
  if (n > p) varma_recursion(y, e.data(), q, p, n, s.phi, s.p, s.theta, s.q, s.k, false);
  r->first = 0;
  r->rows = n;
  return kStatusOk;
}

int varmasim(void** args, const std::int32_t* given) {
  ArgList in(args, given);
  int k = 0;
  ModelPart ar, ma;
  // The coefficient matrices fix the dimension k; every other argument must agree.
  if (int st = in.coefficient_pair(kPhi, kTheta, &k, &ar.arg, &ar.count, &ma.arg, &ma.count))
    return st;
  // mu: a vector of k values when given.
  MatrixArg mu;
  if (in.given(kMu))
    if (int st = in.vector(kMu, &k, &mu)) return st;
  // sigma: k x k, symmetric and positive definite (I when absent), kept packed
  // (and unpacked for the stationary start).
  MatrixArg sigma;
  if (in.given(kSigma))
    if (int st = in.square(kSigma, &k, &sigma)) return st;
  WorkBlock<double> packed(u64(packed_size(k)));
  if (!packed) return packed.status();
  if (int st = covariance_argument(in.given(kSigma) ? sigma.data : nullptr, k, packed.data()))
    return st;
  // n: a whole number of observations, 100 when absent.
  std::int64_t n = 100;
  if (in.given(kN))
    if (int st = in.whole_number(kN, &n)) return st;
  // The AR and MA blocks, spread over their lags.
  if (int st = load_model_part(in, kP, "AR", k, &ar)) return st;
  if (int st = load_model_part(in, kQ, "MA", k, &ma)) return st;
  // A given initial value asks for the fixed start; the seed must not leave
  // the generator at 0.
  const bool initial_given = in.given(kInitial);
  double x0 = 0.0, seed = 0.0;
  if (initial_given)
    if (int st = in.seed(kInitial, &x0)) return st;
  if (in.given(kSeed))
    if (int st = in.seed(kSeed, &seed)) return st;
  if (int st = rng_check_seed(Stream::kVarmasim, seed)) return st;
  // Without an initial value a stationary AR part starts from its stationary
  // distribution; a non-stationary one starts fixed at zeros.
  bool fixed = initial_given;
  if (!fixed && ar.order > 0) {
    int nonstationary = 0;
    if (int st = ar_nonstationary(ar.blocks.data(), ar.order, k, &nonstationary)) return st;
    fixed = nonstationary != 0;
  }
  // The simulated series, its innovations and the result are live at once:
  // a size the host cannot give is refused before the stream moves.
  const i64 rows = n + ar.order + ma.order;
  if (int st = check_room({doubles(rows * k), doubles(rows * k), doubles(n * k)})) return st;
  // Simulate into work space: the result is made only for the rows that exist.
  const SimModel model{ar.blocks.data(), ma.blocks.data(), ar.order, ma.order, k, n,
                     packed.data(), seed};
  SimResult sim;
  int status;
  if (fixed) {
    status = simulate_fixed(model, x0, &sim);
  } else if (ar.order == 0) {
    status = simulate_ma(model, &sim);
  } else {
    WorkBlock<double> full(u64(k) * u64(k));
    if (!full) return full.status();
    unpack_symmetric(packed.data(), k, full.data());
    status = simulate_stationary(model, full.data(), &sim);
  }
  if (status != kStatusOk) return status;
  // the output, plus mu (fetched again after create_result)
  double* out = create_result(1, static_cast<std::int32_t>(sim.rows), k);
  if (!out) return kStatusHostError;
  const MatrixArg mu2 = in.refetch(kMu);
  const double* src = sim.series.data() + sim.first * k;
  std::memcpy(out, src, sizeof(double) * u64(sim.rows) * u64(k));
  if (mu2.data)
    for (i64 t = 0; t < sim.rows; ++t)
      for (int j = 0; j < k; ++j) out[t * k + j] += mu2.data[j];
  result_complete();
  return kStatusOk;
}

}  // namespace
}  // namespace mvtsa

extern "C" std::int32_t varmasim_entry(void** args, const std::int32_t* given) noexcept {
  return mvtsa::run_entry([&] { return mvtsa::varmasim(args, given); });
}
