#include "optimizer/bfgs.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "optimizer/nlbrg_records.hpp"

namespace nlbrg {
namespace {

constexpr double kArmijo = 1e-4;       // sufficient-decrease constant c1
constexpr double kDiffStep = 1e-6;     // h_i = 1e-6 * max(1, |x_i|)
constexpr int kMaxHalvings = 60;
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

  // One evaluation; a non-finite value counts as a failure.  Keeps the best
  // point evaluated so far.
  bool evaluate(const double* x, double* f) {
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

  // Finite-difference gradient at x (where the objective is f).  Central
  // differences g_i = (f(x + h e_i) - f(x - h e_i)) / (2h) where both probes
  // lie in the box and evaluate; one-sided with f itself where only one
  // does; failed[i] = 1 where neither does (g_i is then 0).
  void gradient(const double* x, double f, double* g, double* failed, double* probe) {
    std::memcpy(probe, x, sizeof(double) * std::size_t(n_));
    for (std::int64_t i = 0; i < n_; ++i) {
      const double xi = x[i];
      const double h = kDiffStep * std::max(1.0, std::fabs(xi));
      double up = xi + h, dn = xi - h;
      bool use_up = up <= hi(i), use_dn = dn >= lo(i);
      if (!use_up && !use_dn) {  // a box narrower than 2h: the wider side
        const double room_up = hi(i) - xi, room_dn = xi - lo(i);
        if (room_up >= room_dn && room_up > 0) {
          up = hi(i);
          use_up = true;
        } else if (room_dn > 0) {
          dn = lo(i);
          use_dn = true;
        }
      }
      double fu = 0.0, fd = 0.0;
      bool ok_up = false, ok_dn = false;
      if (use_up) {
        probe[i] = up;
        ok_up = evaluate(probe, &fu);
      }
      if (use_dn) {
        probe[i] = dn;
        ok_dn = evaluate(probe, &fd);
      }
      probe[i] = xi;
      failed[i] = 0.0;
      if (ok_up && ok_dn) {
        g[i] = (fu - fd) / (up - dn);
      } else if (ok_up) {
        g[i] = (fu - f) / (up - xi);
      } else if (ok_dn) {
        g[i] = (f - fd) / (xi - dn);
      } else {
        g[i] = 0.0;
        failed[i] = 1.0;
      }
    }
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
};

void set_identity(double* h, std::int64_t n, double scale) {
  std::fill(h, h + n * n, 0.0);
  for (std::int64_t i = 0; i < n; ++i) h[i * n + i] = scale;
}

}  // namespace

std::uint64_t bfgs_work_size(std::int64_t n) {
  if (n < 1) return 0;
  const std::uint64_t u = std::uint64_t(n);
  if (u > (std::uint64_t(1) << 31)) return std::numeric_limits<std::uint64_t>::max();
  return u * u + 12 * u;
}

int bfgs_minimise(std::int64_t n, double* x, const double* lower, const double* upper,
                  EvalFn eval, void* user, const BfgsOptions& options, double* work,
                  BfgsStats* stats) {
  *stats = BfgsStats{};
  if (n < 1 || !x || !eval || !work) return kBadSetup;
  for (std::int64_t i = 0; i < n; ++i) {
    const double lo = lower ? lower[i] : -kInf, hi = upper ? upper[i] : kInf;
    if (!(lo <= hi) || std::isnan(x[i])) return kBadSetup;
  }
  // Work layout: H (n x n), then twelve vectors of n.
  const std::size_t nn = std::size_t(n);
  double* H = work;
  double* g = H + nn * nn;   // gradient at x
  double* d = g + nn;        // search direction
  double* xt = d + nn;       // trial point
  double* gt = xt + nn;      // gradient at the accepted trial point
  double* s = gt + nn;       // x+ - x
  double* y = s + nn;        // g+ - g
  double* hy = y + nn;       // H y
  double* best = hy + nn;    // best point evaluated
  double* probe = best + nn; // gradient probes
  double* held = probe + nn; // 1: parameter held this iteration
  double* gfail = held + nn; // 1: gradient entry failed at x
  double* gtfail = gfail + nn;  // 1: gradient entry failed at the trial point

  Problem p(n, lower, upper, eval, user, best, stats);
  for (std::int64_t i = 0; i < n; ++i) x[i] = p.clamp(i, x[i]);
  std::memcpy(best, x, sizeof(double) * nn);

  double f = 0.0;
  if (!p.evaluate(x, &f)) return kStartFailed;
  p.gradient(x, f, g, gfail, probe);

  set_identity(H, n, 1.0);
  bool identity = true;       // H is the (unscaled) identity
  int small_changes = 0;
  int code = kIterationLimit;
  for (std::int64_t iter = 0;; ++iter) {
    // Held set: gradient failed, or on a bound with the gradient pushing out.
    double gmax = 0.0;
    bool any_failed = false;
    for (std::int64_t i = 0; i < n; ++i) {
      const bool h = gfail[i] != 0.0 || p.lo(i) == p.hi(i) || (x[i] <= p.lo(i) && g[i] > 0) ||
                     (x[i] >= p.hi(i) && g[i] < 0);
      held[i] = h ? 1.0 : 0.0;
      any_failed = any_failed || gfail[i] != 0.0;
      if (!h) gmax = std::max(gmax, std::fabs(g[i]));
    }
    if (gmax <= options.gtol * std::max(1.0, std::fabs(f))) {
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
    if (!(gd < 0)) {  // not a descent direction: restart from steepest descent
      set_identity(H, n, 1.0);
      identity = true;
      for (std::int64_t i = 0; i < n; ++i) d[i] = held[i] != 0.0 ? 0.0 : -g[i];
    }
    // Cap the relative change of the longest component.
    double r = 0.0;
    for (std::int64_t i = 0; i < n; ++i)
      r = std::max(r, std::fabs(d[i]) / std::max(1.0, std::fabs(x[i])));
    if (r > options.max_relative_step) {
      const double c = options.max_relative_step / r;
      for (std::int64_t i = 0; i < n; ++i) d[i] *= c;
    }

    // Backtracking along the clamped path x(t) = P(x + t d), t = 1, 1/2, ...
    double t = 1.0, ft = 0.0;
    bool accepted = false;
    for (int halving = 0; halving <= kMaxHalvings; ++halving, t *= 0.5) {
      bool moved = false;
      double dir = 0.0;  // g'(x(t) - x)
      for (std::int64_t i = 0; i < n; ++i) {
        xt[i] = p.clamp(i, x[i] + t * d[i]);
        moved = moved || xt[i] != x[i];
        dir += g[i] * (xt[i] - x[i]);
      }
      if (!moved) break;
      if (!p.evaluate(xt, &ft)) continue;
      if (dir < 0 ? ft <= f + kArmijo * dir : ft < f) {
        accepted = true;
        break;
      }
    }
    if (!accepted) {
      if (identity) {
        code = kNoProgress;
        break;
      }
      set_identity(H, n, 1.0);  // retry once from steepest descent
      identity = true;
      continue;
    }

    p.gradient(xt, ft, gt, gtfail, probe);
    // s and y are zeroed on held parameters and where a gradient entry failed.
    for (std::int64_t i = 0; i < n; ++i) {
      const bool zero = held[i] != 0.0 || gtfail[i] != 0.0 || gfail[i] != 0.0;
      s[i] = zero ? 0.0 : xt[i] - x[i];
      y[i] = zero ? 0.0 : gt[i] - g[i];
    }
    double sy = 0.0, yy = 0.0, ss = 0.0;
    for (std::int64_t i = 0; i < n; ++i) {
      sy += s[i] * y[i];
      yy += y[i] * y[i];
      ss += s[i] * s[i];
    }
    if (sy > 0 && sy > kCurvatureFloor * std::sqrt(ss * yy)) {
      if (identity) set_identity(H, n, sy / yy);  // H0 = (s'y / y'y) I
      identity = false;
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

    const double change = f - ft;
    small_changes = change <= options.ftol * std::max(1.0, std::fabs(f)) ? small_changes + 1 : 0;
    std::memcpy(gfail, gtfail, sizeof(double) * nn);
    std::memcpy(x, xt, sizeof(double) * nn);
    std::memcpy(g, gt, sizeof(double) * nn);
    f = ft;
    if (small_changes >= 2) {
      code = kConvergedFunction;
      break;
    }
  }
  std::memcpy(x, best, sizeof(double) * nn);
  stats->f = p.best_f();
  return code;
}

}  // namespace nlbrg
