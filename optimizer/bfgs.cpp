#include "optimizer/bfgs.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "abi/nlbrg_records.hpp"

namespace nlbrg {
namespace {

constexpr double kArmijo = 1e-4;  // sufficient-decrease constant c1
// Forward step sqrt(eps) and central step eps^(1/3), relative to max(|x_i|, s_i).
constexpr double kForwardStep = 0x1p-26;
constexpr double kCentralStep = 0x1.965fea53d6e3dp-18;  // 2^(-52/3), rounded
// The first step moves no free parameter by more than this share of s_i.
constexpr double kFirstStep = 0.1;
// Backtracking: the interpolated step stays within [0.1, 0.5] of the last.
constexpr double kShrinkLow = 0.1;
constexpr double kShrinkHigh = 0.5;
constexpr int kMaxBacktracks = 60;
constexpr int kSmallChangesToStop = 3;
// A typical size below this (a start of 1e-300) would make steps vanish.
constexpr double kMinTypical = 1e-12;
// s'y must exceed this multiple of |s| |y| for the update: a positive but
// vanishing curvature would make rho = 1 / s'y blow H up.
constexpr double kCurvatureFloor = 1e-12;
constexpr double kInf = std::numeric_limits<double>::infinity();

class Problem {
 public:
  Problem(std::int64_t n, const double* lower, const double* upper, EvalFn eval,
          EvalGradFn eval_gradient, void* user, double* best, BfgsStats* stats)
      : n_(n), lower_(lower), upper_(upper), eval_(eval), eval_gradient_(eval_gradient),
        user_(user), best_(best), stats_(stats) {}

  double lo(std::int64_t i) const { return lower_ ? lower_[i] : -kInf; }
  double hi(std::int64_t i) const { return upper_ ? upper_[i] : kInf; }
  double clamp(std::int64_t i, double v) const { return std::min(std::max(v, lo(i)), hi(i)); }
  bool fixed(std::int64_t i) const { return lo(i) == hi(i); }
  bool gives_gradient() const { return eval_gradient_ != nullptr; }

  // The previous iterate and its value: a backtracking step can land on it
  // exactly, and is then answered without evaluating it again.
  void remember(double* previous) { previous_ = previous; }
  void set_previous(const double* x, double f) {
    std::memcpy(previous_, x, sizeof(double) * std::size_t(n_));
    previous_f_ = f;
    have_previous_ = true;
  }

  // One evaluation; a non-finite value counts as a failure.  Keeps the best
  // point evaluated so far.
  bool evaluate(const double* x, double* f) {
    if (have_previous_ &&
        std::memcmp(x, previous_, sizeof(double) * std::size_t(n_)) == 0) {
      *f = previous_f_;
      return true;
    }
    ++stats_->evaluations;
    double v = 0.0;
    if (eval_(user_, x, &v) != 0 || !std::isfinite(v)) {
      ++stats_->failed;
      return false;
    }
    *f = v;
    keep_best(x, v);
    return true;
  }

  // One evaluation with its gradient (gives_gradient() only): *given says
  // whether g holds a gradient, finite in every entry but those of the
  // fixed parameters, which are set to 0.
  bool evaluate(const double* x, double* f, double* g, bool* given) {
    *given = false;
    ++stats_->evaluations;
    double v = 0.0;
    bool have = false;
    if (eval_gradient_(user_, x, &v, g, &have) != 0 || !std::isfinite(v)) {
      ++stats_->failed;
      return false;
    }
    for (std::int64_t i = 0; have && i < n_; ++i) have = fixed(i) || std::isfinite(g[i]);
    if (have) {
      ++stats_->analytic;
      for (std::int64_t i = 0; i < n_; ++i)
        if (fixed(i)) g[i] = 0.0;
    }
    *given = have;
    *f = v;
    keep_best(x, v);
    return true;
  }

  // The probe x_i + delta (clamped into the box): false when it does not
  // move x_i or fails to evaluate.
  bool probe(double* p, std::int64_t i, double xi, double delta, double* value, double* at) {
    const double v = clamp(i, xi + delta);
    if (v == xi) return false;
    p[i] = v;
    const bool ok = evaluate(p, value);
    p[i] = xi;
    *at = v;
    return ok;
  }

