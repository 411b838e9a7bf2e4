#include "optimizer/bfgs.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
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
  Problem(std::int64_t n, const double* lower, const double* upper, EvalFn eval, void* user,
          double* best, BfgsStats* stats)
      : n_(n), lower_(lower), upper_(upper), eval_(eval), user_(user), best_(best),
        stats_(stats) {}

  double lo(std::int64_t i) const { return lower_ ? lower_[i] : -kInf; }
  double hi(std::int64_t i) const { return upper_ ? upper_[i] : kInf; }
  double clamp(std::int64_t i, double v) const { return std::min(std::max(v, lo(i)), hi(i)); }
  bool fixed(std::int64_t i) const { return lo(i) == hi(i); }

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
    if (!have_best_ || v < best_f_) {
      std::memcpy(best_, x, sizeof(double) * std::size_t(n_));
      best_f_ = v;
      have_best_ = true;
    }
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
      double fu = 0.0, fd = 0.0, up = xi, dn = xi;
      if (central) {
        const double h = kCentralStep * scale;
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
      } else {
        const double h = kForwardStep * scale;
        if (probe(p, i, xi, h, &fu, &up))
          g[i] = (fu - f) / (up - xi);
        else if (probe(p, i, xi, -h, &fd, &dn))
          g[i] = (f - fd) / (xi - dn);
        else
          failed[i] = 1.0;
      }
    }
    stats_->gradient_evaluations += stats_->evaluations - before;
  }

  bool have_best() const { return have_best_; }
  double best_f() const { return best_f_; }

 private:
  std::int64_t n_;
  const double* lower_;
  const double* upper_;
  EvalFn eval_;
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
  // Work layout: H (n x n), then fifteen vectors of n.
  const std::size_t nn = std::size_t(n);
  double* H = work;
  double* g = H + nn * nn;    // gradient at x
  double* d = g + nn;         // search direction
  double* xt = d + nn;        // trial point
  double* gt = xt + nn;       // gradient at the accepted trial point
  double* s = gt + nn;        // x+ - x
  double* y = s + nn;         // g+ - g
  double* hy = y + nn;        // H y
  double* best = hy + nn;     // best point evaluated
  double* probe = best + nn;  // gradient probes
  double* held = probe + nn;  // 1: parameter held this iteration
  double* gfail = held + nn;  // 1: gradient entry failed at x
  double* gtfail = gfail + nn;  // 1: gradient entry failed at the trial point
  double* typ = gtfail + nn;    // typical sizes s_i
  double* dscale = typ + nn;    // s_i^2, the diagonal of D
  double* previous = dscale + nn;  // the previous iterate

  Problem p(n, lower, upper, eval, user, best, stats);
  p.remember(previous);
  for (std::int64_t i = 0; i < n; ++i) {
    x[i] = p.clamp(i, x[i]);
    const double t = options.typical ? options.typical[i]
                                     : (x[i] == 0.0 ? 1.0 : std::fabs(x[i]));
    typ[i] = std::max(t, kMinTypical);
    dscale[i] = typ[i] * typ[i];
  }
  std::memcpy(best, x, sizeof(double) * nn);

  double f = 0.0;
  if (!p.evaluate(x, &f)) return kStartFailed;
  bool central = false;
  p.gradient(x, f, typ, central, g, gfail, probe);

  // H0 = c D with the first step at most kFirstStep s_i on every free parameter.
  {
    double big = 0.0;
    for (std::int64_t i = 0; i < n; ++i)
      if (gfail[i] == 0.0) big = std::max(big, std::fabs(g[i]) * typ[i]);
    set_scaled_identity(H, n, dscale, big > 0 ? kFirstStep / big : 1.0);
  }
  bool fresh = true;  // H is a multiple of D (no curvature learnt yet)
  bool retried = false;
  int small_changes = 0;
  int code = kIterationLimit;
  for (std::int64_t iter = 0;; ++iter) {
    // Held set: fixed, gradient failed, or on a bound with the gradient
    // pushing out.  The relative projected gradient over the rest.
    double rg = 0.0;
    bool any_failed = false;
    for (std::int64_t i = 0; i < n; ++i) {
      const bool h = p.fixed(i) || gfail[i] != 0.0 || (x[i] <= p.lo(i) && g[i] > 0) ||
                     (x[i] >= p.hi(i) && g[i] < 0);
      held[i] = h ? 1.0 : 0.0;
      any_failed = any_failed || gfail[i] != 0.0;
      if (!h) rg = std::max(rg, std::fabs(g[i]) * std::max(std::fabs(x[i]), typ[i]));
    }
    rg /= std::max(std::fabs(f), 1.0);
    if (rg <= options.gtol) {
      // A forward gradient carries an error of about h f'' / 2, which can
      // hide a gradient larger than the tolerance: confirm by central
      // differences, and go on from here with them if the test then fails.
      if (!central) {
        central = true;
        p.gradient(x, f, typ, central, g, gfail, probe);
        continue;
      }
      // With failed gradient entries the small rest proves nothing.
      code = any_failed ? kNoProgress : kConvergedGradient;
      break;
    }
    if (iter >= options.max_iterations) {
      code = kIterationLimit;
      break;
    }
    stats->iterations = iter + 1;

    // d = -H g on the free parameters.
    double gd = 0.0;
    for (std::int64_t i = 0; i < n; ++i) {
      double v = 0.0;
      if (held[i] == 0.0)
        for (std::int64_t j = 0; j < n; ++j)
          if (held[j] == 0.0) v -= H[i * n + j] * g[j];
      d[i] = v;
      gd += g[i] * v;
    }
    if (!(gd < 0)) {  // not a descent direction: scaled steepest descent
      double big = 0.0;
      for (std::int64_t i = 0; i < n; ++i)
        if (held[i] == 0.0) big = std::max(big, std::fabs(g[i]) * typ[i]);
      set_scaled_identity(H, n, dscale, big > 0 ? kFirstStep / big : 1.0);
      fresh = true;
      for (std::int64_t i = 0; i < n; ++i) d[i] = held[i] != 0.0 ? 0.0 : -H[i * n + i] * g[i];
    }
    // Cap the relative change of the longest component.
    double r = 0.0;
    for (std::int64_t i = 0; i < n; ++i)
      r = std::max(r, std::fabs(d[i]) / std::max(std::fabs(x[i]), typ[i]));
    if (r > options.max_relative_step) {
      const double c = options.max_relative_step / r;
      for (std::int64_t i = 0; i < n; ++i) d[i] *= c;
    }

    // Backtracking along the clamped path x(t) = P(x + t d) from t = 1.
    double t = 1.0, ft = 0.0;
    bool accepted = false;
    for (int step = 0; step <= kMaxBacktracks; ++step) {
      bool moved = false;
      double dir = 0.0;  // g'(x(t) - x)
      bool clamped = false;
      for (std::int64_t i = 0; i < n; ++i) {
        const double v = x[i] + t * d[i];
        xt[i] = p.clamp(i, v);
        clamped = clamped || xt[i] != v;
        moved = moved || xt[i] != x[i];
        dir += g[i] * (xt[i] - x[i]);
      }
      if (!moved) break;
      if (!p.evaluate(xt, &ft)) {
        t *= kShrinkHigh;
        continue;
      }
      if (dir < 0 ? ft <= f + kArmijo * dir : ft < f) {
        accepted = true;
        break;
      }
      // The minimiser of the quadratic through f, its slope dir / t and ft,
      // kept within [0.1, 0.5] of t; halving on a clamped path.
      double next = kShrinkHigh * t;
      if (!clamped && dir < 0) {
        const double curv = ft - f - dir;  // in units of t: q(t) = f + dir u + curv u^2
        if (curv > 0) next = t * (-dir / (2.0 * curv));
        next = std::min(std::max(next, kShrinkLow * t), kShrinkHigh * t);
      }
      t = next;
    }
    if (!accepted) {
      if (!central) {  // forward differences too coarse here: central from now on
        central = true;
        p.gradient(x, f, typ, central, g, gfail, probe);
        continue;
      }
      if (fresh || retried) {
        code = kNoProgress;
        break;
      }
      retried = true;  // once more from a scaled steepest descent
      double big = 0.0;
      for (std::int64_t i = 0; i < n; ++i)
        if (gfail[i] == 0.0) big = std::max(big, std::fabs(g[i]) * typ[i]);
      set_scaled_identity(H, n, dscale, big > 0 ? kFirstStep / big : 1.0);
      fresh = true;
      continue;
    }
    retried = false;

    p.gradient(xt, ft, typ, central, gt, gtfail, probe);
    // s and y are zeroed on held parameters and where a gradient entry failed.
    for (std::int64_t i = 0; i < n; ++i) {
      const bool zero = held[i] != 0.0 || gtfail[i] != 0.0 || gfail[i] != 0.0;
      s[i] = zero ? 0.0 : xt[i] - x[i];
      y[i] = zero ? 0.0 : gt[i] - g[i];
    }
    double sy = 0.0, ydy = 0.0, ss = 0.0, yy = 0.0;
    for (std::int64_t i = 0; i < n; ++i) {
      sy += s[i] * y[i];
      ydy += y[i] * dscale[i] * y[i];
      ss += s[i] * s[i];
      yy += y[i] * y[i];
    }
    if (sy > 0 && sy > kCurvatureFloor * std::sqrt(ss * yy)) {
      if (fresh) set_scaled_identity(H, n, dscale, sy / ydy);  // H0 = (s'y / y'Dy) D
      fresh = false;
      // H+ = H - rho (s (Hy)' + (Hy) s') + (rho^2 y'Hy + rho) s s'
      double yhy = 0.0;
      for (std::int64_t i = 0; i < n; ++i) {
        double v = 0.0;
        for (std::int64_t j = 0; j < n; ++j) v += H[i * n + j] * y[j];
        hy[i] = v;
        yhy += y[i] * v;
      }
      const double rho = 1.0 / sy;
      const double c = rho * rho * yhy + rho;
      for (std::int64_t i = 0; i < n; ++i)
        for (std::int64_t j = 0; j < n; ++j)
          H[i * n + j] += c * s[i] * s[j] - rho * (s[i] * hy[j] + hy[i] * s[j]);
    }

    // A vanishing decrease along a forward gradient says that its error
    // steers the search: central differences from the next point on.
    const double change = f - ft;
    const bool small = change <= options.ftol * std::max(1.0, std::fabs(f));
    small_changes = small && central ? small_changes + 1 : 0;
    p.set_previous(x, f);
    std::memcpy(gfail, gtfail, sizeof(double) * nn);
    std::memcpy(x, xt, sizeof(double) * nn);
    std::memcpy(g, gt, sizeof(double) * nn);
    f = ft;
    if (small && !central) {
      central = true;
      p.gradient(x, f, typ, central, g, gfail, probe);
    }
    if (small_changes >= kSmallChangesToStop) {
      code = kConvergedFunction;
      break;
    }
  }
  std::memcpy(x, best, sizeof(double) * nn);
  stats->f = p.best_f();
  stats->central = central;
  return code;
}

}  // namespace nlbrg