  // Finite-difference gradient at x (where the objective is f), forward or
  // central (see the header); failed[i] = 1 where no difference could be
  // formed (g_i is then 0).  Fixed parameters get g_i = 0 without probes.
  void gradient(const double* x, double f, const double* typical, bool central, double* g,
                double* failed, double* p) {
    const std::int64_t before = stats_->evaluations;
    std::memcpy(p, x, sizeof(double) * std::size_t(n_));
    for (std::int64_t i = 0; i < n_; ++i) {
      g[i] = 0.0;
      failed[i] = 0.0;
      if (fixed(i)) continue;
      const double xi = x[i];
      const double scale = std::max(std::fabs(xi), typical[i]);
      if (central)
        central_difference(p, i, xi, f, kCentralStep * scale, g, failed);
      else
        forward_difference(p, i, xi, f, kForwardStep * scale, g, failed);
    }
    stats_->gradient_evaluations += stats_->evaluations - before;
  }

  bool have_best() const { return have_best_; }
  double best_f() const { return best_f_; }

 private:
  void keep_best(const double* x, double v) {
    if (!have_best_ || v < best_f_) {
      std::memcpy(best_, x, sizeof(double) * std::size_t(n_));
      best_f_ = v;
      have_best_ = true;
    }
  }
  // (f(x + h e_i) - f(x - h e_i)) / (2h), one-sided where one probe fails.
  void central_difference(double* p, std::int64_t i, double xi, double f, double h, double* g,
                          double* failed) {
    double fu = 0.0, fd = 0.0, up = xi, dn = xi;
    const bool ok_up = probe(p, i, xi, h, &fu, &up);
    const bool ok_dn = probe(p, i, xi, -h, &fd, &dn);
    if (ok_up && ok_dn)
      g[i] = (fu - fd) / (up - dn);
    else if (ok_up)
      g[i] = (fu - f) / (up - xi);
    else if (ok_dn)
      g[i] = (f - fd) / (xi - dn);
    else
      failed[i] = 1.0;
  }
  // (f(x + h e_i) - f(x)) / h, backward where the forward probe fails.
  void forward_difference(double* p, std::int64_t i, double xi, double f, double h, double* g,
                          double* failed) {
    double fu = 0.0, fd = 0.0, up = xi, dn = xi;
    if (probe(p, i, xi, h, &fu, &up))
      g[i] = (fu - f) / (up - xi);
    else if (probe(p, i, xi, -h, &fd, &dn))
      g[i] = (f - fd) / (xi - dn);
    else
      failed[i] = 1.0;
  }

  std::int64_t n_;
  const double* lower_;
  const double* upper_;
  EvalFn eval_;
  EvalGradFn eval_gradient_;
  void* user_;
  double* best_;
  BfgsStats* stats_;
  bool have_best_ = false;
  double best_f_ = 0.0;
  double* previous_ = nullptr;
  bool have_previous_ = false;
  double previous_f_ = 0.0;
};

// H = c diag(d).
void set_scaled_identity(double* H, std::int64_t n, const double* d, double c) {
  std::fill(H, H + n * n, 0.0);
  for (std::int64_t i = 0; i < n; ++i) H[i * n + i] = c * d[i];
}

// The work space: H (n x n), then fifteen vectors of n.
struct Work {
  Work(double* work, std::int64_t n) {
    const std::size_t nn = std::size_t(n);
    H = work;
    double* v = H + nn * nn;
    for (double** p : {&g, &d, &xt, &gt, &s, &y, &hy, &best, &probe, &held, &gfail, &gtfail,
                       &typ, &dscale, &previous}) {
      *p = v;
      v += nn;
    }
  }
  double* H;
  double* g;         // gradient at x
  double* d;         // search direction
  double* xt;        // trial point
  double* gt;        // gradient at the accepted trial point
  double* s;         // x+ - x
  double* y;         // g+ - g
  double* hy;        // H y
  double* best;      // best point evaluated
  double* probe;     // gradient probes
  double* held;      // 1: parameter held this iteration
  double* gfail;     // 1: gradient entry failed at x
  double* gtfail;    // 1: gradient entry failed at the trial point
  double* typ;       // typical sizes s_i
  double* dscale;    // s_i^2, the diagonal of D
  double* previous;  // the previous iterate
};

// One run of the method: the state between its steps.
class Minimiser {
 public:
  Minimiser(std::int64_t n, double* x, const double* lower, const double* upper, EvalFn eval,
            void* user, const BfgsOptions& options, double* work, BfgsStats* stats)
      : n_(n), x_(x), o_(options), w_(work, n), stats_(stats),
        p_(n, lower, upper, eval, options.eval_gradient, user, w_.best, stats) {}

  // A result code of nlbrg_records.hpp; kStartFailed leaves x clamped.
  int run();
  // The best point evaluated into x, its value and the last difference
  // mode into the statistics.
  void finish() {
    std::memcpy(x_, w_.best, sizeof(double) * std::size_t(n_));
    stats_->f = p_.best_f();
    stats_->central = central_;
  }

 private:
  bool start();
  void gradient_at(const double* at, double f_at, double* g, double* fail);
  void scaled_steepest(const double* mask);
  double projected_gradient(bool* any_failed);
  double direction();
  bool backtrack(double* ft, bool* gt_given);
  void update();
  bool advance(double ft);

  std::int64_t n_;
  double* x_;
  const BfgsOptions& o_;
  Work w_;
  BfgsStats* stats_;
  Problem p_;
  double f_ = 0.0;
  bool central_ = false;  // differences are central (always with given gradients)
  bool fresh_ = true;     // H is a multiple of D (no curvature learnt yet)
  bool retried_ = false;
  int small_changes_ = 0;
};

// Finite-difference gradient at a point, forward or central as the run is.
void Minimiser::gradient_at(const double* at, double f_at, double* g, double* fail) {
  p_.gradient(at, f_at, w_.typ, central_, g, fail, w_.probe);
}

// H0 = c D with the step -H0 g at most kFirstStep s_i on every parameter
// whose mask entry is 0 (Nocedal and Wright's choice of H0 before any
// curvature is known, in units of the typical sizes).
void Minimiser::scaled_steepest(const double* mask) {
  double big = 0.0;
  for (std::int64_t i = 0; i < n_; ++i)
    if (mask[i] == 0.0) big = std::max(big, std::fabs(w_.g[i]) * w_.typ[i]);
  set_scaled_identity(w_.H, n_, w_.dscale, big > 0 ? kFirstStep / big : 1.0);
}

// Clamps the start into the box, sets the typical sizes, evaluates the
// start and its gradient and sets H0.  false when the start fails.
bool Minimiser::start() {
  for (std::int64_t i = 0; i < n_; ++i) {
    x_[i] = p_.clamp(i, x_[i]);
    const double t = o_.typical ? o_.typical[i] : (x_[i] == 0.0 ? 1.0 : std::fabs(x_[i]));
    w_.typ[i] = std::max(t, kMinTypical);
    w_.dscale[i] = w_.typ[i] * w_.typ[i];
  }
  std::memcpy(w_.best, x_, sizeof(double) * std::size_t(n_));
  p_.remember(w_.previous);
  if (p_.gives_gradient()) {
    central_ = true;
    bool given = false;
    if (!p_.evaluate(x_, &f_, w_.g, &given)) return false;
    if (given)
      std::fill(w_.gfail, w_.gfail + n_, 0.0);
    else
      gradient_at(x_, f_, w_.g, w_.gfail);
  } else {
    if (!p_.evaluate(x_, &f_)) return false;
    gradient_at(x_, f_, w_.g, w_.gfail);
  }
  scaled_steepest(w_.gfail);
  return true;
}

// The held set (fixed, gradient failed, or on a bound with the gradient
// pushing out) and the relative projected gradient over the rest,
// max |g_i| max(|x_i|, s_i) / max(|f|, 1).
double Minimiser::projected_gradient(bool* any_failed) {
  double rg = 0.0;
  *any_failed = false;
  const double* g = w_.g;
  for (std::int64_t i = 0; i < n_; ++i) {
    const bool h = p_.fixed(i) || w_.gfail[i] != 0.0 || (x_[i] <= p_.lo(i) && g[i] > 0) ||
                   (x_[i] >= p_.hi(i) && g[i] < 0);
    w_.held[i] = h ? 1.0 : 0.0;
    *any_failed = *any_failed || w_.gfail[i] != 0.0;
    if (!h) rg = std::max(rg, std::fabs(g[i]) * std::max(std::fabs(x_[i]), w_.typ[i]));
  }
  return rg / std::max(std::fabs(f_), 1.0);
}

// d = -H g on the free parameters; a scaled steepest descent where that is
// not a descent direction; the longest relative component capped.  Returns
// -g'd / 2 of the uncapped step, the decrease that the quadratic model
// predicts (0 where d is not a descent direction).
double Minimiser::direction() {
  const double* H = w_.H;
  const double* g = w_.g;
  double* d = w_.d;
  double gd = 0.0;
  for (std::int64_t i = 0; i < n_; ++i) {
    double v = 0.0;
    if (w_.held[i] == 0.0)
      for (std::int64_t j = 0; j < n_; ++j)
        if (w_.held[j] == 0.0) v -= H[i * n_ + j] * g[j];
    d[i] = v;
    gd += g[i] * v;
  }
  const double predicted = gd < 0 ? -0.5 * gd : 0.0;
  if (!(gd < 0)) {
    scaled_steepest(w_.held);
    fresh_ = true;
    for (std::int64_t i = 0; i < n_; ++i)
      d[i] = w_.held[i] != 0.0 ? 0.0 : -w_.H[i * n_ + i] * g[i];
  }
  double r = 0.0;
  for (std::int64_t i = 0; i < n_; ++i)
    r = std::max(r, std::fabs(d[i]) / std::max(std::fabs(x_[i]), w_.typ[i]));
  if (r > o_.max_relative_step) {
    const double c = o_.max_relative_step / r;
    for (std::int64_t i = 0; i < n_; ++i) d[i] *= c;
  }
  return predicted;
}

// Projected backtracking along x(t) = P(x + t d) from t = 1 with the
// Armijo condition f(x(t)) <= f + c1 g'(x(t) - x); the next t is the
// minimiser of the quadratic through f, the slope and f(x(t)), kept within
// [0.1, 0.5] of t (halving on a clamped path or after a failed
// evaluation).  True with the accepted point in xt and *ft; with given
// gradients *gt_given says whether gt holds the gradient there.
bool Minimiser::backtrack(double* ft, bool* gt_given) {
  double* xt = w_.xt;
  const double* g = w_.g;
  const bool with_gradient = p_.gives_gradient();
  *gt_given = false;
  double t = 1.0;
  for (int step = 0; step <= kMaxBacktracks; ++step) {
    bool moved = false;
    double dir = 0.0;  // g'(x(t) - x)
    bool clamped = false;
    for (std::int64_t i = 0; i < n_; ++i) {
      const double v = x_[i] + t * w_.d[i];
      xt[i] = p_.clamp(i, v);
      clamped = clamped || xt[i] != v;
      moved = moved || xt[i] != x_[i];
      dir += g[i] * (xt[i] - x_[i]);
    }
    if (!moved) return false;
    const bool ok = with_gradient ? p_.evaluate(xt, ft, w_.gt, gt_given) : p_.evaluate(xt, ft);
    if (!ok) {
      t *= kShrinkHigh;
      continue;
    }
    if (dir < 0 ? *ft <= f_ + kArmijo * dir : *ft < f_) return true;
    double next = kShrinkHigh * t;
    if (!clamped && dir < 0) {
      const double curv = *ft - f_ - dir;  // in units of t: q(t) = f + dir u + curv u^2
      if (curv > 0) next = t * (-dir / (2.0 * curv));
      next = std::min(std::max(next, kShrinkLow * t), kShrinkHigh * t);
    }
    t = next;
  }
  return false;
}

// s = xt - x and y = gt - g, zeroed on held parameters and where a gradient
// entry failed; when s'y > 0 (and not vanishing against |s| |y|) the BFGS
// update of the inverse Hessian,
//   H+ = H - rho (s (Hy)' + (Hy) s') + (rho^2 y'Hy + rho) s s',  rho = 1 / s'y,
// after H0 is rescaled to (s'y / y'D y) D at the first such pair.
void Minimiser::update() {
  double* s = w_.s;
  double* y = w_.y;
  double* H = w_.H;
  for (std::int64_t i = 0; i < n_; ++i) {
    const bool zero = w_.held[i] != 0.0 || w_.gtfail[i] != 0.0 || w_.gfail[i] != 0.0;
    s[i] = zero ? 0.0 : w_.xt[i] - x_[i];
    y[i] = zero ? 0.0 : w_.gt[i] - w_.g[i];
  }
  double sy = 0.0, ydy = 0.0, ss = 0.0, yy = 0.0;
  for (std::int64_t i = 0; i < n_; ++i) {
    sy += s[i] * y[i];
    ydy += y[i] * w_.dscale[i] * y[i];
    ss += s[i] * s[i];
    yy += y[i] * y[i];
  }
  if (!(sy > 0 && sy > kCurvatureFloor * std::sqrt(ss * yy))) return;
  if (fresh_) set_scaled_identity(H, n_, w_.dscale, sy / ydy);
  fresh_ = false;
  double yhy = 0.0;
  for (std::int64_t i = 0; i < n_; ++i) {
    double v = 0.0;
    for (std::int64_t j = 0; j < n_; ++j) v += H[i * n_ + j] * y[j];
    w_.hy[i] = v;
    yhy += y[i] * v;
  }
  const double rho = 1.0 / sy;
  const double c = rho * rho * yhy + rho;
  for (std::int64_t i = 0; i < n_; ++i)
    for (std::int64_t j = 0; j < n_; ++j)
      H[i * n_ + j] += c * s[i] * s[j] - rho * (s[i] * w_.hy[j] + w_.hy[i] * s[j]);
}

// Moves to the accepted point.  The relative decrease f - ft against
// ftol max(1, |f|): small three times running with central differences
// stops the run (true); small along a forward gradient says that its error
// steers the search, so the gradient is taken centrally from here on.
bool Minimiser::advance(double ft) {
  const std::size_t nn = std::size_t(n_);
  const double change = f_ - ft;
  const bool small = change <= o_.ftol * std::max(1.0, std::fabs(f_));
  small_changes_ = small && central_ ? small_changes_ + 1 : 0;
  p_.set_previous(x_, f_);
  std::memcpy(w_.gfail, w_.gtfail, sizeof(double) * nn);
  std::memcpy(x_, w_.xt, sizeof(double) * nn);
  std::memcpy(w_.g, w_.gt, sizeof(double) * nn);
  f_ = ft;
  if (small && !central_) {
    central_ = true;
    gradient_at(x_, f_, w_.g, w_.gfail);
  }
  return small_changes_ >= kSmallChangesToStop;
}

int Minimiser::run() {
  if (!start()) return kStartFailed;
  for (std::int64_t iter = 0;; ++iter) {
    bool any_failed = false;
    if (projected_gradient(&any_failed) <= o_.gtol) {
      // A forward gradient carries an error of about h f'' / 2, which can
      // hide a gradient larger than the tolerance: confirm by central
      // differences, and go on from here with them if the test then fails.
      if (!central_) {
        central_ = true;
        gradient_at(x_, f_, w_.g, w_.gfail);
        continue;
      }
      // With failed gradient entries the small rest proves nothing.
      return any_failed ? kNoProgress : kConvergedGradient;
    }
    if (iter >= o_.max_iterations) return kIterationLimit;
    stats_->iterations = iter + 1;
    const double predicted = direction();
    // With given gradients and curvature learnt: converged when the
    // quasi-Newton step promises less than the decrement tolerance.
    if (p_.gives_gradient() && !fresh_ &&
        predicted <= o_.decrement_tol * std::max(1.0, std::fabs(f_)))
      return kConvergedFunction;
    double ft = 0.0;
    bool gt_given = false;
    if (!backtrack(&ft, &gt_given)) {
      if (!central_) {  // forward differences too coarse here: central from now on
        central_ = true;
        gradient_at(x_, f_, w_.g, w_.gfail);
        continue;
      }
      if (fresh_ || retried_) return kNoProgress;
      retried_ = true;  // once more from a scaled steepest descent
      scaled_steepest(w_.gfail);
      fresh_ = true;
      continue;
    }
    retried_ = false;
    if (gt_given)
      std::fill(w_.gtfail, w_.gtfail + n_, 0.0);
    else
      gradient_at(w_.xt, ft, w_.gt, w_.gtfail);
    update();
    if (advance(ft)) return kConvergedFunction;
  }
}

}  // namespace

std::uint64_t bfgs_work_size(std::int64_t n) {
  if (n < 1) return 0;
  const std::uint64_t u = std::uint64_t(n);
  if (u > (std::uint64_t(1) << 31)) return std::numeric_limits<std::uint64_t>::max();
  return u * u + 15 * u;
}

int bfgs_minimise(std::int64_t n, double* x, const double* lower, const double* upper,
                  EvalFn eval, void* user, const BfgsOptions& options, double* work,
                  BfgsStats* stats) {
  *stats = BfgsStats{};
  if (n < 1 || !x || !eval || !work) return kBadSetup;
  for (std::int64_t i = 0; i < n; ++i) {
    const double lo = lower ? lower[i] : -kInf, hi = upper ? upper[i] : kInf;
    if (!(lo <= hi) || std::isnan(x[i])) return kBadSetup;
    if (options.typical && !(options.typical[i] > 0 && std::isfinite(options.typical[i])))
      return kBadSetup;
  }
  Minimiser m(n, x, lower, upper, eval, user, options, work, stats);
  const int code = m.run();
  if (code != kStartFailed) m.finish();
  return code;
}

}  // namespace nlbrg
